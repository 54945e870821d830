#include "JobSettings.h"

#include <cstdlib>
#include <cstring>

#include "IppEverywhere.h"

namespace bandrill_app {

namespace {

bool IsRaster(const char* format)
{
    return format && (!std::strcmp(format, "image/pwg-raster") || !std::strcmp(format, "image/urf"));
}

bool IsText(ipp_attribute_t* attr)
{
    const ipp_tag_t tag = ippGetValueTag(attr);
    return tag == IPP_TAG_KEYWORD || tag == IPP_TAG_NAME || tag == IPP_TAG_TEXT;
}

std::string Keyword(ipp_attribute_t* attr)
{
    const char* s = IsText(attr) ? ippGetString(attr, 0, nullptr) : nullptr;
    return s ? s : "";
}

// An integer, also from a client that sent it as text.
bool Integer(ipp_attribute_t* attr, int& value)
{
    const ipp_tag_t tag = ippGetValueTag(attr);
    if (tag == IPP_TAG_INTEGER || tag == IPP_TAG_ENUM) {
        value = ippGetInteger(attr, 0);
        return true;
    }
    const std::string text = Keyword(attr);
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || n < -2147483647L || n > 2147483647L)
        return false;
    value = static_cast<int>(n);
    return true;
}

bool Boolean(ipp_attribute_t* attr, bool& value)
{
    if (ippGetValueTag(attr) == IPP_TAG_BOOLEAN) {
        value = ippGetBoolean(attr, 0) != 0;
        return true;
    }
    const std::string text = Keyword(attr);
    value = text == "true";
    return value || text == "false";
}

// 0 to 100 (clamped) onto levels 0 to levels - 1.
int DarknessLevel(int levels, int darkness)
{
    darkness = darkness < 0 ? 0 : darkness > 100 ? 100 : darkness;
    return (darkness * (levels - 1) + 50) / 100;
}

// The Rotate choice of an orientation, or null for one that says nothing.
const char* RotateChoice(ipp_orient_t o)
{
    switch (o) {
    case IPP_ORIENT_PORTRAIT:
        return "0";
    case IPP_ORIENT_REVERSE_PORTRAIT:
        return "1";
    case IPP_ORIENT_LANDSCAPE:
        return "2";
    case IPP_ORIENT_REVERSE_LANDSCAPE:
        return "3";
    default:
        return nullptr;
    }
}

const char* TrackingKeyword(pappl_media_tracking_t t)
{
    switch (t) {
    case PAPPL_MEDIA_TRACKING_CONTINUOUS:
        return "continuous";
    case PAPPL_MEDIA_TRACKING_GAP:
        return "gap";
    case PAPPL_MEDIA_TRACKING_MARK:
        return "mark";
    default:
        return "";
    }
}

} // namespace

const char* const kFollowMediaTracking = "media-tracking";
const char* const kDarknessPrinter = "printer";
const char* const kDarknessConfigured = "configured";

const char* ImpliedDarknessQualifier(pappl_printer_t* printer, const pappl_pr_driver_data_t& next,
                                     int num_vendor, cups_option_t* vendor)
{
    const SettingRow* row = FindSetting("Darkness");
    const std::string def = std::string(row->attr) + "-default";
    ipp_t* attrs = papplPrinterGetDriverAttributes(printer);
    const char* current = ippGetString(ippFindAttribute(attrs, def.c_str(), IPP_TAG_KEYWORD), 0, nullptr);
    const std::string was = current ? current : "";
    ippDelete(attrs);
    pappl_pr_driver_data_t now;
    papplPrinterGetDriverData(printer, &now);
    const char* given = cupsGetOption(row->attr, num_vendor, vendor);
    if (was.empty() || was == kDarknessConfigured ||
        next.darkness_configured == now.darkness_configured || (given && was != given))
        return nullptr;
    return kDarknessConfigured;
}

CJobSettings::CJobSettings(const Driver& driver, pappl_job_t* job, pappl_pr_options_t* options)
    : m_driver(driver), m_job(job), m_options(options),
      // The printer's defaults of the vendor attributes: PAPPL keeps them in
      // the driver attributes but hands a job only the values it carries.
      m_printerAttrs(papplPrinterGetDriverAttributes(papplJobGetPrinter(job)))
{
}

CJobSettings::~CJobSettings()
{
    ippDelete(m_printerAttrs);
}

ipp_attribute_t* CJobSettings::Attribute(const char* name) const
{
    if (!name)
        return nullptr;
    if (ipp_attribute_t* attr = papplJobGetAttribute(m_job, name))
        return attr;
    const std::string def = std::string(name) + "-default";
    return m_printerAttrs ? ippFindAttribute(m_printerAttrs, def.c_str(), IPP_TAG_ZERO) : nullptr;
}

SettingValue CJobSettings::Offered(const OfferedSetting& offer, const SettingChoice* choice)
{
    return choice && offer.Offers(choice->ppd) ? SettingValue::Of(choice->value) : SettingValue::None();
}

SettingValue CJobSettings::Value(const SettingRow& row)
{
    SettingValue v;
    if (row.source == SettingRow::kAttribute) {
        // The printer's own properties: the head width.
        if (std::strcmp(row.keyword, "bandrillHeadDots") == 0)
            v = SettingValue::Of(m_driver.headDots);
    } else if (const OfferedSetting* offer = m_driver.Find(row.keyword)) {
        const std::string standard = row.standard ? row.standard : "";
        if (standard == "media-tracking")
            v = MediaTracking(row, *offer);
        else if (standard == "print-darkness")
            v = Darkness(*offer);
        else if (standard == "print-speed")
            v = Speed();
        else if (std::strcmp(row.keyword, "Rotate") == 0)
            v = Rotation(row, *offer);
        else if (std::strcmp(row.keyword, "CutMode") == 0)
            v = Cut(row, *offer);
        else
            v = Vendor(row, *offer);
        if (v.state == SettingValue::kNone)
            v = ParseSettingChoice(row, offer->defaultChoice);
    }
    if (v.state == SettingValue::kValue)
        m_log.push_back(std::string(row.keyword) + "=" + std::to_string(v.value));
    return v;
}

SettingValue CJobSettings::Vendor(const SettingRow& row, const OfferedSetting& offer) const
{
    ipp_attribute_t* attr = Attribute(row.attr);
    if (!attr)
        return SettingValue::None();
    switch (row.kind) {
    case SettingRow::kInteger: {
        // Any number within the setting's range: the filter takes numbers
        // its PPD does not list too.
        int n = 0;
        if (Integer(attr, n) && n >= row.min && n <= row.max)
            return SettingValue::Of(n);
        return SettingValue::None();
    }
    case SettingRow::kBoolean: {
        bool b = false;
        if (!Boolean(attr, b))
            return SettingValue::None();
        for (const SettingChoice& c : row.choices)
            if (c.value == (b ? 1 : 0))
                return Offered(offer, &c);
        return SettingValue::None();
    }
    case SettingRow::kChoice:
        return Offered(offer, row.ChoiceForIpp(Keyword(attr)));
    }
    return SettingValue::None();
}

// Continuous, gap and mark from media-tracking; the vendor attribute picks
// what IPP has no value for (perforated, recording).
SettingValue CJobSettings::MediaTracking(const SettingRow& row, const OfferedSetting& offer) const
{
    ipp_attribute_t* attr = Attribute(row.attr);
    const std::string vendor = attr ? Keyword(attr) : "";
    if (vendor == "perforated" || vendor == "recording")
        return Offered(offer, row.ChoiceForIpp(vendor));
    return Offered(offer, row.ChoiceForIpp(TrackingKeyword(m_options->media.tracking)));
}

// The printer's own darkness unless the job asks for one (print-darkness)
// or the printer is set to use printer-darkness-configured.
SettingValue CJobSettings::Darkness(const OfferedSetting& offer) const
{
    ipp_attribute_t* attr = Attribute(offer.row->attr);
    const bool ipp = (attr && Keyword(attr) == kDarknessConfigured) ||
                     papplJobGetAttribute(m_job, "print-darkness") != nullptr;
    if (!ipp)
        return SettingValue::None();
    const int level = DarknessLevel(DarknessLevels(m_driver),
                                    m_options->darkness_configured + m_options->print_darkness);
    return offer.Offers(std::to_string(level)) ? SettingValue::Of(level) : SettingValue::None();
}

// print-speed in hundredths of a millimetre a second, to whole inches.
SettingValue CJobSettings::Speed() const
{
    if (m_options->print_speed <= 0)
        return SettingValue::None();
    int ips = (m_options->print_speed + 1270) / 2540;
    ips = ips < 1 ? 1 : ips > SpeedMax(m_driver) ? SpeedMax(m_driver) : ips;
    return SettingValue::Of(ips);
}

// The job's own cut mode, else where its finishings trim, else the
// printer's cut mode (finishings none leaves it to the printer).
SettingValue CJobSettings::Cut(const SettingRow& row, const OfferedSetting& offer) const
{
    if (!papplJobGetAttribute(m_job, row.attr))
        if (const char* mode = CutModeForFinishings(m_job))
            return Offered(offer, row.ChoiceForPpd(mode));
    return Vendor(row, offer);
}

// bandrill-rotate, or on raster documents orientation-requested (PAPPL
// turns images itself).
SettingValue CJobSettings::Rotation(const SettingRow& row, const OfferedSetting& offer) const
{
    if (IsRaster(papplJobGetFormat(m_job)) && papplJobGetAttribute(m_job, "orientation-requested"))
        if (const char* choice = RotateChoice(m_options->orientation_requested))
            return Offered(offer, row.ChoiceForPpd(choice));
    return Vendor(row, offer);
}

int PrinterCopies(const Driver& driver, pappl_job_t* job, pappl_pr_options_t* options)
{
    const SettingRow* row = FindDocumentSettingByAttr("bandrill-printer-copies");
    if (!row || !options || options->copies < 2)
        return 1;
    // PAPPL 1.3.1 prints a raster job's pages once whatever its copies: the
    // printer makes them, or they would be lost.
    if (IsRaster(papplJobGetFormat(job)))
        return options->copies;
    CJobSettings settings(driver, job, options);
    const SettingValue v = settings.Value(*row);
    return v.state == SettingValue::kValue && v.value != 0 ? options->copies : 1;
}

} // namespace bandrill_app
