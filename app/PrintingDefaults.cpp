// The printer's "Printing Defaults" page, in place of PAPPL's (the link
// wraps _papplPrinterWebDefaults, app/CMakeLists.txt). PAPPL 1.3.1's page
// is one flat list of every control it knows, colour, quality, scaling and
// content optimisation included, which do nothing for these printers, and
// draws its own darkness select beside the application's choice of whose
// darkness applies. This one shows what the driver has, in three groups
// (media and position, image, printer), with one darkness control whose
// first choice is the printer's own setting. It saves through
// papplPrinterSetDriverDefaults, so the values are checked as IPP's are.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <pappl/pappl.h>

#include "Drivers.h"
#include "Icons.h"
#include "JobSettings.h"
#include "PrinterSettings.h"
#include "WebStrings.h"

namespace bandrill_app {

namespace {

// The settings shown with the media: where the page goes on it and how
// the printer finds it.
bool IsMediaSetting(const SettingRow& row)
{
    static const std::set<std::string> kMedia = {
        "Fit",          "zeMediaTracking",  "GapHeight",      "MarkHeight", "AdjustHorizontal",
        "AdjustVertical", "HorizontalOffset", "VerticalOffset", "TopMargin"};
    return kMedia.count(row.keyword) != 0;
}

const SettingRow* RowOfAttr(const char* attr)
{
    if (const SettingRow* row = FindDocumentSettingByAttr(attr))
        return row;
    return FindSettingByAttr(attr);
}

// The darkness's vendor attribute: whether the printer's own or the IPP one
// applies. The page folds it into the darkness control.
const char* DarknessAttr()
{
    return FindSetting("Darkness")->attr;
}

// Darkness percentages the control offers: one per level of the printer.
int LevelPercent(int level, int levels)
{
    return levels > 1 ? 100 * level / (levels - 1) : 50;
}

int LevelOf(int percent, int levels)
{
    percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    return (percent * (levels - 1) + 50) / 100;
}

enum Group { kMediaGroup, kImageGroup, kPrinterGroup };

Group GroupOf(const SettingRow& row)
{
    if (IsMediaSetting(row))
        return kMediaGroup;
    return row.group == SettingRow::kImage ? kImageGroup : kPrinterGroup;
}

std::string Loc(pappl_client_t* client, const std::string& key)
{
    return papplClientGetLocString(client, key.c_str());
}

class CPage {
public:
    CPage(pappl_client_t* client, pappl_printer_t* printer)
        : m_client(client), m_printer(printer),
          m_driver(FindDriver(papplPrinterGetDriverName(printer))),
          m_attrs(papplPrinterGetDriverAttributes(printer))
    {
        papplPrinterGetDriverData(printer, &m_data);
    }
    ~CPage() { ippDelete(m_attrs); }
    CPage(const CPage&) = delete;
    CPage& operator=(const CPage&) = delete;

    // The new defaults of a posted form; the banner's text.
    const char* Save();
    void Show(const char* status);

private:
    bool HasQualifier() const
    {
        const std::string sup = std::string(DarknessAttr()) + "-supported";
        return ippFindAttribute(m_attrs, sup.c_str(), IPP_TAG_ZERO) != nullptr;
    }
    bool UsesPrinterDarkness() const
    {
        const std::string def = std::string(DarknessAttr()) + "-default";
        const char* v = ippGetString(ippFindAttribute(m_attrs, def.c_str(), IPP_TAG_KEYWORD), 0, nullptr);
        return v && std::strcmp(v, kDarknessPrinter) == 0;
    }
    std::string Default(const char* attr) const;

    void Row(const std::string& label) const;
    void EndRow() const { papplClientHTMLPuts(m_client, "</td></tr>\n"); }
    void Heading(const char* text) const;
    void Media() const;
    void Orientation() const;
    void Darkness() const;
    void Speed() const;
    void Vendor(const char* attr) const;

    pappl_client_t* m_client;
    pappl_printer_t* m_printer;
    const Driver* m_driver;
    ipp_t* m_attrs;
    pappl_pr_driver_data_t m_data;
};

std::string CPage::Default(const char* attr) const
{
    const std::string def = std::string(attr) + "-default";
    char value[1024] = "";
    if (ipp_attribute_t* a = ippFindAttribute(m_attrs, def.c_str(), IPP_TAG_ZERO))
        ippAttributeString(a, value, sizeof value);
    return value;
}

const char* CPage::Save()
{
    cups_option_t* form = nullptr;
    const int num_form = papplClientGetForm(m_client, &form);
    if (num_form == 0)
        return "Invalid form data.";
    if (!papplClientIsValidForm(m_client, num_form, form)) {
        cupsFreeOptions(num_form, form);
        return "Invalid form submission.";
    }
    pappl_pr_driver_data_t data = m_data;
    cups_option_t* vendor = nullptr;
    int num_vendor = 0;
    char* end = nullptr;
    // A value none of the choices posts goes on to the check, which refuses
    // it (and the page says so).
    if (const char* v = cupsGetOption("orientation-requested", num_form, form)) {
        const long o = std::strtol(v, &end, 10);
        data.orient_default = static_cast<ipp_orient_t>(
            !*end && o >= IPP_ORIENT_PORTRAIT && o <= IPP_ORIENT_NONE ? o : 0);
    }
    if (const char* v = cupsGetOption("print-speed", num_form, form)) {
        // Inches a second, 0 for the printer's own speed.
        const long ips = std::strtol(v, &end, 10);
        data.speed_default = !*end && ips >= 0 && ips <= 100 ? static_cast<int>(ips) * 2540 : -1;
    }
    // One darkness control: the printer's own, or a level of the printer
    // darkness (a percentage), which then applies.
    if (const char* v = cupsGetOption("print-darkness", num_form, form)) {
        const int levels = data.darkness_supported;
        if (std::strcmp(v, kDarknessPrinter) == 0) {
            if (HasQualifier())
                num_vendor = cupsAddOption(DarknessAttr(), kDarknessPrinter, num_vendor, &vendor);
        } else {
            const long percent = std::strtol(v, &end, 10);
            const int posted = *end ? -1 : static_cast<int>(percent);
            // The level the stored darkness falls on keeps its exact value.
            if (!(levels > 1 && posted >= 0 && posted <= 100 &&
                  LevelOf(posted, levels) == LevelOf(data.darkness_configured, levels) &&
                  posted == LevelPercent(LevelOf(posted, levels), levels)))
                data.darkness_configured = posted;
            if (HasQualifier())
                num_vendor =
                    cupsAddOption(DarknessAttr(), kDarknessConfigured, num_vendor, &vendor);
        }
    }
    for (int i = 0; i < data.num_vendor; ++i) {
        const char* attr = data.vendor[i];
        if (std::strcmp(attr, DarknessAttr()) == 0)
            continue;
        const std::string sup = std::string(attr) + "-supported";
        if (const char* v = cupsGetOption(attr, num_form, form))
            num_vendor = cupsAddOption(attr, v, num_vendor, &vendor);
        else if (ippFindAttribute(m_attrs, sup.c_str(), IPP_TAG_BOOLEAN))
            num_vendor = cupsAddOption(attr, "false", num_vendor, &vendor);
    }
    const bool saved = papplPrinterSetDriverDefaults(m_printer, &data, num_vendor, vendor);
    cupsFreeOptions(num_vendor, vendor);
    cupsFreeOptions(num_form, form);
    // What the page shows next is what was stored.
    papplPrinterGetDriverData(m_printer, &m_data);
    ippDelete(m_attrs);
    m_attrs = papplPrinterGetDriverAttributes(m_printer);
    return saved ? "Changes saved." : kDefaultsRefused;
}

void CPage::Row(const std::string& label) const
{
    papplClientHTMLPuts(m_client, "              <tr><th>");
    papplClientHTMLEscape(m_client, label.c_str(), 0);
    papplClientHTMLPuts(m_client, ":</th><td>");
}

void CPage::Heading(const char* text) const
{
    papplClientHTMLPrintf(m_client,
                          "              <tr class=\"group\"><th colspan=\"2\" style=\"text-align: left;\"><h3>%s</h3></th></tr>\n",
                          papplClientGetLocString(m_client, text));
}

// The loaded media as people name it; the media page changes it.
void CPage::Media() const
{
    const pappl_media_col_t& m = m_data.media_default;
    Row(Loc(m_client, "media"));
    std::string size = m.size_name;
    const std::string key = "media." + size;
    const std::string named = Loc(m_client, key);
    papplClientHTMLEscape(m_client, named != key ? named.c_str() : size.c_str(), 0);
    char path[256];
    papplPrinterGetPath(m_printer, "media", path, sizeof path);
    papplClientHTMLPrintf(m_client, " <a class=\"btn\" href=\"%s\">%s</a>", path,
                          papplClientGetLocString(m_client, "Configure Media"));
    EndRow();
}

void CPage::Orientation() const
{
    static const struct {
        ipp_orient_t value;
        const char* label;
    } kOrients[] = {
        {IPP_ORIENT_NONE, "Automatic (as the page fits best)"},
        {IPP_ORIENT_PORTRAIT, "Portrait"},
        {IPP_ORIENT_LANDSCAPE, "Landscape"},
        {IPP_ORIENT_REVERSE_LANDSCAPE, "Reverse landscape"},
        {IPP_ORIENT_REVERSE_PORTRAIT, "Reverse portrait"},
    };
    Row(Loc(m_client, "orientation-requested"));
    papplClientHTMLPuts(m_client, "<select name=\"orientation-requested\">");
    for (const auto& o : kOrients)
        papplClientHTMLPrintf(m_client, "<option value=\"%d\"%s>%s</option>", o.value,
                              o.value == m_data.orient_default ? " selected" : "",
                              papplClientGetLocString(m_client, o.label));
    papplClientHTMLPuts(m_client, "</select>");
    EndRow();
}

// One control: the printer's own darkness, or one of its levels.
void CPage::Darkness() const
{
    const int levels = m_data.darkness_supported;
    if (levels < 1)
        return;
    const bool own = HasQualifier() && UsesPrinterDarkness();
    const int current = LevelOf(m_data.darkness_configured, levels);
    Row(Loc(m_client, "print-darkness"));
    papplClientHTMLPuts(m_client, "<select name=\"print-darkness\">");
    if (HasQualifier())
        papplClientHTMLPrintf(m_client, "<option value=\"%s\"%s>%s</option>", kDarknessPrinter,
                              own ? " selected" : "",
                              papplClientGetLocString(m_client, kDarknessPrinterLabel));
    for (int level = 0; level < levels; ++level) {
        const int percent = LevelPercent(level, levels);
        papplClientHTMLPrintf(m_client, "<option value=\"%d\"%s>%d (%d%%)</option>", percent,
                              !own && level == current ? " selected" : "", level, percent);
    }
    papplClientHTMLPuts(m_client, "</select>");
    EndRow();
}

void CPage::Speed() const
{
    if (!m_data.speed_supported[1])
        return;
    Row(Loc(m_client, "print-speed"));
    papplClientHTMLPrintf(m_client, "<select name=\"print-speed\"><option value=\"0\">%s</option>",
                          papplClientGetLocString(m_client, kSpeedPrinterLabel));
    for (int s = m_data.speed_supported[0]; s <= m_data.speed_supported[1]; s += 2540)
        if (s > 0)
            papplClientHTMLPrintf(m_client, "<option value=\"%d\"%s>%d %s</option>", s / 2540,
                                  s == m_data.speed_default ? " selected" : "", s / 2540,
                                  s > 2540 ? "inches/s" : "inch/s");
    papplClientHTMLPuts(m_client, "</select>");
    EndRow();
}

// A vendor attribute as its supported values allow: a checkbox, a number,
// a choice.
void CPage::Vendor(const char* attr) const
{
    const std::string sup = std::string(attr) + "-supported";
    ipp_attribute_t* supported = ippFindAttribute(m_attrs, sup.c_str(), IPP_TAG_ZERO);
    if (!supported)
        return;
    const std::string value = Default(attr);
    Row(Loc(m_client, attr));
    switch (ippGetValueTag(supported)) {
    case IPP_TAG_BOOLEAN:
        papplClientHTMLPrintf(m_client, "<input type=\"checkbox\" name=\"%s\"%s>", attr,
                              value == "true" ? " checked" : "");
        break;
    case IPP_TAG_RANGE: {
        int upper = 0;
        const int lower = ippGetRange(supported, 0, &upper);
        papplClientHTMLPrintf(m_client,
                              "<input type=\"number\" name=\"%s\" min=\"%d\" max=\"%d\" value=\"%s\">",
                              attr, lower, upper, value.c_str());
        break;
    }
    case IPP_TAG_KEYWORD:
        papplClientHTMLPrintf(m_client, "<select name=\"%s\">", attr);
        for (int j = 0; j < ippGetCount(supported); ++j) {
            const char* v = ippGetString(supported, j, nullptr);
            papplClientHTMLPrintf(m_client, "<option value=\"%s\"%s>", v, value == v ? " selected" : "");
            papplClientHTMLEscape(m_client, Loc(m_client, std::string(attr) + "." + v).c_str(), 0);
            papplClientHTMLPuts(m_client, "</option>");
        }
        papplClientHTMLPuts(m_client, "</select>");
        break;
    default:
        papplClientHTMLEscape(m_client, value.c_str(), 0);
        break;
    }
    EndRow();
}

void CPage::Show(const char* status)
{
    papplClientHTMLPrinterHeader(m_client, m_printer, "Printing Defaults", 0, nullptr, nullptr);
    if (status)
        papplClientHTMLPrintf(m_client, "<div class=\"banner\">%s</div>\n",
                              papplClientGetLocString(m_client, status));
    papplClientHTMLStartForm(m_client, papplClientGetURI(m_client), false);
    papplClientHTMLPuts(m_client, "          <table class=\"form\">\n            <tbody>\n");

    std::vector<const char*> groups[3];
    for (int i = 0; i < m_data.num_vendor; ++i) {
        const SettingRow* row = RowOfAttr(m_data.vendor[i]);
        if (row && std::strcmp(m_data.vendor[i], DarknessAttr()) != 0)
            groups[GroupOf(*row)].push_back(m_data.vendor[i]);
    }

    Heading(m_driver && m_driver->roll ? kMediaHeadingRoll : kMediaHeadingLabels);
    Media();
    Orientation();
    for (const char* attr : groups[kMediaGroup])
        Vendor(attr);

    if (!groups[kImageGroup].empty()) {
        Heading(kImageHeading);
        for (const char* attr : groups[kImageGroup])
            Vendor(attr);
    }

    Heading(kPrinterHeading);
    Darkness();
    Speed();
    for (const char* attr : groups[kPrinterGroup])
        Vendor(attr);
    Row(Loc(m_client, "printer-resolution"));
    papplClientHTMLPrintf(m_client, "%d dpi", m_data.x_default);
    EndRow();

    papplClientHTMLPrintf(m_client,
                          "              <tr><th></th><td><input type=\"submit\" value=\"%s\"></td></tr>\n"
                          "            </tbody>\n          </table>\n        </form>\n",
                          papplClientGetLocString(m_client, "Save Changes"));
    papplClientHTMLPrinterFooter(m_client);
}

} // namespace

} // namespace bandrill_app

extern "C" {

void __wrap__papplPrinterWebDefaults(pappl_client_t* client, pappl_printer_t* printer);

void __wrap__papplPrinterWebDefaults(pappl_client_t* client, pappl_printer_t* printer)
{
    if (!papplClientHTMLAuthorize(client))
        return;
    bandrill_app::CPage page(client, printer);
    const char* status = nullptr;
    if (papplClientGetMethod(client) == HTTP_STATE_POST)
        status = page.Save();
    page.Show(status);
}

} // extern "C"
