// The user's documentation of the options against the settings and family
// tables: the README's option tables (every keyword the filter reads, its
// choices and default family by family, the families offering it), its
// table of the printer application's vendor attributes (names, the keyword
// values offered, the PPD keyword each answers), the options of bandrill(8)
// and the vendor attributes of bandrill-printer-app(8). An option added to
// the tables without its documentation, or documentation left behind by a
// change, fails here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "PrinterFamilies.h"
#include "PrinterSettings.h"

namespace {

std::string ReadSource(const std::string& relative)
{
    std::ifstream in(std::string(BANDRILL_SOURCE_DIR) + "/" + relative);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The lines of text between the heading line that starts with start and the
// next heading of the same kind (a line starting with next).
std::vector<std::string> Section(const std::string& text, const std::string& start,
                                 const std::string& next)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line.rfind(start, 0) == 0) {
            inside = true;
            continue;
        }
        if (inside && line.rfind(next, 0) == 0)
            break;
        if (inside)
            lines.push_back(line);
    }
    return lines;
}

// The cells of a markdown table row, trimmed.
std::vector<std::string> Cells(const std::string& line)
{
    std::vector<std::string> cells;
    std::string cell;
    for (size_t i = 1; i < line.size(); ++i) {
        if (line[i] == '|') {
            const size_t a = cell.find_first_not_of(' '), b = cell.find_last_not_of(' ');
            cells.push_back(a == std::string::npos ? "" : cell.substr(a, b - a + 1));
            cell.clear();
        } else {
            cell += line[i];
        }
    }
    return cells;
}

std::vector<std::string> Split(const std::string& text, const std::regex& sep)
{
    std::vector<std::string> parts;
    for (std::sregex_token_iterator it(text.begin(), text.end(), sep, -1), end; it != end; ++it)
        if (!it->str().empty())
            parts.push_back(it->str());
    return parts;
}

// The settings people choose in a PPD: options some family offers.
std::set<std::string> OfferedKeywords()
{
    std::set<std::string> keywords;
    for (const PrinterFamily& f : PrinterFamilies())
        for (const OfferedSetting& o : f.settings)
            keywords.insert(o.row->keyword);
    return keywords;
}

std::set<std::string> AllFamilies()
{
    std::set<std::string> names;
    for (const PrinterFamily& f : PrinterFamilies())
        names.insert(f.name);
    return names;
}

// A cell that may speak family by family ("TSPL, CPCL: `Gap`; PeriPage:
// `Continuous`"): the text for each name it names, or for "" when it
// names none.
std::map<std::string, std::string> ByName(const std::string& cell)
{
    std::map<std::string, std::string> texts;
    for (const std::string& part : Split(cell, std::regex(";\\s*"))) {
        const size_t colon = part.find(": ");
        if (colon == std::string::npos || part.compare(0, 1, "`") == 0) {
            texts[""] = part;
            continue;
        }
        for (const std::string& name : Split(part.substr(0, colon), std::regex(",\\s*")))
            texts[name] = part.substr(colon + 2);
    }
    return texts;
}

// The text for family (or driver) name: its own, or the one for all.
std::string For(const std::map<std::string, std::string>& texts, const std::string& name)
{
    const auto it = texts.find(name);
    if (it != texts.end())
        return it->second;
    const auto all = texts.find("");
    return all == texts.end() ? std::string() : all->second;
}

// A number of hundredths written as a PPD choice: "-1.75", "0", "0.5".
std::string Hundredths(int h)
{
    std::string t = (h < 0 ? "-" : "") + std::to_string(std::abs(h) / 100);
    if (const int f = std::abs(h) % 100) {
        t += "." + std::to_string(f / 10) + (f % 10 ? std::to_string(f % 10) : "");
    }
    return t;
}

// The choices a Choices cell lists: `a`, `b`, `c` to `d`, `e` to `f` in
// steps of n (whole, or with up to two decimals: 0.25).
std::vector<std::string> Values(const std::string& text)
{
    std::vector<std::string> values;
    const std::regex range("`(-?\\d+)` to `(-?\\d+)`(?: in steps of (\\d+)(?:\\.(\\d\\d?))?)?");
    const std::regex one("`([^`]*)`");
    for (const std::string& piece : Split(text, std::regex(",\\s*"))) {
        std::smatch m;
        if (std::regex_match(piece, m, range)) {
            // In hundredths.
            int step = m[3].matched ? 100 * std::stoi(m[3]) : 100;
            if (m[4].matched)
                step += std::stoi(m[4]) * (m[4].length() == 1 ? 10 : 1);
            if (step <= 0) {
                values.push_back("?" + piece);
                continue;
            }
            for (int v = 100 * std::stoi(m[1]); v <= 100 * std::stoi(m[2]); v += step)
                values.push_back(Hundredths(v));
        } else if (std::regex_match(piece, m, one)) {
            values.push_back(m[1]);
        } else {
            values.push_back("?" + piece);
        }
    }
    return values;
}

// ColorModel is a PPD option of the raster the converters make, not a
// setting of the back end.
const char* const kRasterOption = "ColorModel";

// Every keyword the filter reads a job's setting from: the rows' own and
// those read in place of one (an older spelling).
std::set<std::string> OptionKeywords()
{
    std::set<std::string> keywords;
    for (const SettingRow& row : PrinterSettings())
        if (row.source == SettingRow::kOption)
            for (const char* k : row.ReadOrder())
                keywords.insert(k);
    return keywords;
}

std::set<std::string> AttributeKeywords()
{
    std::set<std::string> keywords;
    for (const SettingRow& row : PrinterSettings())
        if (row.source == SettingRow::kAttribute)
            keywords.insert(row.keyword);
    return keywords;
}

// The printer application's own printer settings, outside the settings
// table (no PPD keyword has them).
const std::set<std::string> kAppAttributes = {"bandrill-status-query"};

// The vendor attributes of the settings some family offers, those of the
// documents the printer application renders (every driver has them), and
// the application's own.
std::set<std::string> VendorAttributes()
{
    std::set<std::string> attrs = kAppAttributes;
    for (const SettingRow& row : PrinterSettings())
        if (row.attr && OfferedKeywords().count(row.keyword))
            attrs.insert(row.attr);
    for (const SettingRow& row : DocumentSettings())
        attrs.insert(row.attr);
    return attrs;
}

// The row whose keyword is read in place of its own, or null.
const SettingRow* RowReadingInstead(const std::string& keyword)
{
    for (const SettingRow& row : PrinterSettings())
        for (const char* k : row.ReadOrder())
            if (keyword == k && keyword != row.keyword)
                return &row;
    return nullptr;
}

// Attribute names as the documents list them, "bandrill-crop-top",
// "-bottom": a name starting with '-' shares the stem of the first.
std::vector<std::string> AttributeNames(const std::vector<std::string>& listed)
{
    std::vector<std::string> names;
    for (const std::string& name : listed) {
        if (name.rfind("bandrill-", 0) == 0)
            names.push_back(name);
        else if (name[0] == '-' && !names.empty())
            names.push_back(names.front().substr(0, names.front().rfind('-')) + name);
    }
    return names;
}

// The Options section's tables: Keyword | Choices | Default | Meaning |
// Families, one row for every keyword the filter reads and for the PPD
// attributes.
TEST(OptionDocs, ReadmeOptionTablesAreTheTables)
{
    const std::vector<std::string> lines = Section(ReadSource("README.md"), "## Options", "## ");
    ASSERT_FALSE(lines.empty()) << "README.md has no Options section";
    std::set<std::string> documented, attributes;
    for (const std::string& line : lines) {
        const std::vector<std::string> cells = Cells(line);
        if (line.rfind("|", 0) != 0 || cells.size() < 5 || cells[0] == "Keyword" ||
            cells[0].find("---") != std::string::npos)
            continue;
        const std::string& keyword = cells[0];
        SCOPED_TRACE(keyword);
        if (keyword == kRasterOption) {
            documented.insert(keyword);
            continue;
        }
        const std::map<std::string, std::string> choices = ByName(cells[1]);
        const std::map<std::string, std::string> defaults = ByName(cells[2]);
        const SettingRow* row = FindSetting(keyword.c_str());
        if (!row) {
            // Read in place of a row's own keyword, which is the one the
            // PPDs offer: any value of the row, no default, no family.
            row = RowReadingInstead(keyword);
            ASSERT_NE(row, nullptr) << "not a keyword of the settings table";
            documented.insert(keyword);
            if (row->kind == SettingRow::kInteger) {
                EXPECT_EQ(Values(cells[1]), Values("`" + std::to_string(row->min) + "` to `" +
                                                   std::to_string(row->max) + "`"));
            }
            EXPECT_EQ(cells[2], "none");
            EXPECT_EQ(cells[4], "none");
            continue;
        }
        if (row->source == SettingRow::kAttribute) {
            // The shipped value is the driver's; every family's PPDs carry it.
            attributes.insert(keyword);
            EXPECT_EQ(cells[4], "all");
            ASSERT_EQ(keyword, "bandrillHeadDots") << "an attribute the test does not know";
            for (const PrinterFamily& f : PrinterFamilies())
                for (const PrinterDriver& d : f.drivers) {
                    EXPECT_EQ(For(defaults, d.name), "`" + std::to_string(d.headDots) + "`")
                        << d.name;
                }
            continue;
        }
        documented.insert(keyword);
        std::set<std::string> named;
        if (cells[4] == "all")
            named = AllFamilies();
        else if (cells[4] != "none")
            for (const std::string& f : Split(cells[4], std::regex(",\\s*")))
                named.insert(f);
        std::set<std::string> offering;
        for (const PrinterFamily& f : PrinterFamilies()) {
            const OfferedSetting* o = f.Offer(keyword.c_str());
            if (!o)
                continue;
            offering.insert(f.name);
            EXPECT_EQ(For(defaults, f.name), "`" + o->defaultChoice + "`") << f.name;
            EXPECT_EQ(Values(For(choices, f.name)), o->choices) << f.name;
        }
        EXPECT_EQ(named, offering);
        // A cell that goes family by family names only families offering it.
        for (const auto* cell : {&choices, &defaults})
            for (const auto& byName : *cell)
                if (!byName.first.empty()) {
                    EXPECT_TRUE(offering.count(byName.first)) << byName.first;
                }
    }
    std::set<std::string> expected = OptionKeywords();
    expected.insert(kRasterOption);
    EXPECT_EQ(documented, expected);
    EXPECT_EQ(attributes, AttributeKeywords());
}

// The printer application's settings: IPP attribute | Values | PPD keyword.
TEST(OptionDocs, ReadmeVendorAttributesAreTheTables)
{
    const std::vector<std::string> lines =
        Section(ReadSource("README.md"), "## Printer application", "## ");
    std::set<std::string> documented;
    for (const std::string& line : lines) {
        const std::vector<std::string> cells = Cells(line);
        if (line.rfind("| `bandrill-", 0) != 0 || cells.size() < 3)
            continue;
        const std::vector<std::string> names =
            AttributeNames(Split(cells[0], std::regex("[`,\\s]+")));
        for (const std::string& name : names) {
            SCOPED_TRACE(name);
            documented.insert(name);
            if (kAppAttributes.count(name))
                continue;
            const SettingRow* document = FindDocumentSettingByAttr(name.c_str());
            const SettingRow* row = document ? document : FindSettingByAttr(name.c_str());
            ASSERT_NE(row, nullptr) << "not an attribute of the settings table";
            if (name == names.front() && !document) {
                EXPECT_NE(cells[2].find(row->keyword), std::string::npos) << cells[2];
            }
            // The keyword values offered by some family (by every driver, for
            // a document's setting) are listed.
            for (const SettingChoice& c : row->choices) {
                bool offered = document != nullptr;
                for (const PrinterFamily& f : PrinterFamilies())
                    if (const OfferedSetting* o = f.Offer(row->keyword))
                        offered |= o->Offers(c.ppd);
                // (A setting of a standard attribute: its vendor attribute only
                // qualifies that one, with values of its own.)
                if (row->kind == SettingRow::kChoice && !row->standard && c.ipp && offered) {
                    EXPECT_NE(cells[1].find(std::string("`") + c.ipp + "`"), std::string::npos)
                        << c.ipp;
                }
            }
        }
    }
    EXPECT_EQ(documented, VendorAttributes());
}

// bandrill(8): an entry (.BI KEYWORD=) for every option and (.BI *NAME:)
// for every PPD attribute; a keyword read in place of another is named in
// that one's entry.
TEST(OptionDocs, ManualPageNamesEveryOptionAndAttribute)
{
    const std::vector<std::string> lines =
        Section(ReadSource("man/bandrill.8"), ".SH OPTIONS", ".SH ");
    ASSERT_FALSE(lines.empty()) << "man/bandrill.8 has no OPTIONS section";
    std::set<std::string> documented, attributes, bold;
    const std::regex keyword("(\\*?)([A-Za-z]+)[=:]");
    for (const std::string& line : lines) {
        if (line.rfind(".B ", 0) == 0 || line.rfind(".BR ", 0) == 0)
            bold.insert(Split(line, std::regex("\\s+"))[1]);
        if (line.rfind(".BI ", 0) != 0)
            continue;
        for (std::sregex_iterator it(line.begin(), line.end(), keyword), end; it != end; ++it)
            ((*it)[1].length() ? attributes : documented).insert((*it)[2]);
    }
    std::set<std::string> expected = OfferedKeywords();
    expected.insert(kRasterOption);
    EXPECT_EQ(documented, expected);
    for (const std::string& k : OptionKeywords())
        if (!expected.count(k)) {
            EXPECT_TRUE(bold.count(k)) << k << " is not named";
        }
    EXPECT_EQ(attributes, AttributeKeywords());
}

// bandrill-printer-app(8): an entry for every vendor attribute.
TEST(OptionDocs, AppManualPageNamesEveryVendorAttribute)
{
    const std::vector<std::string> lines = Section(ReadSource("man/bandrill-printer-app.8"),
                                                   ".SH \"PRINTER AND JOB SETTINGS\"", ".SH ");
    ASSERT_FALSE(lines.empty()) << "man/bandrill-printer-app.8 has no settings section";
    std::set<std::string> documented;
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i - 1] != ".TP")
            continue;
        // ".BR bandrill\-crop\-top ", " \-bottom", roff's \- a hyphen.
        const std::string line = std::regex_replace(lines[i], std::regex("\\\\-"), "-");
        for (const std::string& name : AttributeNames(Split(line, std::regex("[\\s\",]+"))))
            documented.insert(name);
    }
    EXPECT_EQ(documented, VendorAttributes());
}

} // namespace
