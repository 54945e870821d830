// The user's documentation of the options against the settings and family
// tables: the README's option tables (keywords, and which families offer
// each printer option), its table of the printer application's vendor
// attributes (names, and the keyword values offered), and the options of
// bandrill(8). An option added to the tables without its documentation, or
// documentation left behind by a change, fails here.
#include <gtest/gtest.h>

#include <fstream>
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

std::set<std::string> FamiliesOffering(const std::string& keyword)
{
    std::set<std::string> names;
    for (const PrinterFamily& f : PrinterFamilies())
        if (f.Offer(keyword.c_str()))
            names.insert(f.name);
    return names;
}

// ColorModel is a PPD option of the raster the converters make, not a
// setting of the back end.
const char* const kRasterOption = "ColorModel";

TEST(OptionDocs, ReadmeOptionTablesNameEveryOptionAndTheFamiliesOfferingIt)
{
    const std::vector<std::string> lines = Section(ReadSource("README.md"), "## Options", "## ");
    ASSERT_FALSE(lines.empty()) << "README.md has no Options section";
    std::set<std::string> documented;
    for (const std::string& line : lines) {
        const std::vector<std::string> cells = Cells(line);
        if (line.rfind("|", 0) != 0 || cells.size() < 3 || cells[0] == "Keyword" ||
            cells[0].find("---") != std::string::npos)
            continue;
        for (const std::string& keyword : Split(cells[0], std::regex(",\\s*"))) {
            SCOPED_TRACE(keyword);
            documented.insert(keyword);
            if (keyword == kRasterOption)
                continue;
            ASSERT_NE(FindSetting(keyword.c_str()), nullptr) << "not a setting of the table";
            // The printer options' table says who offers each; the image
            // options are every family's.
            std::set<std::string> named;
            if (cells.size() >= 4) {
                for (std::string family : Split(cells[3], std::regex(",\\s*|\\s+and\\s+"))) {
                    family = std::regex_replace(family, std::regex("\\s*\\(.*\\)\\s*"), "");
                    named.insert(family);
                }
            } else {
                for (const PrinterFamily& f : PrinterFamilies())
                    named.insert(f.name);
            }
            EXPECT_EQ(named, FamiliesOffering(keyword));
        }
    }
    std::set<std::string> expected = OfferedKeywords();
    expected.insert(kRasterOption);
    EXPECT_EQ(documented, expected);
}

TEST(OptionDocs, ReadmeVendorAttributesAreTheTables)
{
    const std::vector<std::string> lines =
        Section(ReadSource("README.md"), "## Printer application", "## ");
    std::set<std::string> documented;
    for (const std::string& line : lines) {
        const std::vector<std::string> cells = Cells(line);
        if (line.rfind("| `bandrill-", 0) != 0 || cells.size() < 3)
            continue;
        // "`bandrill-crop-top`, `-bottom`": the later names share the
        // first one's stem.
        std::string first;
        for (std::string name : Split(cells[0], std::regex("[`,\\s]+"))) {
            if (first.empty())
                first = name;
            else
                name = first.substr(0, first.rfind('-')) + name;
            documented.insert(name);
            const SettingRow* row = FindSettingByAttr(name.c_str());
            ASSERT_NE(row, nullptr) << name;
            // The keyword values offered by some family are listed.
            for (const SettingChoice& c : row->choices) {
                bool offered = false;
                for (const PrinterFamily& f : PrinterFamilies())
                    if (const OfferedSetting* o = f.Offer(row->keyword))
                        offered |= o->Offers(c.ppd);
                // (A setting of a standard attribute: its vendor attribute only
                // qualifies that one, with values of its own.)
                if (row->kind == SettingRow::kChoice && !row->standard && c.ipp && offered) {
                    EXPECT_NE(cells[1].find(std::string("`") + c.ipp + "`"), std::string::npos)
                        << name << " " << c.ipp;
                }
            }
        }
    }
    std::set<std::string> expected;
    for (const SettingRow& row : PrinterSettings())
        if (row.attr && OfferedKeywords().count(row.keyword))
            expected.insert(row.attr);
    EXPECT_EQ(documented, expected);
}

TEST(OptionDocs, ManualPageNamesEveryOption)
{
    const std::vector<std::string> lines = Section(ReadSource("man/bandrill.8"), ".SH OPTIONS", ".SH ");
    ASSERT_FALSE(lines.empty()) << "man/bandrill.8 has no OPTIONS section";
    std::set<std::string> documented;
    const std::regex keyword("([A-Za-z]+)=");
    for (const std::string& line : lines) {
        if (line.rfind(".BI ", 0) != 0)
            continue;
        for (std::sregex_iterator it(line.begin(), line.end(), keyword), end; it != end; ++it)
            documented.insert((*it)[1]);
    }
    std::set<std::string> expected = OfferedKeywords();
    expected.insert(kRasterOption);
    EXPECT_EQ(documented, expected);
}

} // namespace
