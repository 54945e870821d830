#include "Capabilities.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "DeviceSchemes.h"
#include "Drivers.h"
#include "IppEverywhere.h"
#include "JobCallbacks.h"
#include "Identify.h"
#include "JobSettings.h"
#include "PrinterStatus.h"

namespace bandrill_app {

namespace {

pappl_media_tracking_t TrackingOf(const char* ipp)
{
    const std::string t = ipp ? ipp : "";
    if (t == "continuous")
        return PAPPL_MEDIA_TRACKING_CONTINUOUS;
    if (t == "gap")
        return PAPPL_MEDIA_TRACKING_GAP;
    if (t == "mark")
        return PAPPL_MEDIA_TRACKING_MARK;
    return 0;
}

void AddVendor(pappl_pr_driver_data_t* data, const char* attr)
{
    if (data->num_vendor < PAPPL_MAX_VENDOR)
        data->vendor[data->num_vendor++] = attr;
}

// A vendor attribute of a setting: its supported values (what the driver's
// PPD offers) and its default (the PPD's).
void AddVendorAttribute(const SettingRow& row, const OfferedSetting& offer,
                        pappl_pr_driver_data_t* data, ipp_t* attrs)
{
    if (data->num_vendor >= PAPPL_MAX_VENDOR)
        return;
    const std::string sup = std::string(row.attr) + "-supported";
    const std::string def = std::string(row.attr) + "-default";
    switch (row.kind) {
    case SettingRow::kChoice: {
        std::vector<const char*> values;
        for (const SettingChoice& c : row.choices)
            if (c.ipp && offer.Offers(c.ppd))
                values.push_back(c.ipp);
        const SettingChoice* d = row.ChoiceForPpd(offer.defaultChoice);
        ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, sup.c_str(),
                      static_cast<int>(values.size()), nullptr, values.data());
        ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, def.c_str(), nullptr,
                     d && d->ipp ? d->ipp : "");
        break;
    }
    case SettingRow::kInteger: {
        int lo = row.min, hi = row.max;
        offer.Range(lo, hi);
        ippAddRange(attrs, IPP_TAG_PRINTER, sup.c_str(), lo, hi);
        ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, def.c_str(),
                      ParseSettingChoice(row, offer.defaultChoice).value);
        break;
    }
    case SettingRow::kBoolean: {
        const SettingChoice* d = row.ChoiceForPpd(offer.defaultChoice);
        ippAddBoolean(attrs, IPP_TAG_PRINTER, sup.c_str(), 1);
        ippAddBoolean(attrs, IPP_TAG_PRINTER, def.c_str(), d && d->value != 0);
        break;
    }
    }
    AddVendor(data, row.attr);
}

// The qualifier of media-tracking: where the PPD offers media sensing
// IPP has no value for.
void AddTrackingQualifier(const SettingRow& row, const OfferedSetting& offer,
                          pappl_pr_driver_data_t* data, ipp_t* attrs)
{
    std::vector<const char*> values = {kFollowMediaTracking};
    for (const std::string& c : offer.choices) {
        const SettingChoice* choice = row.ChoiceForPpd(c);
        if (choice && choice->ipp && !TrackingOf(choice->ipp))
            values.push_back(choice->ipp);
    }
    if (values.size() < 2 || data->num_vendor >= PAPPL_MAX_VENDOR)
        return;
    const std::string attr = row.attr;
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, (attr + "-supported").c_str(),
                  static_cast<int>(values.size()), nullptr, values.data());
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, (attr + "-default").c_str(), nullptr,
                 kFollowMediaTracking);
    AddVendor(data, row.attr);
}

// The qualifier of the darkness: the printer's own, or the IPP one.
void AddDarknessQualifier(const SettingRow& row, pappl_pr_driver_data_t* data, ipp_t* attrs)
{
    if (data->num_vendor >= PAPPL_MAX_VENDOR)
        return;
    const char* const values[] = {kDarknessPrinter, kDarknessConfigured};
    const std::string attr = row.attr;
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, (attr + "-supported").c_str(), 2,
                  nullptr, values);
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, (attr + "-default").c_str(), nullptr,
                 kDarknessPrinter);
    AddVendor(data, row.attr);
}

void AddMedia(const Driver& driver, pappl_pr_driver_data_t* data)
{
    data->num_media = 0;
    const char* defaultMedia = nullptr;
    for (const MediaSize& m : driver.media) {
        data->media[data->num_media++] = m.pwg.c_str();
        if (m.isDefault)
            defaultMedia = m.pwg.c_str();
    }
    data->media[data->num_media++] = driver.rangeMin.c_str();
    data->media[data->num_media++] = driver.rangeMax.c_str();

    data->num_source = 1;
    data->source[0] = driver.roll ? "main-roll" : "main";
    data->num_type = 1;
    data->type[0] = driver.roll ? "continuous" : "labels";

    // Media tracking: the choices of zeMediaTracking IPP has values for.
    data->tracking_supported = PAPPL_MEDIA_TRACKING_CONTINUOUS;
    pappl_media_tracking_t trackingDefault = PAPPL_MEDIA_TRACKING_CONTINUOUS;
    if (const OfferedSetting* tracking = driver.Find("zeMediaTracking")) {
        data->tracking_supported = 0;
        for (const std::string& c : tracking->choices) {
            const SettingChoice* choice = tracking->row->ChoiceForPpd(c);
            const pappl_media_tracking_t t = TrackingOf(choice ? choice->ipp : nullptr);
            data->tracking_supported |= t;
            if (c == tracking->defaultChoice && t)
                trackingDefault = t;
        }
    }

    pappl_media_col_t& media = data->media_default;
    std::memset(&media, 0, sizeof media);
    if (pwg_media_t* pwg = pwgMediaForPWG(defaultMedia)) {
        media.size_width = pwg->width;
        media.size_length = pwg->length;
    }
    std::snprintf(media.size_name, sizeof media.size_name, "%s", defaultMedia);
    std::snprintf(media.source, sizeof media.source, "%s", data->source[0]);
    std::snprintf(media.type, sizeof media.type, "%s", data->type[0]);
    // Margins of 0.01 mm: with none CUPS names every size borderless and
    // falls back to Letter.
    media.bottom_margin = media.top_margin = 1;
    media.left_margin = media.right_margin = 1;
    media.tracking = trackingDefault;
    data->media_ready[0] = media;
}

} // namespace

bool DriverCallback(pappl_system_t* system, const char* driver_name, const char* device_uri,
                    const char*, pappl_pr_driver_data_t* data, ipp_t** attrs, void*)
{
    const Driver* driver = FindDriver(driver_name);
    if (!driver) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unknown driver '%s'.", driver_name);
        return false;
    }
    // A new printer's device is checked here; a printer of the saved state
    // is kept (its jobs fail with the reason) rather than dropped.
    std::string why;
    if (!CheckNewDeviceUri(device_uri, why)) {
        if (papplSystemIsRunning(system)) {
            papplLog(system, PAPPL_LOGLEVEL_ERROR, "Printer not added: device '%s': %s",
                     device_uri ? device_uri : "", why.c_str());
            return false;
        }
        papplLog(system, PAPPL_LOGLEVEL_WARN, "Device '%s': %s", device_uri ? device_uri : "",
                 why.c_str());
    }

    data->printfile_cb = PrintFile;
    data->rstartjob_cb = StartJob;
    data->rstartpage_cb = StartPage;
    data->rwriteline_cb = WriteLine;
    data->rendpage_cb = EndPage;
    data->rendjob_cb = EndJob;
    data->testpage_cb = TestPage;
    data->status_cb = StatusCallback;
    SetIdentify(*driver->family, data);
    data->format = driver->family->rawFormat;
    std::snprintf(data->make_and_model, sizeof data->make_and_model, "%s", driver->description);
    data->ppm = 10;
    data->kind = driver->roll ? static_cast<pappl_kind_t>(PAPPL_KIND_RECEIPT | PAPPL_KIND_ROLL)
                              : static_cast<pappl_kind_t>(PAPPL_KIND_LABEL);
    data->orient_default = IPP_ORIENT_NONE;
    data->color_supported = PAPPL_COLOR_MODE_MONOCHROME;
    data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
    // 8-bit grey only: the back ends halftone, PAPPL must not.
    data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
    data->force_raster_type = PAPPL_PWG_RASTER_TYPE_NONE;
    data->duplex = PAPPL_DUPLEX_NONE;
    data->sides_supported = PAPPL_SIDES_ONE_SIDED;
    data->sides_default = PAPPL_SIDES_ONE_SIDED;
    data->num_resolution = 1;
    data->x_resolution[0] = data->y_resolution[0] = driver->dpi;
    data->x_default = data->y_default = driver->dpi;
    data->borderless = false;
    data->left_right = 1;
    data->bottom_top = 1;
    AddMedia(*driver, data);

    if (const int levels = DarknessLevels(*driver)) {
        data->darkness_supported = levels;
        // The middle level, as one of the percentages PAPPL's web page
        // offers (a value it cannot show, it replaces with 0 on every save).
        data->darkness_configured = levels > 1 ? 100 * (levels / 2) / (levels - 1) : 50;
        data->darkness_default = 0;
    }
    if (const int ips = SpeedMax(*driver)) {
        data->speed_supported[0] = 2540;
        data->speed_supported[1] = ips * 2540;
        data->speed_default = 0;
    }

    // Vendor attributes for the settings the driver's PPD lets people
    // choose, image settings first; settings that come from a standard
    // attribute get their qualifier, if any.
    *attrs = ippNew();
    data->num_vendor = 0;
    // The documents' settings first: they always get one of PAPPL's slots.
    for (const SettingRow& row : DocumentSettings())
        if (const OfferedSetting* offer = driver->Find(row.keyword))
            AddVendorAttribute(row, *offer, data, *attrs);
    for (const SettingRow::Group group : {SettingRow::kImage, SettingRow::kPrinter})
        for (const SettingRow& row : PrinterSettings()) {
            const OfferedSetting* offer = driver->Find(row.keyword);
            if (row.group != group || !row.attr || !offer)
                continue;
            const std::string standard = row.standard ? row.standard : "";
            if (standard == "media-tracking")
                AddTrackingQualifier(row, *offer, data, *attrs);
            else if (standard == "print-darkness")
                AddDarknessQualifier(row, data, *attrs);
            else if (driver->Offers(row))
                AddVendorAttribute(row, *offer, data, *attrs);
        }
    AddStatusAttributes(driver->family->statusQuery, data, *attrs);
    AddIppEverywhereAttributes(*driver, *attrs);
    return true;
}

} // namespace bandrill_app
