// TSPL back end: the page job as exact bytes (golden file for a whole page),
// the setting-dependent lines, the two bitmap modes decoded back, and the
// uncompressed fallback when compression fails.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include "AsciiImage.h"
#include "Golden.h"
#include "RecordingPrinter.h"
#include "PrinterTSPL.h"

namespace {

using testing_support::Complement;
using testing_support::ExpectGolden;
using testing_support::ImageBytes;
using testing_support::LabelArt;
using testing_support::MakeAsciiImage;

using RecordingTSPL = testing_support::TRecordingPrinter<CPrinterTSPL, std::string>;

// Compression that always fails, as when its block cannot be allocated.
class FailingCompressTSPL : public RecordingTSPL {
protected:
    unsigned char* CompressBitmap(const void*, int, int*) override
    {
        ++calls;
        return nullptr;
    }

public:
    int calls = 0;
};

// Settings of the sample label: gap media 3 mm, density 8, speed 4.
void SampleLabelSettings(CPrinterTSPL& p)
{
    p.m_iDpi = 203;
    p.m_reg.iPrinttype = 0;
    p.m_reg.iPeelMode = 0;
    p.m_reg.iReference[0] = 0;
    p.m_reg.iReference[1] = 0;
    p.m_reg.iGap[0] = 1;
    p.m_reg.iGap[1] = 3;
    p.m_reg.iGap[2] = 0;
    p.m_reg.iOffset = 0;
    p.m_reg.iDensity = 8;
    p.m_reg.iSpeed = 4;
    p.m_reg.iDottedline = false;
    p.m_reg.bPauseKey = true;
    p.m_reg.bWaterMark = true;
    p.m_regHalftone.ImageCompress = false;
}

// A seeded random one-bit image with white row padding, as prepared.
void RandomImage(CPrinterTSPL& p, unsigned w, unsigned h, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<std::string> rows(h, std::string(w, '.'));
    for (auto& r : rows)
        for (auto& c : r)
            c = (rng() & 1) ? 'X' : '.';
    MakeAsciiImage(p.m_image, rows);
    p.AdjustEffWidthBits();
}

// One TSPL job taken apart: its text lines without CR LF (the bitmap line
// as its header text up to the payload) and the bitmap payload.
struct TsplJob {
    std::vector<std::string> lines;
    int mode = 0;
    std::string payload;
};

// Reads the decimal field at pos up to the next ','.
bool ReadField(const std::string& s, size_t& pos, long& value)
{
    const size_t comma = s.find(',', pos);
    if (comma == std::string::npos || comma == pos)
        return false;
    value = std::strtol(s.substr(pos, comma - pos).c_str(), nullptr, 10);
    pos = comma + 1;
    return true;
}

TsplJob ParseJob(const std::string& job)
{
    TsplJob out;
    size_t pos = 0;
    while (pos < job.size()) {
        if (job.compare(pos, 7, "BITMAP ") == 0) {
            size_t p = pos + 7;
            long x, y, w, h, mode, len = 0;
            if (!ReadField(job, p, x) || !ReadField(job, p, y) || !ReadField(job, p, w) ||
                !ReadField(job, p, h) || !ReadField(job, p, mode)) {
                ADD_FAILURE() << "bad BITMAP header at " << pos;
                return out;
            }
            if (mode == 1) {
                len = w * h;
            } else if (mode != 3 || !ReadField(job, p, len)) {
                ADD_FAILURE() << "bad BITMAP mode " << mode;
                return out;
            }
            out.lines.push_back(job.substr(pos, p - pos));
            out.mode = static_cast<int>(mode);
            if (p + len + 2 > job.size() || job.compare(p + len, 2, "\r\n") != 0) {
                ADD_FAILURE() << "BITMAP payload of " << len << " bytes not followed by CR LF";
                return out;
            }
            out.payload = job.substr(p, len);
            pos = p + len + 2;
        } else {
            const size_t end = job.find("\r\n", pos);
            if (end == std::string::npos) {
                ADD_FAILURE() << "unterminated line: " << job.substr(pos);
                return out;
            }
            out.lines.push_back(job.substr(pos, end - pos));
            pos = end + 2;
        }
    }
    return out;
}

// The lines of a job that start with one of the given command words.
std::vector<std::string> LinesStarting(const TsplJob& job, std::vector<std::string> words)
{
    std::vector<std::string> out;
    for (const auto& line : job.lines)
        for (const auto& w : words)
            if (line.compare(0, w.size(), w) == 0) {
                out.push_back(line);
                break;
            }
    return out;
}

const char* const kSampleLabelLines[] = {
    "SIZE 50.05 mm,30.03 mm",
    "SET RIBBON OFF",
    "REFERENCE 0,0",
    "GAP 3 mm,0 mm",
    "OFFSET 0 mm",
    "DENSITY 8",
    "SPEED 4",
    "SETC AUTODOTTED OFF",
    "SETC PAUSEKEY ON",
    "SETC WATERMARK ON",
    "CLS",
    "BITMAP 0,0,52,240,1,",
    "PRINT 1,1",
};

TEST(PrinterTSPL, SampleLabelIsOneJobInOneWrite)
{
    RecordingTSPL p;
    SampleLabelSettings(p);
    MakeAsciiImage(p.m_image, LabelArt());
    const std::string prepared = ImageBytes(p.m_image);
    ASSERT_EQ(prepared.size(), 12480u);

    p.OnPaintBmp();

    ASSERT_EQ(p.writes.size(), 1u);
    const std::string& job = p.writes[0];
    // The golden file must itself be the sample label: its text lines, then
    // the prepared image unchanged (mode 1, a clear bit prints).
    const TsplJob parsed = ParseJob(job);
    EXPECT_EQ(parsed.lines, std::vector<std::string>(std::begin(kSampleLabelLines),
                                                     std::end(kSampleLabelLines)));
    EXPECT_TRUE(parsed.payload == prepared);
    ExpectGolden("tspl", "page_400x240_203dpi_mode1.bin", job);

    EXPECT_EQ(ImageBytes(p.m_image), prepared) << "mode 1 leaves the page image as prepared";
    EXPECT_EQ(p.m_buffer.GetBufferLength(), 0) << "buffer is emptied after the page";
    ASSERT_FALSE(p.logs.empty());
    EXPECT_EQ(p.logs[0], "OnPaintBmp");
}

struct SettingCase {
    const char* name;
    std::function<void(CPrinterTSPL&)> set;
    std::vector<std::string> words;     // command words looked at
    std::vector<std::string> expected;  // the lines they give, in order
};

void PrintTo(const SettingCase& c, std::ostream* os)
{
    *os << c.name;
}

class PrinterTSPLSettings : public ::testing::TestWithParam<SettingCase> {};

TEST_P(PrinterTSPLSettings, WriteTheirLines)
{
    const SettingCase& c = GetParam();
    RecordingTSPL p;
    SampleLabelSettings(p);
    MakeAsciiImage(p.m_image, {"X..X", ".XX."});
    c.set(p);
    p.OnPaintBmp();
    ASSERT_EQ(p.writes.size(), 1u);
    EXPECT_EQ(LinesStarting(ParseJob(p.writes[0]), c.words), c.expected);
}

const SettingCase kSettingCases[] = {
    // Speed: 0 and above 12 are out of range and become 4; -1 leaves the
    // printer's own speed.
    {"Speed0", [](CPrinterTSPL& p) { p.m_reg.iSpeed = 0; }, {"SPEED"}, {"SPEED 4"}},
    {"Speed13", [](CPrinterTSPL& p) { p.m_reg.iSpeed = 13; }, {"SPEED"}, {"SPEED 4"}},
    {"Speed12", [](CPrinterTSPL& p) { p.m_reg.iSpeed = 12; }, {"SPEED"}, {"SPEED 12"}},
    {"Speed1", [](CPrinterTSPL& p) { p.m_reg.iSpeed = 1; }, {"SPEED"}, {"SPEED 1"}},
    {"SpeedDefault", [](CPrinterTSPL& p) { p.m_reg.iSpeed = -1; }, {"SPEED"}, {}},
    // Density: no upper limit; -1 leaves the printer's own darkness.
    {"DensityDefault", [](CPrinterTSPL& p) { p.m_reg.iDensity = -1; }, {"DENSITY"}, {}},
    {"Density20", [](CPrinterTSPL& p) { p.m_reg.iDensity = 20; }, {"DENSITY"}, {"DENSITY 20"}},
    {"Density0", [](CPrinterTSPL& p) { p.m_reg.iDensity = 0; }, {"DENSITY"}, {"DENSITY 0"}},
    // Media by iGap[0]: continuous is a zero gap whatever the lengths hold.
    {"Continuous",
     [](CPrinterTSPL& p) { p.m_reg.iGap[0] = 0, p.m_reg.iGap[1] = 7, p.m_reg.iGap[2] = 2; },
     {"GAP", "BLINE"},
     {"GAP 0 mm,0 mm"}},
    {"Gap",
     [](CPrinterTSPL& p) { p.m_reg.iGap[0] = 1, p.m_reg.iGap[1] = 5, p.m_reg.iGap[2] = 2; },
     {"GAP", "BLINE"},
     {"GAP 5 mm,2 mm"}},
    {"BlackLine",
     [](CPrinterTSPL& p) { p.m_reg.iGap[0] = 2, p.m_reg.iGap[1] = 4, p.m_reg.iGap[2] = -1; },
     {"GAP", "BLINE"},
     {"BLINE 4 mm,-1 mm"}},
    {"Perforated", [](CPrinterTSPL& p) { p.m_reg.iGap[0] = 3; }, {"GAP", "BLINE"}, {}},
    {"Roll", [](CPrinterTSPL& p) { p.m_reg.iGap[0] = 4; }, {"GAP", "BLINE"}, {}},
    {"Recording", [](CPrinterTSPL& p) { p.m_reg.iGap[0] = 5; }, {"GAP", "BLINE"}, {}},
    {"MediaUnknown", [](CPrinterTSPL& p) { p.m_reg.iGap[0] = -1; }, {"GAP", "BLINE"}, {}},
    // Ribbon by print type; peel only for modes 1 and 3.
    {"DirectThermal", [](CPrinterTSPL& p) { p.m_reg.iPrinttype = 0; }, {"SET "}, {"SET RIBBON OFF"}},
    {"Ribbon", [](CPrinterTSPL& p) { p.m_reg.iPrinttype = 1; }, {"SET "}, {"SET RIBBON ON"}},
    {"PrintType2", [](CPrinterTSPL& p) { p.m_reg.iPrinttype = 2; }, {"SET "}, {}},
    {"PeelOff",
     [](CPrinterTSPL& p) { p.m_reg.iPeelMode = 1; },
     {"SET "},
     {"SET RIBBON OFF", "SET PEEL OFF"}},
    {"PeelOn",
     [](CPrinterTSPL& p) { p.m_reg.iPeelMode = 3, p.m_reg.iPrinttype = 1; },
     {"SET "},
     {"SET RIBBON ON", "SET PEEL ON"}},
    {"Peel2", [](CPrinterTSPL& p) { p.m_reg.iPeelMode = 2; }, {"SET "}, {"SET RIBBON OFF"}},
    // Peel sits between ribbon and reference; black line before offset.
    {"OrderWithPeelAndBlackLine",
     [](CPrinterTSPL& p) {
         p.m_reg.iPrinttype = 1, p.m_reg.iPeelMode = 3, p.m_reg.iReference[0] = 8;
         p.m_reg.iGap[0] = 2, p.m_reg.iGap[1] = 4, p.m_reg.iGap[2] = 1, p.m_reg.iOffset = 2;
     },
     {"SET ", "REFERENCE", "GAP", "BLINE", "OFFSET"},
     {"SET RIBBON ON", "SET PEEL ON", "REFERENCE 63,0", "BLINE 4 mm,1 mm", "OFFSET 2 mm"}},
    // Offset and the SETC switches.
    {"Offset", [](CPrinterTSPL& p) { p.m_reg.iOffset = -3; }, {"OFFSET"}, {"OFFSET -3 mm"}},
    {"SetcAllFlipped",
     [](CPrinterTSPL& p) {
         p.m_reg.iDottedline = true, p.m_reg.bPauseKey = false, p.m_reg.bWaterMark = false;
     },
     {"SETC"},
     {"SETC AUTODOTTED ON", "SETC PAUSEKEY OFF", "SETC WATERMARK OFF"}},
    // Reference: stored value x dpi in 32 bits, / 25.4 truncated toward
    // zero. The huge ones wrap in 32 bits (20000000 x 203 = 4060000000).
    {"Reference203",
     [](CPrinterTSPL& p) { p.m_reg.iReference[0] = 8, p.m_reg.iReference[1] = 16; },
     {"REFERENCE"},
     {"REFERENCE 63,127"}},
    {"Reference24",
     [](CPrinterTSPL& p) { p.m_reg.iReference[0] = 24, p.m_reg.iReference[1] = -8; },
     {"REFERENCE"},
     {"REFERENCE 191,-63"}},
    {"Reference300",
     [](CPrinterTSPL& p) { p.m_iDpi = 300, p.m_reg.iReference[0] = 8; },
     {"REFERENCE"},
     {"REFERENCE 94,0"}},
    {"ReferenceWraps",
     [](CPrinterTSPL& p) {
         p.m_reg.iReference[0] = 20000000, p.m_reg.iReference[1] = -20000000;
     },
     {"REFERENCE"},
     {"REFERENCE -9250680,9250680"}},
    // SIZE: both lengths through the horizontal resolution, two decimals.
    {"Size384At203",
     [](CPrinterTSPL& p) { MakeAsciiImage(p.m_image, std::vector<std::string>(240, std::string(384, '.'))); },
     {"SIZE"},
     {"SIZE 48.05 mm,30.03 mm"}},
    {"Size576At300",
     [](CPrinterTSPL& p) {
         p.m_iDpi = 300;
         MakeAsciiImage(p.m_image, std::vector<std::string>(300, std::string(576, '.')));
     },
     {"SIZE"},
     {"SIZE 48.77 mm,25.40 mm"}},
};

INSTANTIATE_TEST_SUITE_P(Table, PrinterTSPLSettings, ::testing::ValuesIn(kSettingCases),
                         [](const ::testing::TestParamInfo<SettingCase>& param) {
                             return std::string(param.param.name);
                         });

// The unit codes of the length commands: 1 " mm", 2 " dot", else nothing.
TEST(PrinterTSPL, UnitSuffixes)
{
    CPrinterTSPL p;
    p.cmdGAP(2, 1, 2);
    p.cmdBLINE(3, 0, 0);
    p.cmdOFFSET(-4, 1);
    p.cmdSIZE(1.005, 2.5, 7);
    const std::string text(reinterpret_cast<const char*>(p.m_buffer.GetBuffer()),
                           p.m_buffer.GetBufferLength());
    EXPECT_EQ(text, "GAP 2 dot,1 dot\r\n"
                    "BLINE 3,0\r\n"
                    "OFFSET -4 mm\r\n"
                    "SIZE 1.00,2.50\r\n");  // 1.005 is stored just below 1.005
}

// Reals keep a '.' point under a locale whose decimal point is a comma.
TEST(PrinterTSPL, SizeIgnoresCommaDecimalLocale)
{
    const char* const names[] = {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8",
                                 "fr_FR.utf8", "nl_NL.UTF-8", "ru_RU.UTF-8"};
    const char* active = nullptr;
    for (const char* name : names) {
        if (std::setlocale(LC_NUMERIC, name)) {
            char probe[16];
            std::snprintf(probe, sizeof probe, "%.2f", 1.5);
            if (std::string(probe) == "1,50") {
                active = name;
                break;
            }
        }
    }
    if (!active) {
        std::setlocale(LC_NUMERIC, "C");
        GTEST_SKIP() << "no comma-decimal locale installed (LOCPATH can point to one)";
    }

    RecordingTSPL p;
    SampleLabelSettings(p);
    MakeAsciiImage(p.m_image, LabelArt());
    p.OnPaintBmp();
    std::setlocale(LC_NUMERIC, "C");

    ASSERT_EQ(p.writes.size(), 1u);
    EXPECT_EQ(LinesStarting(ParseJob(p.writes[0]), {"SIZE"}),
              std::vector<std::string>{"SIZE 50.05 mm,30.03 mm"})
        << "locale " << active;
}

// A 401-dot page: stride 52, ink in the last column 400, and the 15
// padding bits 401..415 white. Mode 1 sends them as 1, mode 3 as 0.
TEST(PrinterTSPL, PaddingBitsOf401DotPageInBothModes)
{
    for (const bool compressed : {false, true}) {
        SCOPED_TRACE(compressed ? "mode 3" : "mode 1");
        RecordingTSPL p;
        SampleLabelSettings(p);
        p.m_regHalftone.ImageCompress = compressed;
        std::vector<std::string> rows(2, std::string(401, '.'));
        rows[0][400] = 'X';
        rows[1][0] = 'X';
        MakeAsciiImage(p.m_image, rows);
        p.AdjustEffWidthBits();
        ASSERT_EQ(p.m_image.GetEffWidth(), 52u);

        p.OnPaintBmp();
        ASSERT_EQ(p.writes.size(), 1u);
        const TsplJob job = ParseJob(p.writes[0]);
        std::string rowsSent = job.payload;
        if (compressed) {
            ASSERT_EQ(job.mode, 3);
            rowsSent.assign(104, '\0');
            uLongf n = 104;
            ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(&rowsSent[0]), &n,
                                 reinterpret_cast<const Bytef*>(job.payload.data()),
                                 job.payload.size()),
                      Z_OK);
            ASSERT_EQ(n, 104u);
        } else {
            ASSERT_EQ(job.mode, 1);
        }
        ASSERT_EQ(rowsSent.size(), 104u);
        const unsigned char ink = compressed ? 1 : 0;
        // Row 0, byte 50: column 400 (bit 7) ink, columns 401..407 padding;
        // byte 51: columns 408..415, all padding.
        const unsigned char b50 = static_cast<unsigned char>(rowsSent[50]);
        const unsigned char b51 = static_cast<unsigned char>(rowsSent[51]);
        EXPECT_EQ(b50 >> 7, ink);
        EXPECT_EQ(b50 & 0x7F, compressed ? 0x00 : 0x7F);
        EXPECT_EQ(b51, compressed ? 0x00 : 0xFF);
        // Row 1: column 0 ink, column 400 paper.
        EXPECT_EQ(static_cast<unsigned char>(rowsSent[52]) >> 7, ink);
        EXPECT_EQ(static_cast<unsigned char>(rowsSent[52 + 50]), compressed ? 0x00 : 0xFF);
    }
}

// Mode 3: BITMAP x,y,S,H,3,L, then exactly L bytes of a zlib stream of the
// complemented image; the page image is left complemented. Seeded random
// images of several widths.
TEST(PrinterTSPL, CompressedBitmapIsZlibOfComplementedImage)
{
    const unsigned sizes[][2] = {{400, 240}, {203, 37}, {8, 1}, {33, 5}};
    unsigned seed = 1;
    for (const auto& size : sizes) {
        SCOPED_TRACE(testing::Message() << size[0] << " x " << size[1]);
        RecordingTSPL p;
        SampleLabelSettings(p);
        p.m_regHalftone.ImageCompress = true;
        RandomImage(p, size[0], size[1], seed++);
        const std::string prepared = ImageBytes(p.m_image);
        const unsigned stride = p.m_image.GetEffWidth();

        p.OnPaintBmp();

        ASSERT_EQ(p.writes.size(), 1u);
        const TsplJob job = ParseJob(p.writes[0]);
        ASSERT_EQ(job.lines.size(), 13u);
        EXPECT_EQ(job.lines[11], "BITMAP 0,0," + std::to_string(stride) + "," +
                                     std::to_string(size[1]) + ",3," +
                                     std::to_string(job.payload.size()) + ",");
        EXPECT_EQ(job.lines[12], "PRINT 1,1");
        ASSERT_EQ(job.mode, 3);
        ASSERT_GE(job.payload.size(), 2u);
        EXPECT_EQ(static_cast<unsigned char>(job.payload[0]), 0x78) << "zlib header";

        std::string unpacked(prepared.size(), '\0');
        uLongf n = unpacked.size();
        ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(&unpacked[0]), &n,
                             reinterpret_cast<const Bytef*>(job.payload.data()),
                             job.payload.size()),
                  Z_OK);
        ASSERT_EQ(n, prepared.size());
        EXPECT_TRUE(unpacked == Complement(prepared));
        EXPECT_TRUE(ImageBytes(p.m_image) == Complement(prepared))
            << "the page image stays complemented";
    }
}

// When compression fails the page still goes out, in mode 1 with the image
// as prepared, and the failure is traced.
TEST(PrinterTSPL, CompressionFailureFallsBackToMode1)
{
    FailingCompressTSPL p;
    SampleLabelSettings(p);
    p.m_regHalftone.ImageCompress = true;
    MakeAsciiImage(p.m_image, {"XX......X", "..X.X.X..", "........X"});
    const std::string prepared = ImageBytes(p.m_image);

    p.OnPaintBmp();

    EXPECT_EQ(p.calls, 1);
    ASSERT_EQ(p.writes.size(), 1u);
    const TsplJob job = ParseJob(p.writes[0]);
    ASSERT_EQ(job.lines.size(), 13u);
    EXPECT_EQ(job.lines[11], "BITMAP 0,0,4,3,1,");
    EXPECT_EQ(job.lines[12], "PRINT 1,1");
    // Row 0: XX......X -> 0011 1111 0111 1111, then two padding bytes FF.
    EXPECT_TRUE(job.payload == prepared);
    EXPECT_EQ(static_cast<unsigned char>(job.payload[0]), 0x3F);
    EXPECT_EQ(static_cast<unsigned char>(job.payload[1]), 0x7F);
    EXPECT_TRUE(ImageBytes(p.m_image) == prepared) << "the complement is undone";
    EXPECT_EQ(p.logs.back(), "BITMAP: compression failed, bitmap sent uncompressed");
}

// Two pages: two complete jobs, each in its own write, each carrying its
// own page.
TEST(PrinterTSPL, TwoPagesGiveTwoJobsInTwoWrites)
{
    RecordingTSPL p;
    SampleLabelSettings(p);
    const std::vector<std::vector<std::string>> pages = {
        {"X.......", "........"},
        {"........", ".......X", "XXXXXXXX"},
    };
    std::vector<std::string> prepared;
    for (const auto& art : pages) {
        MakeAsciiImage(p.m_image, art);
        prepared.push_back(ImageBytes(p.m_image));
        p.OnPaintBmp();
        EXPECT_EQ(p.m_buffer.GetBufferLength(), 0);
    }

    ASSERT_EQ(p.writes.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const TsplJob job = ParseJob(p.writes[i]);
        ASSERT_EQ(job.lines.size(), 13u);
        EXPECT_EQ(job.lines.front().compare(0, 5, "SIZE "), 0);
        EXPECT_EQ(job.lines[11], "BITMAP 0,0,4," + std::to_string(pages[i].size()) + ",1,");
        EXPECT_EQ(job.lines.back(), "PRINT 1,1");
        EXPECT_TRUE(job.payload == prepared[i]);
        EXPECT_EQ(p.writes[i].substr(p.writes[i].size() - 13), "\r\nPRINT 1,1\r\n");
    }
}

} // namespace

namespace {

// A page image left empty (a crop that failed) still gives a well-formed
// job with an empty bitmap in either mode.
TEST(PrinterTSPL, EmptyPageImageGivesEmptyBitmap)
{
    for (const bool compressed : {false, true}) {
        SCOPED_TRACE(compressed ? "mode 3" : "mode 1");
        RecordingTSPL p;
        SampleLabelSettings(p);
        p.m_regHalftone.ImageCompress = compressed;
        p.OnPaintBmp();
        ASSERT_EQ(p.writes.size(), 1u);
        const TsplJob job = ParseJob(p.writes[0]);
        ASSERT_EQ(job.lines.size(), 13u);
        EXPECT_EQ(job.lines[0], "SIZE 0.00 mm,0.00 mm");
        if (compressed) {
            EXPECT_EQ(job.lines[11], "BITMAP 0,0,0,0,3," + std::to_string(job.payload.size()) + ",");
            Bytef out[1];
            uLongf n = sizeof out;
            EXPECT_EQ(uncompress(out, &n, reinterpret_cast<const Bytef*>(job.payload.data()),
                                 job.payload.size()),
                      Z_OK);
            EXPECT_EQ(n, 0u);
        } else {
            EXPECT_EQ(job.lines[11], "BITMAP 0,0,0,0,1,");
        }
    }
}

} // namespace
