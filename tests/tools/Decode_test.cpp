// The stream decoders of bandrill-decode: hand-built streams of each
// printer language decoded to pages (ASCII art, 'X' ink, '.' paper), the
// listing of the fields that matter, and the handling of truncated,
// corrupted and oversized input.
#include <gtest/gtest.h>

#include <png.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "PrinterFamilies.h"
#include "StreamDecode.h"
#include "TempDir.h"

using namespace NS_DECODE;

namespace {

using Rows = std::vector<std::string>;

// "1B 40 00" -> the three bytes.
std::string Hex(const char* text)
{
    std::string out;
    int nibbles = 0;
    unsigned v = 0;
    for (const char* p = text; *p; ++p) {
        char c = *p;
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else
            continue;
        v = v * 16 + d;
        if (++nibbles == 2) {
            out += static_cast<char>(v);
            nibbles = 0;
            v = 0;
        }
    }
    return out;
}

std::string Le16(unsigned v)
{
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}

std::string Le32(uint32_t v)
{
    return Le16(v & 0xFFFF) + Le16(v >> 16);
}

// Packs ASCII rows into bytes, set bit = 'X', rows padded to whole bytes.
std::string PackInk(const Rows& rows)
{
    std::string out;
    for (const std::string& r : rows) {
        std::string row((r.size() + 7) / 8, '\0');
        for (size_t x = 0; x < r.size(); ++x)
            if (r[x] == 'X')
                row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
        out += row;
    }
    return out;
}

std::string Complement(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(~c);
    return s;
}

std::string Zlib(const std::string& s)
{
    uLongf n = compressBound(static_cast<uLong>(s.size()));
    std::string out(n, '\0');
    compress(reinterpret_cast<Bytef*>(&out[0]), &n, reinterpret_cast<const Bytef*>(s.data()),
             static_cast<uLong>(s.size()));
    out.resize(n);
    return out;
}

Rows ToAscii(const tagDecodedPage& page)
{
    Rows rows;
    for (int y = 0; y < page.iHeight; ++y) {
        std::string r;
        for (int x = 0; x < page.iWidth; ++x)
            r += page.IsInk(x, y) ? 'X' : '.';
        rows.push_back(r);
    }
    return rows;
}

tagDecodeResult Decode(const std::string& lang, const std::string& s, const tagDecodeLimits& limits = {})
{
    tagDecodeResult r;
    DecodeStream(lang, reinterpret_cast<const unsigned char*>(s.data()), s.size(), r, limits);
    return r;
}

bool Lists(const tagDecodeResult& r, const std::string& text)
{
    return r.strListing.find(text) != std::string::npos;
}

// A picture 16 dots wide, as the filter's page image would hold it after
// preparation; the decoded pages show it padded to the bitmap's bytes.
const Rows kPicture = {
    "X..............X",
    ".XX..........XX.",
    "XXXXXXXX........",
};

// ---------------------------------------------------------------- TSPL

std::string TsplPage(const std::string& bitmapLine)
{
    return "SIZE 2.00 mm,0.38 mm\r\n"
           "SET RIBBON OFF\r\n"
           "REFERENCE 0,0\r\n"
           "GAP 3 mm,0 mm\r\n"
           "OFFSET 0 mm\r\n"
           "DENSITY 8\r\n"
           "SPEED 4\r\n"
           "SETC AUTODOTTED OFF\r\n"
           "SETC PAUSEKEY ON\r\n"
           "SETC WATERMARK ON\r\n"
           "CLS\r\n" +
           bitmapLine +
           "PRINT 1,1\r\n";
}

std::string TsplMode1(const Rows& rows)
{
    // Mode 1 sends the page image as it is: a 0 bit prints.
    return "BITMAP 0,0,2," + std::to_string(rows.size()) + ",1," + Complement(PackInk(rows)) + "\r\n";
}

std::string TsplMode3(const Rows& rows)
{
    // Mode 3 sends the complemented image through zlib: a 1 bit prints.
    std::string z = Zlib(PackInk(rows));
    return "BITMAP 0,0,2," + std::to_string(rows.size()) + ",3," + std::to_string(z.size()) + "," + z + "\r\n";
}

TEST(DecodeTSPL, BothBitmapModesGiveTheSamePage)
{
    for (const std::string& bitmap : {TsplMode1(kPicture), TsplMode3(kPicture)}) {
        tagDecodeResult r = Decode("tspl", TsplPage(bitmap));
        ASSERT_TRUE(r.bOk) << r.strError;
        ASSERT_EQ(r.vPages.size(), 1u);
        EXPECT_EQ(ToAscii(r.vPages[0]), kPicture) << r.strListing;
        EXPECT_TRUE(r.vWarnings.empty());
    }
}

TEST(DecodeTSPL, ListsTheSettingsOfThePage)
{
    tagDecodeResult r = Decode("tspl", TsplPage(TsplMode3(kPicture)));
    ASSERT_TRUE(r.bOk) << r.strError;
    for (const char* text : {"label size, width 2.00 mm, height 0.38 mm", "ribbon off",
                             "media gap, gap 3 mm, offset 0 mm", "density 8", "speed 4",
                             "setting AUTODOTTED OFF", "setting WATERMARK ON",
                             "2 bytes (16 dots) × 3 rows, mode 3 (zlib, 1 = ink)", "print 1 set(s)",
                             "page 1: image 16 × 3 dots"})
        EXPECT_TRUE(Lists(r, text)) << text << "\n" << r.strListing;
    EXPECT_EQ(SummaryLine(r), "summary: 1 page, 0 warnings");
}

TEST(DecodeTSPL, BitmapsAreLaidOutAtTheirPositionAndPagesEndAtPrint)
{
    // Page 1: one byte-wide bitmap at x 3, y 1. Page 2: a bitmap at 0,0.
    std::string s = "CLS\r\nBITMAP 3,1,1,1,1," + Hex("0F") + "\r\nPRINT 1\r\n" + "CLS\r\nBITMAP 0,0,1,1,1," +
                    Hex("FE") + "\r\nPRINT 1,1\r\n";
    tagDecodeResult r = Decode("tspl", s);
    ASSERT_TRUE(r.bOk) << r.strError;
    ASSERT_EQ(r.vPages.size(), 2u);
    EXPECT_EQ(ToAscii(r.vPages[0]), (Rows{"...........", "...XXXX...."}));
    EXPECT_EQ(ToAscii(r.vPages[1]), (Rows{".......X"}));
}

// The position and media lines of labels: SHIFT in both forms, and a
// black mark of no height, which printers take for continuous media.
TEST(DecodeTSPL, ListsShiftAndMarkHeights)
{
    const struct {
        const char* line;
        const char* listed;
    } cases[] = {
        {"SHIFT -10", "label start shifted -10 dots down the paper"},
        {"SHIFT 4,24", "label start shifted x 4 dots, y 24 dots"},
        {"BLINE 3 mm,0 mm", "media black line, line height 3 mm, offset 0 mm"},
        {"BLINE 0 mm,0 mm", "media black line of height 0 (printers take it for continuous media)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        tagDecodeResult r = Decode("tspl", std::string("CLS\r\n") + c.line + "\r\nPRINT 1,1\r\n");
        ASSERT_TRUE(r.bOk) << r.strError;
        EXPECT_TRUE(r.vWarnings.empty()) << r.strListing;
        EXPECT_TRUE(Lists(r, c.listed)) << r.strListing;
    }
    EXPECT_FALSE(Decode("tspl", "CLS\r\nSHIFT 1,\r\nPRINT 1,1\r\n").bOk);
}

// Copies: PRINT m,n prints the label m x n times; an absurd count is a
// malformed stream, not a run out of memory.
TEST(DecodeTSPL, PrintCountsGiveThatManyPages)
{
    const std::string label = "CLS\r\nBITMAP 8,1,1,1,1," + Hex("7F") + "\r\n";
    tagDecodeResult r = Decode("tspl", label + "PRINT 1,3\r\n" + label + "PRINT 2,1\r\n");
    ASSERT_TRUE(r.bOk) << r.strError;
    ASSERT_EQ(r.vPages.size(), 5u);
    for (const auto& page : r.vPages)
        EXPECT_EQ(ToAscii(page), (Rows{"................", "........X......."}));
    EXPECT_TRUE(Lists(r, "printed 3 times: pages 1 to 3")) << r.strListing;

    r = Decode("tspl", label + "PRINT 100000,100000\r\n");
    EXPECT_FALSE(r.bOk);
    EXPECT_NE(r.strError.find("at most 10000 copies"), std::string::npos) << r.strError;
}

TEST(DecodeTSPL, UnknownCommandIsAWarningNotAnError)
{
    tagDecodeResult r = Decode("tspl", "CLS\r\nDIRECTION 1\r\nPRINT 1,1\r\n");
    ASSERT_TRUE(r.bOk) << r.strError;
    ASSERT_EQ(r.vWarnings.size(), 1u);
    EXPECT_NE(r.vWarnings[0].find("offset 5: unknown TSPL command \"DIRECTION 1\""), std::string::npos);
    EXPECT_EQ(r.vPages[0].iHeight, 0);  // a label without bitmap is blank
}

TEST(DecodeTSPL, MalformedLinesNameTheOffsetAndTheExpectedForm)
{
    struct Case {
        std::string stream;
        size_t offset;
        const char* expected;
    } cases[] = {
        {"CLS\nPRINT 1,1\r\n", 3, "expected a printable command character or CR LF, found byte 0x0A"},
        {"CLS\r\rPRINT 1,1\r\n", 4, "expected LF after CR"},
        {"SIZE 50 mm;30 mm\r\n", 0, "expected SIZE width,height"},
        {"BITMAP 0,0,1,1,2,\xff\r\nPRINT 1,1\r\n", 15, "expected BITMAP mode 1 (raw) or 3 (zlib), found 2"},
        {"BITMAP 0,0,1,x", 13, "expected the BITMAP field height (decimal digits), found byte 0x78 ('x')"},
        {"BITMAP 0,0,1,1,1,\xff\xff\r\n", 18, "expected CR after the bitmap data (0D), found byte 0xFF"},
        {"CLS\r\n", 5, "expected PRINT to end page 1 (begun at offset 0), found end of stream"},
        {"", 0, "expected at least one page, found an empty stream"},
    };
    for (const Case& c : cases) {
        tagDecodeResult r = Decode("tspl", c.stream);
        EXPECT_FALSE(r.bOk) << c.stream;
        EXPECT_EQ(r.nErrorOffset, c.offset) << r.strError;
        EXPECT_NE(r.strError.find(c.expected), std::string::npos) << r.strError;
    }
}

TEST(DecodeTSPL, ZlibPayloadMustMatchItsFields)
{
    std::string z8 = Zlib(std::string(8, '\x0F'));
    std::string cases[] = {
        // 2 × 2 bytes declared, 8 inflated.
        "BITMAP 0,0,2,2,3," + std::to_string(z8.size()) + "," + z8 + "\r\nPRINT 1\r\n",
        // The length field covers a byte past the zlib stream.
        "BITMAP 0,0,2,4,3," + std::to_string(z8.size() + 1) + "," + z8 + "\r\r\nPRINT 1\r\n",
        // Not zlib at all.
        "BITMAP 0,0,1,1,3,4,abcd\r\nPRINT 1\r\n",
    };
    for (const std::string& s : cases) {
        tagDecodeResult r = Decode("tspl", s);
        EXPECT_FALSE(r.bOk);
        EXPECT_NE(r.strError.find("zlib"), std::string::npos) << r.strError;
    }
}

// ------------------------------------------------------- ESC/POS, PeriPage

const std::string kEscPosPage = Hex(
    "1B 40 00"                 // initialise, NUL
    "1B 61 01"                 // centre
    "1D 76 30 00 02 00 03 00"  // GS v 0, mode 0, 2 bytes wide, 3 rows
    "80 01  60 06  FF 00"      // rows, 1 = ink
    "1B 4A FF  1B 4A 40"       // feed 319 dots as 255 + 64
    "1D 56 31");               // partial cut

TEST(DecodeESCPOS, PageFromInitialiseToCut)
{
    tagDecodeResult r = Decode("escpos", kEscPosPage + kEscPosPage);
    ASSERT_TRUE(r.bOk) << r.strError;
    ASSERT_EQ(r.vPages.size(), 2u);
    EXPECT_EQ(ToAscii(r.vPages[0]), kPicture);
    EXPECT_EQ(ToAscii(r.vPages[1]), kPicture);
    for (const char* text : {"justification centre", "mode 0 (normal), 2 bytes (16 dots) × 3 rows",
                             "feed run: 2 commands, 319 dots in all", "partial cut"})
        EXPECT_TRUE(Lists(r, text)) << text << "\n" << r.strListing;
}

TEST(DecodeESCPOS, ConsecutiveRasterImagesOfAPageAreJoined)
{
    // A tall page comes as several GS v 0 of at most 65535 rows; the
    // bands stack into one page image, in order.
    std::string s = Hex("1B 40 00  1D 76 30 00 01 00 02 00  80 40"
                        "1D 76 30 00 01 00 01 00  20"
                        "1D 56 31");
    tagDecodeResult r = Decode("escpos", s);
    ASSERT_TRUE(r.bOk) << r.strError;
    ASSERT_EQ(r.vPages.size(), 1u);
    EXPECT_EQ(ToAscii(r.vPages[0]), (Rows{"X.......", ".X......", "..X....."}));
    EXPECT_TRUE(Lists(r, "page 1: image 8 × 3 dots from 2 raster image(s)")) << r.strListing;
}

TEST(DecodeESCPOS, SeededBandsJoinBackToTheImage)
{
    std::mt19937 rng(20240611);
    for (int round = 0; round < 30; ++round) {
        unsigned w = 1 + rng() % 9, h = 1 + rng() % 40;
        std::string img(w * h, '\0');
        for (char& c : img)
            c = static_cast<char>(rng());
        std::string s = Hex("1B 40 00 1B 61 01");
        for (unsigned y = 0; y < h;) {
            unsigned band = 1 + rng() % (h - y);
            s += Hex("1D 76 30 00") + Le16(w) + Le16(band) + img.substr(y * w, band * w);
            y += band;
        }
        s += Hex("1D 56 31");
        tagDecodeResult r = Decode("escpos", s);
        ASSERT_TRUE(r.bOk) << r.strError;
        ASSERT_EQ(r.vPages.size(), 1u);
        EXPECT_EQ(r.vPages[0].iWidth, static_cast<int>(w * 8));
        EXPECT_EQ(r.vPages[0].iHeight, static_cast<int>(h));
        EXPECT_EQ(std::string(r.vPages[0].vBits.begin(), r.vPages[0].vBits.end()), img);
    }
}

// Paper fed between two images of a page, or before its first, is blank
// rows of the page (two dots a row in the double-height modes); a feed
// after the last image is not.
TEST(DecodeESCPOS, FeedsBetweenImagesAreBlankRows)
{
    const std::string s = Hex("1B 40 00  1B 4A 02"
                              "1D 76 30 00 01 00 01 00  80"
                              "1B 4A 03"
                              "1D 76 30 00 01 00 01 00  01"
                              "1B 4A 05  1D 56 31"
                              "1B 40 00"
                              "1D 76 30 03 01 00 01 00  F0"
                              "1B 4A 04"
                              "1D 76 30 03 01 00 01 00  0F"
                              "1D 56 31");
    tagDecodeResult r = Decode("escpos", s);
    ASSERT_TRUE(r.bOk) << r.strError;
    ASSERT_EQ(r.vPages.size(), 2u);
    EXPECT_EQ(ToAscii(r.vPages[0]),
              (Rows{"........", "........", "X.......", "........", "........", "........",
                    ".......X"}));
    EXPECT_EQ(ToAscii(r.vPages[1]), (Rows{"XXXX....", "........", "........", "....XXXX"}));
}

// A receipt cut once per job: the pages follow one another uncut, the
// feed and cut come after the last, a drawer kick may come before or after
// them.
TEST(DecodeESCPOS, PagesOfOneSlipFollowUncut)
{
    const std::string page1 = Hex("1B 40 00 1B 61 01 1D 76 30 00 01 00 01 00 80");
    const std::string page2 = Hex("1B 40 00 1B 61 01 1D 76 30 00 01 00 02 00 40 20");
    const struct {
        std::string stream;
        const char* listed;
    } kCases[] = {
        {page1 + page2 + Hex("1B 4A 4F 1D 56 42 00"), "feed 0 dots and partial cut"},
        {Hex("1B 40 00 1B 70 00 19 FA") + page1.substr(3) + page2 + Hex("1D 56 31"),
         "cash drawer 1 (pin 2), 50 ms on, 500 ms off"},
        {page1 + page2 + Hex("1D 56 31 1B 70 01 19 FA"), "cash drawer 2 (pin 5), 50 ms on, 500 ms off"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.listed);
        tagDecodeResult r = Decode("escpos", c.stream);
        ASSERT_TRUE(r.bOk) << r.strError << "\n" << r.strListing;
        ASSERT_EQ(r.vPages.size(), 2u);
        EXPECT_EQ(ToAscii(r.vPages[0]), (Rows{"X......."}));
        EXPECT_EQ(ToAscii(r.vPages[1]), (Rows{".X......", "..X....."}));
        EXPECT_TRUE(Lists(r, "page 1: not cut, the next page follows on the same slip")) << r.strListing;
        EXPECT_TRUE(Lists(r, c.listed)) << r.strListing;
    }
}

TEST(DecodeESCPOS, StructuralFaults)
{
    struct Case {
        std::string stream;
        size_t offset;
        const char* expected;
    } cases[] = {
        // A cut with nothing before it still needs its page's image.
        {Hex("1B 40 00 1D 76 30 00 01 00 01 00 FF 1B 40 00 1B 61 01"), 18,
         "expected a cut (1D 56) to end page 2 (begun at offset 12)"},
        {Hex("1B 40 00 1B 70 02 19 FA"), 5, "expected ESC p pin 0, 1, 48 or 49, found 2"},
        // Bands of one page must share their width.
        {Hex("1B 40 1D 76 30 00 01 00 01 00 FF 1D 76 30 00 02 00 01 00 FF FF 1D 56 31"), 15,
         "expected the width of page 1's earlier raster image, 1 bytes"},
        {Hex("1B 40 1D 76 30 07 01 00 01 00 FF 1D 56 31"), 5, "expected GS v 0 mode 0 to 3 or 48 to 51"},
        {Hex("1B 40 41 42"), 2, "expected a command (00, 1B, 1D), found byte 0x41 ('A')"},
        {Hex("1B 40 10 50"), 2, "expected a command (00, 1B, 1D)"},  // PeriPage only
        {Hex("1B 40 00 1B 61 01"), 6, "expected a cut (1D 56) to end page 1 (begun at offset 0)"},
    };
    for (const Case& c : cases) {
        tagDecodeResult r = Decode("escpos", c.stream);
        EXPECT_FALSE(r.bOk);
        EXPECT_EQ(r.nErrorOffset, c.offset) << r.strError;
        EXPECT_NE(r.strError.find(c.expected), std::string::npos) << r.strError;
    }
}

const std::string kPeriPagePage = Hex(
    "10 FF FE 01"              // start of page
    "10 FF 10 03 00"           // paper type: black line
    "1B 40 00"                 // initialise, NUL
    "10 FF 10 00 05"           // density 5
    "1B 61 01"                 // centre
    "1D 76 30 00 02 00 03 00"  // GS v 0, 2 bytes × 3 rows
    "80 01  60 06  FF 00"
    "1D 0C"                    // feed to the next mark
    "1B 4A 4F"                 // feed 79 dots
    "1D 56 31"                 // a cut does not end a PeriPage page
    "10 FF FE 45");            // end of page

TEST(DecodePeriPage, PageFromStartToEndCommand)
{
    tagDecodeResult r = Decode("peripage", kPeriPagePage + kPeriPagePage);
    ASSERT_TRUE(r.bOk) << r.strError;
    ASSERT_EQ(r.vPages.size(), 2u);
    EXPECT_EQ(ToAscii(r.vPages[1]), kPicture);
    for (const char* text : {"paper type black line", "density 5", "feed marked paper", "feed 79 dots",
                             "10 FF FE 45: end of page"})
        EXPECT_TRUE(Lists(r, text)) << text << "\n" << r.strListing;
}

TEST(DecodePeriPage, StartInsideAnOpenPageIsAnError)
{
    std::string s = Hex("10 FF FE 01 1B 40 00 10 FF FE 01");
    tagDecodeResult r = Decode("peripage", s);
    EXPECT_FALSE(r.bOk);
    EXPECT_EQ(r.nErrorOffset, 7u);
    EXPECT_NE(r.strError.find("expected the end command 10 FF FE 45 to end page 1"), std::string::npos);
}

// ----------------------------------------------------------------- CPCL

std::string CpclPage(const std::string& data)
{
    // The CG data follows the y field directly; its first byte is the
    // digit '0' (0x30) here, which must not be read as part of the field.
    return "! 64 200 200 3 1\r\n"
           "PAGE - WIDTH 2\r\n"
           "CG 2 3 0 0" +
           data + "FORM\r\nPRINT\r\n";
}

TEST(DecodeCPCL, GraphicsRightAfterTheFieldsThenFormAndPrint)
{
    std::string data = Hex("30 0C  80 01  FF 00");
    tagDecodeResult r = Decode("cpcl", CpclPage(data));
    ASSERT_TRUE(r.bOk) << r.strError;
    ASSERT_EQ(r.vPages.size(), 1u);
    EXPECT_EQ(ToAscii(r.vPages[0]), (Rows{"..XX........XX..", "X..............X", "XXXXXXXX........"}));
    for (const char* text : {"label header, offset 64, resolution 200 × 200, height 3 rows, quantity 1",
                             "page width 2", "graphics at x 0, y 0, 2 bytes (16 dots) × 3 rows",
                             "FORM: feed to the next label"})
        EXPECT_TRUE(Lists(r, text)) << text << "\n" << r.strListing;
}

// One graphic per area of ink in the standard form: a space before the
// data and CR LF after it, even when the data starts with a space or a
// digit; the header's quantity prints the label that many times.
TEST(DecodeCPCL, StandardGraphicsAtTheirPlaceAndQuantity)
{
    const std::string s = "! 0 200 200 4 2\r\nPAGE - WIDTH 3\r\n"
                          "CG 1 1 8 2 " + Hex("20") + "\r\n"
                          "CG 2 2 0 0 " + Hex("31 00 00 80") + "\r\n"
                          "PRINT\r\n";
    tagDecodeResult r = Decode("cpcl", s);
    ASSERT_TRUE(r.bOk) << r.strError;
    ASSERT_EQ(r.vPages.size(), 2u);
    const Rows page = {"..XX...X........", "........X.......", "..........X....."};
    EXPECT_EQ(ToAscii(r.vPages[0]), page);
    EXPECT_EQ(ToAscii(r.vPages[1]), page);
}

TEST(DecodeCPCL, CommandsOutsideALabelAreErrors)
{
    tagDecodeResult r = Decode("cpcl", "PRINT\r\n");
    EXPECT_FALSE(r.bOk);
    EXPECT_NE(r.strError.find("offset 0: expected a header line"), std::string::npos) << r.strError;

    r = Decode("cpcl", "! 0 200 200 1 1\r\n! 0 200 200 1 1\r\n");
    EXPECT_FALSE(r.bOk);
    EXPECT_EQ(r.nErrorOffset, 17u);
}

// ------------------------------------------------------------- Paperang

std::string Frame(const std::string& payload, uint8_t type = 0x01)
{
    uint32_t crc = static_cast<uint32_t>(
        crc32(0x35769521UL, reinterpret_cast<const Bytef*>(payload.data()), static_cast<uInt>(payload.size())));
    return std::string{'\xA5', static_cast<char>(type)} + Le16(static_cast<unsigned>(payload.size())) +
           payload + Le32(crc) + "\x5A";
}

std::string Record(uint8_t cmd, const std::string& data)
{
    return std::string{'\x05', static_cast<char>(cmd), '\x03'} + Le16(static_cast<unsigned>(data.size())) + data;
}

// Frames of a 2-row page with a stride of 4 bytes, 00 00 00 00 / FF 00 00 00.
const std::string kBegin = Hex("A5 01 05 00  05 19 03 00 00  57 1F E7 A5  5A");
const std::string kTree = Hex(
    "A5 01 11 00"
    "05 1C 03 0C 00"
    "00 01 FF 00 00 00"  // pre-order: 256, 255, 0
    "FF 00 00 01 00 00"  // in-order: 255, 256, 0
    "5E 11 56 E0 5A");
const std::string kBlock = Hex(
    "A5 01 13 00"
    "05 1B 03 0E 00"
    "00 00"     // block index 0
    "0A 00 01"  // inner length, 01
    "04 00"     // stride 4
    "00 00 01"  // 00 00, coded
    "02 00"     // block length 2
    "00 F7"     // no unused bits; 1111 0111: four 00, one FF, three 00
    "E7 5E D2 75 5A");
const std::string kEnd = Hex("A5 01 05 00  05 1A 03 00 00  B9 B0 52 B7 5A");
const std::string kFeed0 = Hex("A5 01 07 00  05 16 03 02 00 00 00  20 0B 74 62 5A");
const std::string kLocate100 = Hex("A5 01 09 00  05 21 03 04 00 64 00 00 00  8C 54 9A AE 5A");

const Rows kPaperangPage = {
    "................................",
    "XXXXXXXX........................",
};

TEST(DecodePaperang, WorkedExampleFramesGiveThePage)
{
    tagDecodeResult r = Decode("paperang", kBegin + kTree + kBlock + kEnd + kFeed0 + kBegin + kTree +
                                                  kBlock + kEnd + kLocate100);
    ASSERT_TRUE(r.bOk) << r.strError;
    ASSERT_EQ(r.vPages.size(), 2u);
    EXPECT_EQ(ToAscii(r.vPages[0]), kPaperangPage);
    EXPECT_EQ(ToAscii(r.vPages[1]), kPaperangPage);
    EXPECT_TRUE(r.vWarnings.empty());
    for (const char* text : {"@0 frame type 01, length 5, CRC A5E71F57 OK, command 19",
                             "Huffman tree: 3 nodes, 2 leaves, longest code 1 bits",
                             "bitmap block 0: stride 4 bytes, coded, 2 block bytes, 0 unused bits, 8 bits, 8 "
                             "bytes, 2 rows",
                             "feed 0", "paper locate 100", "page 2: image 32 × 2 dots, 1 blocks, 8 coded bits"})
        EXPECT_TRUE(Lists(r, text)) << text << "\n" << r.strListing;
}

TEST(DecodePaperang, BadCrcAndFrameTypeAreReportedAndDecodingGoesOn)
{
    std::string badCrc = kBlock;
    badCrc[badCrc.size() - 2] ^= 0x01;  // last CRC byte
    std::string badType = kEnd;
    badType[1] = 0x02;  // the type is outside the CRC, which stays good
    tagDecodeResult r = Decode("paperang", kBegin + kTree + badCrc + badType);
    ASSERT_TRUE(r.bOk) << r.strError;
    EXPECT_EQ(ToAscii(r.vPages[0]), kPaperangPage);
    ASSERT_EQ(r.vWarnings.size(), 2u);
    EXPECT_EQ(r.vWarnings[0], "offset 63: CRC BAD: the frame carries 74D25EE7, its payload gives 75D25EE7");
    EXPECT_EQ(r.vWarnings[1], "offset 69: frame type 02, expected 01");
    EXPECT_TRUE(Lists(r, "CRC 74D25EE7 BAD (computed 75D25EE7)")) << r.strListing;
    EXPECT_TRUE(Lists(r, "frame type 02, length 5, CRC B752B0B9 OK")) << r.strListing;
    EXPECT_EQ(SummaryLine(r), "summary: 1 page, 2 warnings");
}

TEST(DecodePaperang, RecordFaults)
{
    struct Case {
        std::string stream;
        size_t offset;
        const char* expected;
    } cases[] = {
        {kTree, 0, "expected begin printing (19) before command 1C"},
        {kBegin + kBlock, 32, "expected the Huffman tree (1C) before a coded block"},
        {kBegin + kBegin, 14, "expected end printing (1A) to end page 1 before the next begin printing"},
        // Pre-order 256, 0, 255 against in-order 255, 256, 0: no such tree.
        {kBegin + Frame(Record(0x1C, Hex("00 01 00 00 FF 00  FF 00 00 01 00 00"))), 23,
         "expected the in-order list to hold pre-order symbol 0"},
        // A leaf symbol where the tree needs an internal node.
        {kBegin + Frame(Record(0x1C, Hex("05 00 FF 00 00 00  FF 00 05 00 00 00"))), 23,
         "expected leaf symbol 5 to have no children"},
        {kBegin + Frame(Record(0x1C, Hex("00 01 FF 00 00 00"))), 23, "expected a tree record of 4 bytes per node"},
        // F0 with 3 unused bits is 11110: four 00 and one FF, not whole rows.
        {kBegin + kTree + Frame(Record(0x1B, Hex("00 00 0A 00 01 04 00 00 00 01 02 00 03 F0"))), 61,
         "expected block 0 to hold whole rows of 4 bytes, it gives 5 bytes"},
        {kBegin + kTree + Frame(Record(0x1B, Hex("01 00 0A 00 01 04 00 00 00 01 02 00 00 F7"))), 49,
         "expected block index 0, found 1"},
        {kBegin + Frame(Record(0x19, "")).replace(4, 1, "\x06"), 18, "expected the record class 05, found 06"},
        {kBegin + Frame(Hex("05 16 03 03 00 00 00")), 21, "expected the data length 2 that the payload holds"},
        {kBegin.substr(0, 13) + "\x5B", 13, "expected the frame end (5A), found byte 0x5B"},
    };
    for (const Case& c : cases) {
        tagDecodeResult r = Decode("paperang", c.stream);
        EXPECT_FALSE(r.bOk);
        EXPECT_EQ(r.nErrorOffset, c.offset) << r.strError;
        EXPECT_NE(r.strError.find(c.expected), std::string::npos) << r.strError;
    }
}

TEST(DecodePaperang, BlockEndingInsideACodeIsAnError)
{
    // A four-leaf tree (codes of two bits) and a block of 3 bits.
    std::string tree = Record(0x1C, Hex("02 01 00 01 01 00 02 00 01 01 03 00 04 00"
                                        "01 00 00 01 02 00 02 01 03 00 01 01 04 00"));
    std::string block = Record(0x1B, Hex("00 00 0A 00 01 01 00 00 00 01 02 00 05 00"));
    tagDecodeResult r = Decode("paperang", kBegin + Frame(tree) + Frame(block) + kEnd);
    EXPECT_FALSE(r.bOk);
    EXPECT_NE(r.strError.find("the code at bit 2 is cut off"), std::string::npos) << r.strError;
}

// Test-side Huffman coder for the round trips, built the way the printer
// expects: leaves in ascending byte value, joins of the two lightest nodes
// without parent (lowest index on ties, first pick on the left), blocks of
// whole rows below 2040 bits, the unused bits of a block's last byte
// filled with the next block's first bits.
struct HfmNode {
    long weight;
    int left, right, parent;
    unsigned symbol;
};

std::vector<HfmNode> BuildTree(const std::string& data)
{
    long counts[256] = {};
    for (unsigned char c : data)
        ++counts[c];
    std::vector<HfmNode> nodes;
    for (unsigned v = 0; v < 256; ++v)
        if (counts[v])
            nodes.push_back({counts[v], -1, -1, -1, v});
    if (nodes.size() == 1)
        nodes.push_back({1, -1, -1, -1, nodes[0].symbol < 128 ? nodes[0].symbol + 1 : nodes[0].symbol - 1});
    size_t n = nodes.size();
    for (size_t k = n; k < 2 * n - 1; ++k) {
        int pick[2] = {-1, -1};
        for (int p = 0; p < 2; ++p)
            for (int i = 0; i < static_cast<int>(k); ++i)
                if (nodes[i].parent < 0 && i != pick[0] && (pick[p] < 0 || nodes[i].weight < nodes[pick[p]].weight))
                    pick[p] = i;
        nodes.push_back({nodes[pick[0]].weight + nodes[pick[1]].weight, pick[0], pick[1], -1,
                         static_cast<unsigned>(256 + k - n)});
        nodes[pick[0]].parent = nodes[pick[1]].parent = static_cast<int>(k);
    }
    return nodes;
}

void Walk(const std::vector<HfmNode>& t, int i, bool pre, std::string& out)
{
    if (i < 0)
        return;
    if (pre)
        out += Le16(t[i].symbol);
    Walk(t, t[i].left, pre, out);
    if (!pre)
        out += Le16(t[i].symbol);
    Walk(t, t[i].right, pre, out);
}

std::string PaperangPage(const std::string& img, unsigned stride)
{
    std::vector<HfmNode> t = BuildTree(img);
    int root = static_cast<int>(t.size()) - 1;
    std::string lists;
    Walk(t, root, true, lists);
    Walk(t, root, false, lists);
    std::vector<std::string> codes(256);
    for (size_t i = 0; i < (t.size() + 1) / 2; ++i)
        for (int c = static_cast<int>(i); t[c].parent >= 0; c = t[c].parent)
            codes[t[i].symbol].insert(codes[t[i].symbol].begin(), t[t[c].parent].left == c ? '0' : '1');
    std::string bits;
    std::vector<size_t> rowEnd;
    for (size_t y = 0; y < img.size() / stride; ++y) {
        for (size_t x = 0; x < stride; ++x)
            bits += codes[static_cast<unsigned char>(img[y * stride + x])];
        rowEnd.push_back(bits.size());
    }
    std::string out = kBegin + Frame(Record(0x1C, lists));
    size_t start = 0, end = 0;
    unsigned index = 0;
    for (size_t y = 0; y < rowEnd.size(); ++y) {
        bool last = y + 1 == rowEnd.size();
        if (!last && rowEnd[y + 1] - start < 2040)
            continue;
        end = rowEnd[y];
        size_t nBits = end - start;
        size_t nBytes = (nBits + 7) / 8;
        std::string block(1, static_cast<char>(nBytes * 8 - nBits));
        for (size_t i = 0; i < nBytes; ++i) {
            unsigned v = 0;
            for (size_t b = 0; b < 8; ++b) {
                size_t at = start + i * 8 + b;
                v = v << 1 | (at < bits.size() && bits[at] == '1');
            }
            block += static_cast<char>(v);
        }
        std::string data = Le16(index++) + Le16(8 + static_cast<unsigned>(block.size())) + "\x01" + Le16(stride) +
                           Hex("00 00 01") + Le16(static_cast<unsigned>(block.size())) + block;
        out += Frame(Record(0x1B, data));
        start = end;
    }
    return out + kEnd + kFeed0;
}

TEST(DecodePaperang, SeededRandomPagesRoundTrip)
{
    std::mt19937 rng(7051);
    for (int round = 0; round < 40; ++round) {
        unsigned stride = 4 * (1 + rng() % 80);
        unsigned rows = 1 + rng() % 120;
        // From uniform pages to all 256 values, and skewed mixes between.
        unsigned spread = round % 4 == 0 ? 1 : round % 4 == 1 ? 256 : 1 + rng() % 16;
        std::string img(stride * rows, '\0');
        unsigned base = rng() % 256;
        // All values evenly: about 8 bits a byte, so strides above 255
        // bytes give rows of 2040 bits or more, each a block of its own.
        for (char& c : img)
            c = static_cast<char>(spread == 256 ? rng() : rng() % 3 == 0 ? base + rng() % spread : base);
        tagDecodeResult r = Decode("paperang", PaperangPage(img, stride));
        ASSERT_TRUE(r.bOk) << "round " << round << ": " << r.strError;
        ASSERT_EQ(r.vPages.size(), 1u);
        EXPECT_EQ(r.vPages[0].iWidth, static_cast<int>(stride * 8));
        EXPECT_EQ(r.vPages[0].iHeight, static_cast<int>(rows));
        EXPECT_TRUE(std::string(r.vPages[0].vBits.begin(), r.vPages[0].vBits.end()) == img) << "round " << round;
        EXPECT_TRUE(r.vWarnings.empty());
    }
}

// ------------------------------------------------------------ robustness

struct Sample {
    std::string lang;
    std::string stream;
};

std::vector<Sample> OnePageSamples()
{
    return {
        {"tspl", TsplPage(TsplMode1(kPicture))},
        {"tspl", TsplPage(TsplMode3(kPicture))},
        {"escpos", kEscPosPage},
        {"peripage", kPeriPagePage},
        {"cpcl", CpclPage(Hex("30 0C 80 01 FF 00"))},
        // Perforated media: the page ends with end printing.
        {"paperang", kBegin + kTree + kBlock + kEnd},
    };
}

TEST(DecodeRobustness, EveryTruncationOfAOnePageStreamIsAnError)
{
    for (const Sample& s : OnePageSamples()) {
        ASSERT_TRUE(Decode(s.lang, s.stream).bOk) << s.lang;
        for (size_t n = 0; n < s.stream.size(); ++n) {
            // A copy of exactly n bytes, so that a read past the end is seen
            // by the address sanitizer.
            std::vector<unsigned char> cut(s.stream.begin(), s.stream.begin() + static_cast<long>(n));
            tagDecodeResult r;
            EXPECT_FALSE(DecodeStream(s.lang, cut.data(), cut.size(), r)) << s.lang << " " << n;
            EXPECT_LE(r.nErrorOffset, n) << r.strError;
            EXPECT_EQ(r.strError.compare(0, 7, "offset "), 0) << r.strError;
            EXPECT_NE(r.strError.find("expected"), std::string::npos) << r.strError;
        }
    }
}

TEST(DecodeRobustness, SeededCorruptionsNeverBreakTheDecoder)
{
    std::mt19937 rng(99);
    for (const Sample& s : OnePageSamples()) {
        for (int round = 0; round < 300; ++round) {
            std::vector<unsigned char> bytes(s.stream.begin(), s.stream.end());
            for (unsigned k = 0, n = 1 + rng() % 4; k < n; ++k)
                bytes[rng() % bytes.size()] = static_cast<unsigned char>(rng());
            tagDecodeResult r;
            bool ok = DecodeStream(s.lang, bytes.data(), bytes.size(), r);
            EXPECT_EQ(ok, r.bOk);
            if (!ok) {
                EXPECT_LE(r.nErrorOffset, bytes.size());
                EXPECT_FALSE(r.strError.empty());
            }
        }
    }
}

TEST(DecodeRobustness, AbsurdSizesAreRefusedBeforeAllocating)
{
    // Declared sizes far beyond the data (or the limits) fail at the field.
    tagDecodeResult r = Decode("tspl", "BITMAP 0,0,999999999,999999999,3,8," + Zlib("x") + "\r\nPRINT 1\r\n");
    EXPECT_FALSE(r.bOk);
    EXPECT_NE(r.strError.find("expected an image of at most 268435456 bytes"), std::string::npos) << r.strError;

    r = Decode("escpos", Hex("1B 40 1D 76 30 00 FF FF FF FF 00"));
    EXPECT_FALSE(r.bOk);
    EXPECT_EQ(r.nErrorOffset, 10u);
    EXPECT_NE(r.strError.find("raster data of 65535 × 65535 bytes (4294836225 bytes)"), std::string::npos)
        << r.strError;

    r = Decode("tspl", "BITMAP 999999999,999999999,1,1,1,\xff\r\nPRINT 1\r\n");
    EXPECT_FALSE(r.bOk);
    EXPECT_NE(r.strError.find("expected a page of at most"), std::string::npos) << r.strError;

    // Smaller limits, as a fuzz run would set them: per image, and in all.
    tagDecodeLimits small;
    small.nMaxImageBytes = 4;
    r = Decode("cpcl", CpclPage(Hex("30 0C 80 01 FF 00")), small);
    EXPECT_FALSE(r.bOk);
    EXPECT_NE(r.strError.find("expected an image of at most 4 bytes, the size fields give 6"), std::string::npos)
        << r.strError;
    small.nMaxImageBytes = 6;
    small.nMaxTotalBytes = 10;
    r = Decode("escpos", kEscPosPage + kEscPosPage);
    EXPECT_TRUE(r.bOk);
    r = Decode("escpos", kEscPosPage + kEscPosPage, small);
    EXPECT_FALSE(r.bOk);
    EXPECT_EQ(r.vPages.size(), 1u);
    EXPECT_NE(r.strError.find("within 10 bytes in all"), std::string::npos) << r.strError;
}

TEST(DecodeLanguage, DetectionFromTheFirstBytes)
{
    struct Case {
        std::string stream;
        bool found;
        std::string lang;
    } cases[] = {
        {kBegin, true, "paperang"},       {kPeriPagePage, true, "peripage"},
        {kEscPosPage, true, "escpos"},    {CpclPage("x"), true, "cpcl"},
        {"SIZE 1 mm,1 mm\r\n", true, "tspl"}, {"", false, "tspl"},
        {"!x", false, "tspl"},            {Hex("10 50"), false, "tspl"},
    };
    for (const Case& c : cases) {
        std::string lang = "tspl";
        EXPECT_EQ(DetectLanguage(reinterpret_cast<const unsigned char*>(c.stream.data()), c.stream.size(), lang),
                  c.found);
        if (c.found) {
            EXPECT_EQ(lang, c.lang) << lang;
        }
    }
}

// The languages are the family table's: each family's streams can be read.
TEST(DecodeLanguage, EveryFamilyOfTheTableHasADecoder)
{
    for (const PrinterFamily& f : PrinterFamilies()) {
        EXPECT_TRUE(IsDecodedLanguage(f.language)) << f.language;
        EXPECT_NE(LanguageList("|").find(f.language), std::string::npos) << f.language;
    }
    EXPECT_FALSE(IsDecodedLanguage("zpl"));
    EXPECT_FALSE(IsDecodedLanguage(""));
}

// ------------------------------------------------------- the command line

const std::string kDecodeTool = std::string(BANDRILL_BUILD_DIR) + "/tools/bandrill-decode";

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

ToolRun RunTool(const testing_support::TempDir& dir, const std::string& args)
{
    ToolRun run;
    std::string cmd = "'" + kDecodeTool + "' " + args + " 2>'" + dir.Path("stderr") + "'";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return run;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        run.out.append(buf, n);
    int rc = pclose(p);
    run.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    run.err = testing_support::ReadFile(dir.Path("stderr"));
    return run;
}

// Reads a PNG back as ASCII art: black 'X', white '.'.
Rows ReadPng(const std::string& path)
{
    png_image img;
    memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str()))
        return {"cannot read " + path};
    img.format = PNG_FORMAT_GRAY;
    std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(img));
    if (!png_image_finish_read(&img, nullptr, pixels.data(), 0, nullptr))
        return {"cannot decode " + path};
    Rows rows;
    for (unsigned y = 0; y < img.height; ++y) {
        std::string r;
        for (unsigned x = 0; x < img.width; ++x)
            r += pixels[y * img.width + x] < 128 ? 'X' : '.';
        rows.push_back(r);
    }
    return rows;
}

std::string LastLine(const std::string& s)
{
    size_t end = s.size() && s.back() == '\n' ? s.size() - 1 : s.size();
    size_t start = s.rfind('\n', end ? end - 1 : 0);
    return s.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
}

TEST(DecodeTool, WritesOnePngPerPageAndEndsWithTheSummary)
{
    if (access(kDecodeTool.c_str(), X_OK) != 0)
        GTEST_SKIP() << kDecodeTool << " is not built";
    testing_support::TempDir dir;
    ASSERT_TRUE(testing_support::WriteFile(dir.Path("job.bin"), kEscPosPage + kEscPosPage));
    // The language is told from the first bytes; NAME is the file's base name.
    ToolRun run = RunTool(dir, "--out '" + dir.path() + "' '" + dir.Path("job.bin") + "'");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadPng(dir.Path("job-page1.png")), kPicture);
    EXPECT_EQ(ReadPng(dir.Path("job-page2.png")), kPicture);
    EXPECT_NE(run.out.find("language: escpos"), std::string::npos) << run.out;
    EXPECT_EQ(LastLine(run.out), "summary: 2 pages, 0 warnings");

    ASSERT_TRUE(testing_support::WriteFile(dir.Path("tree.bin"), kBegin + kTree + kBlock + kEnd));
    run = RunTool(dir, "--lang paperang --out '" + dir.path() + "' --prefix p '" + dir.Path("tree.bin") + "'");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadPng(dir.Path("p-page1.png")), kPaperangPage);
}

TEST(DecodeTool, ExitStatusAndMessages)
{
    if (access(kDecodeTool.c_str(), X_OK) != 0)
        GTEST_SKIP() << kDecodeTool << " is not built";
    std::string badCrc = kBlock;
    badCrc[badCrc.size() - 2] ^= 0x01;
    struct Case {
        const char* args;
        std::string stream;
        int status;
        const char* err;
        const char* summary;
    } cases[] = {
        {"--lang paperang", kBegin + kTree + badCrc + kEnd, 1, "warning: offset 63: CRC BAD",
         "summary: 1 page, 1 warning"},
        {"--lang paperang", kBegin + kTree + kBlock, 2,
         "offset 68: expected end printing (1A) to end page 1 (begun at offset 0), found end of stream",
         "summary: 0 pages, 0 warnings, error at offset 68"},
        // The page before the fault is still written.
        {"--lang escpos", kEscPosPage + kEscPosPage.substr(0, 16), 2,
         "offset 43: expected raster data of 2 × 3 bytes (6 bytes), found 2 bytes",
         "summary: 1 page, 0 warnings, error at offset 43"},
        {"", "\x01\x02", 2, "cannot tell the printer language", nullptr},
        {"--lang zpl", kEscPosPage, 2, "unknown language zpl", nullptr},
        {"--bogus", kEscPosPage, 2, "unknown option --bogus", nullptr},
    };
    for (const Case& c : cases) {
        testing_support::TempDir dir;
        ASSERT_TRUE(testing_support::WriteFile(dir.Path("in.bin"), c.stream));
        ToolRun run = RunTool(dir, std::string(c.args) + " --out '" + dir.path() + "' '" + dir.Path("in.bin") + "'");
        EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        if (c.summary) {
            EXPECT_EQ(LastLine(run.out), c.summary) << run.out;
        }
    }
    testing_support::TempDir dir;
    ASSERT_TRUE(testing_support::WriteFile(dir.Path("in.bin"), kEscPosPage + kEscPosPage.substr(0, 16)));
    RunTool(dir, "--out '" + dir.path() + "' '" + dir.Path("in.bin") + "'");
    EXPECT_EQ(ReadPng(dir.Path("in-page1.png")), kPicture);
    EXPECT_NE(access(dir.Path("in-page2.png").c_str(), F_OK), 0);
}

} // namespace
