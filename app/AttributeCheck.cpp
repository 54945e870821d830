#include "AttributeCheck.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "PrinterSettings.h"
#include "PrinterStatus.h"

namespace bandrill_app {

namespace {

const char* const kVendorPrefix = "bandrill-";

bool IsVendor(const std::string& name)
{
    return name.compare(0, std::strlen(kVendorPrefix), kVendorPrefix) == 0;
}

bool EndsWith(const std::string& s, const char* suffix)
{
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

bool IsText(ipp_tag_t tag)
{
    return tag == IPP_TAG_KEYWORD || tag == IPP_TAG_NAME || tag == IPP_TAG_TEXT ||
           tag == IPP_TAG_NAMELANG || tag == IPP_TAG_TEXTLANG;
}

// A whole decimal number that fits an int.
bool ParseInt(const char* text, int& value)
{
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(text, &end, 10);
    if (errno == ERANGE || *end || n < -2147483647L || n > 2147483647L)
        return false;
    value = static_cast<int>(n);
    return true;
}

// "a, b or c", "0 to 255", "true or false": what the supported attribute
// offers, or where to find it when the list is long (status-message holds
// 255 bytes).
std::string Offered(ipp_attribute_t* supported)
{
    if (ippGetCount(supported) > 12)
        return std::string("those of ") + ippGetName(supported);
    std::string s;
    const int count = ippGetCount(supported);
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            s += i + 1 == count ? " or " : ", ";
        switch (ippGetValueTag(supported)) {
        case IPP_TAG_RANGE: {
            int upper = 0;
            const int lower = ippGetRange(supported, i, &upper);
            s += std::to_string(lower) + " to " + std::to_string(upper);
            break;
        }
        case IPP_TAG_INTEGER:
        case IPP_TAG_ENUM:
            s += std::to_string(ippGetInteger(supported, i));
            break;
        case IPP_TAG_BOOLEAN:
            return "true or false";
        default:
            s += ippGetString(supported, i, nullptr);
            break;
        }
    }
    return s;
}

// A value given as its IPP syntax or as text (a client that sends every
// option as a string): whether supported offers it; why not in why.
struct Value {
    ipp_tag_t tag;
    const char* text;  // text values
    int integer;       // integer, enum and boolean values
};

bool Takes(ipp_attribute_t* supported, const Value& v, std::string& why)
{
    const ipp_tag_t sup = ippGetValueTag(supported);
    const bool text = IsText(v.tag);
    switch (sup) {
    case IPP_TAG_RANGE:
    case IPP_TAG_INTEGER:
    case IPP_TAG_ENUM: {
        int n = v.integer;
        if (text ? !ParseInt(v.text, n) : v.tag != IPP_TAG_INTEGER && v.tag != IPP_TAG_ENUM) {
            why = "not a number";
            break;
        }
        if (ippContainsInteger(supported, n))
            return true;
        why = std::to_string(n) + " is not " + (sup == IPP_TAG_RANGE ? "within " : "one of ") +
              Offered(supported);
        break;
    }
    case IPP_TAG_BOOLEAN:
        if (v.tag == IPP_TAG_BOOLEAN ||
            (text && (!std::strcmp(v.text, "true") || !std::strcmp(v.text, "false"))))
            return true;
        why = "takes true or false";
        break;
    default:
        if (!text) {
            why = "takes a keyword (" + Offered(supported) + ")";
            break;
        }
        if (ippContainsString(supported, v.text))
            return true;
        why = std::string("'") + v.text + "' is not one of " + Offered(supported);
        break;
    }
    return false;
}

bool TakesAttribute(ipp_attribute_t* supported, ipp_attribute_t* attr, std::string& why)
{
    if (ippGetCount(attr) != 1) {
        why = "takes one value";
        return false;
    }
    const ipp_tag_t tag = ippGetValueTag(attr);
    Value v{tag, IsText(tag) ? ippGetString(attr, 0, nullptr) : nullptr, 0};
    if (tag == IPP_TAG_BOOLEAN)
        v.integer = ippGetBoolean(attr, 0);
    else if (tag == IPP_TAG_INTEGER || tag == IPP_TAG_ENUM)
        v.integer = ippGetInteger(attr, 0);
    else if (!IsText(tag)) {
        why = std::string("takes no ") + ippTagString(tag) + " value";
        return false;
    }
    return Takes(supported, v, why);
}

// Supported values PAPPL keeps in the printer's own attributes, which
// papplPrinterGetDriverAttributes does not give: made here once.
ipp_t* FixedSupported()
{
    static ipp_t* const kAttrs = [] {
        ipp_t* a = ippNew();
        const int orientations[] = {IPP_ORIENT_PORTRAIT, IPP_ORIENT_LANDSCAPE,
                                    IPP_ORIENT_REVERSE_LANDSCAPE, IPP_ORIENT_REVERSE_PORTRAIT,
                                    IPP_ORIENT_NONE};
        ippAddIntegers(a, IPP_TAG_PRINTER, IPP_TAG_ENUM, "orientation-requested-supported", 5,
                       orientations);
        const int qualities[] = {IPP_QUALITY_DRAFT, IPP_QUALITY_NORMAL, IPP_QUALITY_HIGH};
        ippAddIntegers(a, IPP_TAG_PRINTER, IPP_TAG_ENUM, "print-quality-supported", 3, qualities);
        const char* const content[] = {"auto", "graphic", "photo", "text", "text-and-graphic"};
        ippAddStrings(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-content-optimize-supported", 5,
                      nullptr, content);
        const char* const scaling[] = {"auto", "auto-fit", "fill", "fit", "none"};
        ippAddStrings(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-scaling-supported", 5, nullptr,
                      scaling);
        ippAddRange(a, IPP_TAG_PRINTER, "print-darkness-range", -100, 100);
        ippAddRange(a, IPP_TAG_PRINTER, "printer-darkness-configured-range", 0, 100);
        return a;
    }();
    return kAttrs;
}

// overrides select pages and documents but may change nothing on them
// (overrides-supported lists no job template attribute): one that changes
// something is not taken.
void CheckOverrides(ipp_attribute_t* attr, std::vector<BadValue>& bad)
{
    for (int i = 0; i < ippGetCount(attr); ++i) {
        ipp_t* col = ippGetCollection(attr, i);
        for (ipp_attribute_t* m = ippFirstAttribute(col); m; m = ippNextAttribute(col)) {
            const char* n = ippGetName(m);
            const std::string name = n ? n : "";
            if (name != "pages" && name != "document-numbers" && name != "document-copies") {
                bad.push_back({attr, "overrides: this printer prints every page of a job alike (" +
                                         name + " cannot be overridden)",
                               true});
                return;
            }
        }
    }
}

class CChecker {
public:
    explicit CChecker(pappl_printer_t* printer) : m_driver(papplPrinterGetDriverAttributes(printer)) {}
    ~CChecker() { ippDelete(m_driver); }
    CChecker(const CChecker&) = delete;
    CChecker& operator=(const CChecker&) = delete;

    ipp_attribute_t* Supported(const std::string& name) const
    {
        ipp_attribute_t* a = ippFindAttribute(m_driver, name.c_str(), IPP_TAG_ZERO);
        return a ? a : ippFindAttribute(FixedSupported(), name.c_str(), IPP_TAG_ZERO);
    }

    // attr against the supported attribute of that name; nothing when the
    // printer has none (PAPPL decides).
    // report: the request's attribute to name (a collection holding attr).
    void Check(ipp_attribute_t* attr, const std::string& supported, std::vector<BadValue>& bad,
               const std::string& label = "", ipp_attribute_t* report = nullptr) const
    {
        ipp_attribute_t* sup = Supported(supported);
        std::string why;
        if (sup && !TakesAttribute(sup, attr, why))
            bad.push_back({report ? report : attr,
                           (label.empty() ? ippGetName(attr) : label) + ": " + why, false});
    }

    // finishings (each value) and finishings-col (each template) against
    // the finishings the printer has.
    void CheckFinishings(ipp_attribute_t* attr, std::vector<BadValue>& bad) const
    {
        const bool col = ippGetValueTag(attr) == IPP_TAG_BEGIN_COLLECTION;
        ipp_attribute_t* sup = Supported(col ? "finishing-template-supported" : "finishings-supported");
        for (int i = 0; i < ippGetCount(attr); ++i) {
            std::string given;
            if (col) {
                const char* t = ippGetString(ippFindAttribute(ippGetCollection(attr, i),
                                                              "finishing-template", IPP_TAG_ZERO),
                                             0, nullptr);
                if (t && sup && ippContainsString(sup, t))
                    continue;
                given = t ? std::string("'") + t + "'" : "a finishing without finishing-template";
            } else {
                if (ippGetValueTag(attr) == IPP_TAG_ENUM && sup &&
                    ippContainsInteger(sup, ippGetInteger(attr, i)))
                    continue;
                given = ippGetValueTag(attr) == IPP_TAG_ENUM ? std::to_string(ippGetInteger(attr, i))
                                                             : "a value that is no enum";
            }
            bad.push_back({attr, std::string(ippGetName(attr)) + ": " + given + " is not " +
                                     (sup ? "one of " + Offered(sup) : "a finishing this printer has"),
                           false});
            return;
        }
    }

    // A vendor attribute: the printer's NAME-supported, or ignored when the
    // printer's driver does not have it.
    void CheckVendor(ipp_attribute_t* attr, const std::string& base, std::vector<BadValue>& bad) const
    {
        if (Supported(base + "-supported"))
            Check(attr, base + "-supported", bad);
        else
            bad.push_back({attr, std::string(ippGetName(attr)) + ": this printer has no such setting",
                           true});
    }

    // media-col and media-col-default: the size (by name or dimensions)
    // and the media tracking.
    void CheckMediaCol(ipp_attribute_t* attr, std::vector<BadValue>& bad) const
    {
        const std::string name = ippGetName(attr);
        ipp_t* col = ippGetCount(attr) == 1 ? ippGetCollection(attr, 0) : nullptr;
        if (!col) {
            bad.push_back({attr, name + ": takes one collection", false});
            return;
        }
        if (ipp_attribute_t* m = ippFindAttribute(col, "media-size-name", IPP_TAG_ZERO))
            Check(m, "media-supported", bad, name + " media-size-name", attr);
        if (ipp_attribute_t* m = ippFindAttribute(col, "media-tracking", IPP_TAG_ZERO))
            Check(m, "media-tracking-supported", bad, name + " media-tracking", attr);
        ipp_attribute_t* size = ippFindAttribute(col, "media-size", IPP_TAG_BEGIN_COLLECTION);
        if (!size || ippFindAttribute(col, "media-size-name", IPP_TAG_ZERO))
            return;
        ipp_t* dims = ippGetCollection(size, 0);
        ipp_attribute_t* x = ippFindAttribute(dims, "x-dimension", IPP_TAG_INTEGER);
        ipp_attribute_t* y = ippFindAttribute(dims, "y-dimension", IPP_TAG_INTEGER);
        ipp_attribute_t* sup = Supported("media-size-supported");
        if (!sup)
            return;
        if (x && y) {
            for (int i = 0; i < ippGetCount(sup); ++i) {
                ipp_t* s = ippGetCollection(sup, i);
                if (ippContainsInteger(ippFindAttribute(s, "x-dimension", IPP_TAG_ZERO),
                                       ippGetInteger(x, 0)) &&
                    ippContainsInteger(ippFindAttribute(s, "y-dimension", IPP_TAG_ZERO),
                                       ippGetInteger(y, 0)))
                    return;
            }
        }
        const std::string given = x && y ? std::to_string(ippGetInteger(x, 0)) + " x " +
                                               std::to_string(ippGetInteger(y, 0)) +
                                               " (0.01 mm)"
                                         : std::string("without both dimensions");
        bad.push_back({attr, name + " media-size: " + given + " is not a size this printer takes",
                       false});
    }

private:
    ipp_t* m_driver;
};

} // namespace

std::vector<BadValue> CheckJobAttributes(pappl_printer_t* printer, ipp_t* request)
{
    std::vector<BadValue> bad;
    CChecker check(printer);
    for (ipp_attribute_t* a = ippFirstAttribute(request); a; a = ippNextAttribute(request)) {
        const char* n = ippGetName(a);
        if (!n || ippGetGroupTag(a) != IPP_TAG_JOB)
            continue;
        const std::string name = n;
        if (IsVendor(name))
            check.CheckVendor(a, name, bad);
        else if (name == "media")
            check.Check(a, "media-supported", bad);
        else if (name == "media-col")
            check.CheckMediaCol(a, bad);
        else if (name == "orientation-requested")
            check.Check(a, "orientation-requested-supported", bad);
        else if (name == "print-speed")
            check.Check(a, "print-speed-supported", bad);
        else if (name == "finishings" || name == "finishings-col")
            check.CheckFinishings(a, bad);
        else if (name == "overrides")
            CheckOverrides(a, bad);
    }
    return bad;
}

std::vector<BadValue> CheckDefaultAttributes(pappl_printer_t* printer, ipp_t* request)
{
    std::vector<BadValue> bad;
    CChecker check(printer);
    for (ipp_attribute_t* a = ippFirstAttribute(request); a; a = ippNextAttribute(request)) {
        const char* n = ippGetName(a);
        if (!n || ippGetGroupTag(a) != IPP_TAG_PRINTER)
            continue;
        const std::string name = n;
        const std::string base = EndsWith(name, "-default")
                                     ? name.substr(0, name.size() - std::strlen("-default"))
                                     : "";
        if (IsVendor(name)) {
            // PAPPL refuses names that are no vendor default of the driver.
            if (!base.empty() && check.Supported(base + "-supported"))
                check.Check(a, base + "-supported", bad);
        } else if (name == "media-default") {
            check.Check(a, "media-supported", bad);
        } else if (name == "media-col-default") {
            check.CheckMediaCol(a, bad);
        } else if (name == "print-speed-default") {
            // 0: the printer's own speed.
            if (!(ippGetValueTag(a) == IPP_TAG_INTEGER && ippGetInteger(a, 0) == 0))
                check.Check(a, "print-speed-supported", bad);
        } else if (name == "print-darkness-default") {
            check.Check(a, "print-darkness-range", bad);
        } else if (name == "printer-darkness-configured") {
            check.Check(a, "printer-darkness-configured-range", bad);
        } else if (name == "orientation-requested-default" || name == "print-quality-default" ||
                   name == "print-content-optimize-default" || name == "print-scaling-default" ||
                   name == "print-color-mode-default") {
            check.Check(a, base + "-supported", bad);
        }
    }
    return bad;
}

std::string CheckDriverDefaults(pappl_printer_t* printer, const pappl_pr_driver_data_t& data,
                                int num_vendor, cups_option_t* vendor)
{
    CChecker check(printer);
    std::string why;
    for (int i = 0; i < num_vendor; ++i) {
        const std::string base = vendor[i].name;
        ipp_attribute_t* sup = check.Supported(base + "-supported");
        // A ticked checkbox of the web form posts "on", which PAPPL takes as true.
        if (sup && ippGetValueTag(sup) == IPP_TAG_BOOLEAN && vendor[i].value &&
            !std::strcmp(vendor[i].value, "on"))
            continue;
        if (sup && !Takes(sup, Value{IPP_TAG_TEXT, vendor[i].value, 0}, why))
            return base + ": " + why;
    }
    const struct {
        const char* name;
        const char* supported;
        int value;
    } numbers[] = {
        {"printer-darkness-configured", "printer-darkness-configured-range",
         data.darkness_configured},
        {"print-darkness-default", "print-darkness-range", data.darkness_default},
        {"orientation-requested-default", "orientation-requested-supported", data.orient_default},
        {"print-quality-default", "print-quality-supported", data.quality_default},
        {"print-speed-default", "print-speed-supported", data.speed_default},
    };
    for (const auto& n : numbers) {
        ipp_attribute_t* sup = check.Supported(n.supported);
        if (std::strcmp(n.name, "print-speed-default") == 0 && n.value == 0)
            continue;
        if (sup && !Takes(sup, Value{IPP_TAG_INTEGER, nullptr, n.value}, why))
            return std::string(n.name) + ": " + why;
    }
    return "";
}

std::string CheckOptionText(const std::string& name, const std::string& value)
{
    const std::string base =
        EndsWith(name, "-default") ? name.substr(0, name.size() - std::strlen("-default")) : name;
    int n = 0;
    // The printer's own setting, outside the settings table.
    if (base == kStatusQueryAttr)
        return value == "on" || value == "off" ? "" : name + ": takes on or off";
    if (IsVendor(base)) {
        const SettingRow* row = FindSettingByAttr(base.c_str());
        if (!row)
            return name + ": no such option";
        // The qualifiers' keywords are the printer's to check.
        if (row->kind == SettingRow::kInteger && !row->standard && !ParseInt(value.c_str(), n))
            return name + ": '" + value + "' is not a number (" + std::to_string(row->min) +
                   " to " + std::to_string(row->max) + ")";
        if (row->kind == SettingRow::kBoolean && value != "true" && value != "false")
            return name + ": takes true or false";
        return "";
    }
    if (name == "media-default")
        return name + ": give the size as media=" + value + " (with modify it sets the default)";
    // Numbers PAPPL's client drops unless whole and within these.
    const struct {
        const char* name;
        int min, max;
    } ranges[] = {{"print-darkness", -100, 100},
                  {"printer-darkness-configured", 0, 100},
                  {"copies", 1, 9999}};
    for (const auto& r : ranges)
        if (base == r.name && (!ParseInt(value.c_str(), n) || n < r.min || n > r.max))
            return name + ": '" + value + "' is not a number from " + std::to_string(r.min) +
                   " to " + std::to_string(r.max);
    if (base == "orientation-requested" && !ippEnumValue("orientation-requested", value.c_str()) &&
        (!ParseInt(value.c_str(), n) || n < IPP_ORIENT_PORTRAIT || n > IPP_ORIENT_NONE))
        return name + ": '" + value + "' is not portrait, landscape, reverse-landscape, "
                      "reverse-portrait or none (3 to 7)";
    if (base == "print-quality" && !ippEnumValue("print-quality", value.c_str()) &&
        (!ParseInt(value.c_str(), n) || n < IPP_QUALITY_DRAFT || n > IPP_QUALITY_HIGH))
        return name + ": '" + value + "' is not draft, normal or high (3 to 5)";
    return "";
}

} // namespace bandrill_app
