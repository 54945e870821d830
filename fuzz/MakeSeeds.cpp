// Writes the seed corpus of the fuzz targets:
//   bandrill-fuzz-seeds <dir>   writes <dir>/raster_job, <dir>/ppd_settings,
//                               <dir>/hfm_code and <dir>/decode
// Every seed is made here, from the test support's raster and PPD writers
// and the filter's own back ends, so the corpus can be rebuilt at any time;
// the output is deterministic.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <cups/raster.h>

#include "AsciiImage.h"
#include "PpdWriter.h"
#include "PrinterCPCL.h"
#include "PrinterESCPOS.h"
#include "PrinterFamilies.h"
#include "PrinterPaperang.h"
#include "PrinterPeriPage.h"
#include "PrinterTSPL.h"
#include "RasterJobInput.h"
#include "RasterWriter.h"
#include "TempDir.h"

using namespace testing_support;
using namespace fuzz_support;

namespace {

std::string g_root;

void Put(const std::string& target, const std::string& name, const std::string& bytes)
{
    const std::string dir = g_root + "/" + target;
    mkdir(dir.c_str(), 0755);
    if (!WriteFile(dir + "/" + name, bytes)) {
        std::fprintf(stderr, "cannot write %s/%s\n", dir.c_str(), name.c_str());
        std::exit(1);
    }
}

// Settings by keyword, as the choices of the input head.
struct Settings {
    std::vector<std::pair<std::string, std::string>> choices;
};

std::string JobHead(int model, uint8_t flags, const Settings& s)
{
    // The harness reads the model as an index into the family table.
    const std::vector<PrinterFamily>& families = PrinterFamilies();
    size_t index = 0;
    while (index + 1 < families.size() && families[index].model != model)
        ++index;
    const auto choiceByte = [&s](const char* keyword) {
        uint8_t b = kChoiceAbsent;
        for (const auto& kv : s.choices)
            if (kv.first == keyword)
                b = JobChoiceByte(kv.second.c_str());
        return static_cast<char>(b);
    };
    std::string head;
    head += static_cast<char>(index);
    head += static_cast<char>(flags);
    for (const char* keyword : kJobKeywords)
        head += choiceByte(keyword);
    if (flags & kFlagMoreKeywords) {
        head += static_cast<char>(kJobMoreKeywordCount);
        for (const char* keyword : kJobMoreKeywords)
            head += choiceByte(keyword);
    }
    return head;
}

// A page with a frame, a diagonal and a grey ramp where the depth has grey.
RasterPage Drawing(unsigned w, unsigned h, unsigned bpp, cups_cspace_t space = CUPS_CSPACE_W,
                   unsigned dpi = 203)
{
    RasterPage p = MakeRasterPage(w, h, bpp, dpi, space);
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) {
            const bool ink = x == 2 || y == 1 || x == w - 3 || y == h - 2 || x == y;
            if (bpp == 1 || bpp == 8)
                SetRasterPixel(p, x, y, ink ? 0 : (bpp == 8 ? static_cast<unsigned char>(255 - x * 4) : 255));
            else if (ink)
                for (unsigned i = 0; i < bpp / 8; ++i)
                    p.data[y * p.header.cupsBytesPerLine + x * (bpp / 8) + i] =
                        static_cast<unsigned char>(x * 16 + i * 64);
        }
    return p;
}

void RasterJobSeeds()
{
    const Settings none;
    Settings label;
    label.choices = {{"MediaMethod", "Direct"}, {"zeMediaTracking", "Gap"}, {"Darkness", "8"},
                     {"zePrintRate", "4"},      {"ImageFilter", "0"},       {"Threshold", "128"},
                     {"FeedOffset", "2"},       {"AdjustHoriaontal", "1"}};
    Settings packed = label;
    packed.choices.push_back({"ImageCompress", "1"});
    packed.choices.push_back({"Rotate", "2"});
    Settings cropped;
    cropped.choices = {{"zeMediaTracking", "BLine"}, {"ImageFilter", "3"},   {"CropEdgeTop", "-1"},
                       {"CropEdgeBottom", "2"},      {"CropEdgeLeft", "1"},  {"CropEdgeRight", "-1"},
                       {"Brightness", "20"},         {"Contrast", "-5"},     {"Rotate", "3"}};
    Settings roll;
    roll.choices = {{"zeMediaTracking", "Roll"}, {"Rotate", "1"}, {"ImageFilter", "7"},
                    {"Darkness", "Default"}, {"zePrintRate", "13"}};
    // The lean streams, the receipt settings and compression in one pass.
    Settings lean = label;
    lean.choices.insert(lean.choices.end(), {{"InkOnly", "True"},
                                             {"FastCompress", "True"},
                                             {"ImageCompress", "1"},
                                             {"BandRows", "3"},
                                             {"CutFeed", "True"},
                                             {"SetcCommands", "False"},
                                             {"ImageBrightness", "-20"}});
    Settings leanPlain = label;
    leanPlain.choices.push_back({"InkOnly", "True"});
    Settings recording;
    recording.choices = {{"zeMediaTracking", "Recording"}, {"ImageFilter", "10"}, {"AutoDotted", "1"}};

    const std::string oneBit = RasterBytes({Drawing(64, 16, 1)});
    const std::string grey = RasterBytes({Drawing(40, 24, 8)});
    const std::string colour = RasterBytes({Drawing(16, 8, 24, CUPS_CSPACE_RGB)});
    const std::string rgba = RasterBytes({Drawing(8, 6, 32, CUPS_CSPACE_RGBW)});
    const std::string k = RasterBytes({Drawing(24, 10, 8, CUPS_CSPACE_K)});
    const std::string compressed = RasterBytes({Drawing(48, 20, 8)}, CUPS_RASTER_WRITE_COMPRESSED);
    const std::string pwg = RasterBytes({Drawing(32, 12, 8, CUPS_CSPACE_SW)}, CUPS_RASTER_WRITE_PWG);
    const std::string twoPages = RasterBytes({Drawing(32, 8, 1), Drawing(20, 12, 8)});
    const std::string refused = RasterBytes({MakeRasterPage(16, 4, 16), Drawing(16, 4, 8)});
    const std::string cut = grey.substr(0, grey.size() - 40 * 10);

    for (const PrinterFamily& family : PrinterFamilies()) {
        const int model = family.model;
        const std::string m = std::to_string(model) + "_";
        Put("raster_job", m + "plain_1bit", JobHead(model, 0, none) + oneBit);
        Put("raster_job", m + "label_8bit", JobHead(model, 0, label) + grey);
        Put("raster_job", m + "packed_24bit", JobHead(model, 0, packed) + colour);
        Put("raster_job", m + "cropped_compressed", JobHead(model, 0, cropped) + compressed);
        Put("raster_job", m + "roll_two_pages", JobHead(model, 0, roll) + twoPages);
        Put("raster_job", m + "lean_two_pages", JobHead(model, kFlagMoreKeywords, lean) + twoPages);
        Put("raster_job", m + "lean_8bit", JobHead(model, kFlagMoreKeywords, leanPlain) + grey);
    }
    Put("raster_job", "20_label_32bit", JobHead(20, 0, label) + rgba);
    Put("raster_job", "21_100dpi", JobHead(21, 0, label) + RasterBytes({Drawing(40, 24, 8, CUPS_CSPACE_W, 100)}));
    Put("raster_job", "22_300dpi", JobHead(22, 0, cropped) + RasterBytes({Drawing(40, 24, 8, CUPS_CSPACE_W, 300)}));
    Put("raster_job", "20_label_k", JobHead(20, 0, label) + k);
    Put("raster_job", "22_recording_pwg", JobHead(22, 0, recording) + pwg);
    Put("raster_job", "23_refused_then_printed", JobHead(23, 0, label) + refused);
    Put("raster_job", "20_cut_page", JobHead(20, 0, label) + cut);
    Put("raster_job", "20_failing_channel", JobHead(20, kFlagFailingChannel, label) + grey);
    Put("raster_job", "22_cancel_on_page_1", JobHead(22, CancelFlag(2), none) + twoPages);
    Put("raster_job", "23_cancel_before_pages", JobHead(23, CancelFlag(1), none) + twoPages);
    const std::string options = "Darkness=12 Rotate=2 zeMediaTracking=BLine";
    Put("raster_job", "20_job_options",
        JobHead(20, kFlagOptions, label) + static_cast<char>(options.size()) + options + grey);
    Put("raster_job", "19_unknown_model", std::string(1, static_cast<char>(250)) +
                                              JobHead(20, 0, none).substr(1) + grey);
    Put("raster_job", "20_no_pages", JobHead(20, 0, none));
}

void PpdSettingsSeeds()
{
    const std::vector<PpdOption> all = {
        {"MediaMethod", "Direct", {"Direct", "Transfer"}},
        {"AdjustHoriaontal", "0", {"-2", "0", "2"}},
        {"AdjustVertical", "0", {"-2", "0", "2"}},
        {"zeMediaTracking", "Gap", {"Continuous", "Gap", "BLine", "Perforated", "Roll", "Recording"}},
        {"FeedOffset", "0", {"0", "5"}},
        {"Rotate", "0", {"0", "1", "2", "3"}},
        {"Darkness", "Default", {"Default", "8", "15"}},
        {"zePrintRate", "Default", {"Default", "2", "4", "6"}},
        {"AutoDotted", "0", {"0", "1"}},
        {"Brightness", "0", {"-20", "0", "20"}},
        {"Contrast", "0", {"-20", "0", "20"}},
        {"ImageFilter", "3", {"0", "1", "3", "10"}},
        {"Threshold", "175", {"128", "175"}},
        {"ImageCompress", "0", {"0", "1"}},
        {"CropEdgeTop", "0", {"-1", "0", "2"}},
        {"CropEdgeBottom", "0", {"-1", "0", "2"}},
        {"CropEdgeLeft", "0", {"-1", "0", "2"}},
        {"CropEdgeRight", "0", {"-1", "0", "2"}},
    };
    const char* const jobOptions[] = {
        "",
        "Darkness=15 zePrintRate=6 Rotate=2",
        "zeMediaTracking=Recording ImageFilter=0 Threshold=128 CropEdgeTop=-1 CropEdgeRight=2",
        "ImageCompress=1 MediaMethod=Transfer AdjustHoriaontal=-2 Brightness=20 Contrast=-20",
        "Darkness=99999 Rotate=7 Threshold=99999 CropEdgeLeft=-5 NoSuchOption=1",
    };
    for (const PrinterFamily& family : PrinterFamilies()) {
        PpdModel ppdModel;
        ppdModel.modelNumber = family.model;
        ppdModel.personality = "TSPL";
        ppdModel.options = all;
        const std::string ppd = MakePpdText(ppdModel);
        int n = 0;
        for (const char* o : jobOptions)
            Put("ppd_settings", std::to_string(family.model) + "_options_" + std::to_string(n++),
                std::string(o) + '\0' + ppd);
    }
    PpdModel bare;
    bare.modelName = "";
    Put("ppd_settings", "20_no_options", MakePpdText(bare));
    Put("ppd_settings", "not_a_ppd", std::string("Darkness=3") + '\0' + "this is not a PPD file\n");
}

std::string HfmHead(int mode, int bytesPerRow, uint8_t blockByte)
{
    std::string h;
    h += static_cast<char>(mode);
    h += static_cast<char>((bytesPerRow - 1) & 0xFF);
    h += static_cast<char>((bytesPerRow - 1) >> 8);
    h += static_cast<char>(blockByte);
    return h;
}

void HfmSeeds()
{
    // A blank page after inversion: 100 rows of 48 zero bytes.
    Put("hfm_code", "blank_48x100", HfmHead(0, 48, 0) + std::string(48 * 100, '\0'));
    Put("hfm_code", "white_48x20", HfmHead(0, 48, 0) + std::string(48 * 20, '\xff'));
    std::string all;
    for (int i = 0; i < 512; ++i)
        all += static_cast<char>(i * 7 % 256);
    Put("hfm_code", "all_values_16", HfmHead(1, 16, 0) + all);
    // Skewed weights give long codes; 300-byte rows reach the block limit alone.
    std::string skewed;
    for (int i = 0; i < 600; ++i)
        skewed += static_cast<char>(i % 37 == 0 ? i % 256 : (i % 3 == 0 ? 0x0F : 0));
    Put("hfm_code", "skewed_300", HfmHead(0, 300, 0) + skewed);
    std::string label;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 12; ++x)
            label += static_cast<char>(x == 0 || y == 0 || x == y % 12 ? 0xFF : 0x00);
    Put("hfm_code", "label_12x30_small_blocks", HfmHead(0, 12, 140) + label);
    Put("hfm_code", "foreign_tree", HfmHead(2, 4, 0) + std::string("\x00\x01\x02\x03\x00\x01\x02\x04", 8));
    // A three-node tree: root 2 joining leaves 0 and 1.
    std::string nodes;
    nodes += '\x02';
    const unsigned char tree[] = {0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00,   // leaf 0x00, code 0
                                  0xFF, 0xFF, 0xFF, 0x00, 0x01, 0x01,   // leaf 0xFF, code 1
                                  0x00, 0x01, 0x00, 0x01, 0x00, 0x00};  // root 256
    nodes.append(reinterpret_cast<const char*>(tree), sizeof tree);
    Put("hfm_code", "node_array", HfmHead(3, 4, 0) + nodes + std::string("\x00\xff\x00\xff", 4));
}

// A back end that keeps what it would write.
template <class T>
class CCapture : public T {
public:
    void WriteSpool(const void* data, int length) override
    {
        if (length > 0)
            out.append(static_cast<const char*>(data), static_cast<size_t>(length));
    }
    std::string out;
};

// The stream of two pages from back end T, with media mode `media` and,
// for TSPL, compression.
template <class T>
std::string TwoPages(int media, bool compress)
{
    static const std::vector<std::string> kLabel = {
        "XXXXXXXXXXXXXXXXXXXXXXXX", "X......................X", "X..XXX....XXX....XXX...X",
        "X......................X", "XXXXXXXXXXXXXXXXXXXXXXXX"};
    CCapture<T> p;
    p.m_iDpi = 203;
    p.m_reg.iGap[0] = media;
    p.m_reg.iFeedAfter = 2;
    p.m_regHalftone.ImageCompress = compress;
    for (int page = 0; page < 2; ++page) {
        MakeAsciiImage(p.m_image, kLabel);
        p.OnPaintBmp();
    }
    return p.out;
}

void DecodeSeeds()
{
    // Language byte (the family's row in the table; one past the last:
    // guessed), limit byte (1 KiB << 8 = 256 KiB per page), stream.
    auto put = [](const char* name, const char* language, const std::string& stream) {
        const std::vector<PrinterFamily>& families = PrinterFamilies();
        size_t row = 0;
        while (row < families.size() && (!language || std::strcmp(families[row].language, language)))
            ++row;
        Put("decode", name, std::string(1, static_cast<char>(row)) + '\x08' + stream);
    };
    put("tspl_gap", "tspl", TwoPages<CPrinterTSPL>(1, false));
    put("tspl_bline_zlib", "tspl", TwoPages<CPrinterTSPL>(2, true));
    put("escpos_continuous", "escpos", TwoPages<CPrinterESCPOS>(0, false));
    put("peripage_recording", "peripage", TwoPages<CPrinterPeriPage>(5, false));
    put("peripage_gap", "peripage", TwoPages<CPrinterPeriPage>(1, false));
    put("cpcl_gap", "cpcl", TwoPages<CPrinterCPCL>(1, false));
    put("paperang_continuous", "paperang", TwoPages<CPrinterPaperang>(0, false));
    put("paperang_gap_guessed", nullptr, TwoPages<CPrinterPaperang>(1, false));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus-dir>\n", argv[0]);
        return 2;
    }
    g_root = argv[1];
    mkdir(g_root.c_str(), 0755);
    RasterJobSeeds();
    PpdSettingsSeeds();
    HfmSeeds();
    DecodeSeeds();
    return 0;
}
