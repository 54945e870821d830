// bandrill-decode: reads a printer byte stream as the filter writes it and
// shows what a printer would make of it: one PNG per page and a listing of
// the commands and their fields.
//
// Exit status: 0 when the stream decoded cleanly, 1 when it decoded with
// warnings (a bad CRC, an unknown command), 2 on malformed or truncated
// input, bad arguments or a file that cannot be read or written.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "PngWriter.h"
#include "StreamDecode.h"

using namespace NS_DECODE;

namespace {

std::string UsageText()
{
    return "usage: bandrill-decode [--lang " + LanguageList("|") +
           "] [--out DIR] [--prefix NAME] FILE|-\n"
           "Writes DIR/NAME-pageN.png for each page (DIR defaults to '.', NAME to the input's base name)\n"
           "and lists the commands of the stream on standard output. Without --lang the language is\n"
           "guessed from the first bytes.\n";
}

int Usage(const char* why)
{
    if (why)
        fprintf(stderr, "bandrill-decode: %s\n", why);
    fputs(UsageText().c_str(), stderr);
    return 2;
}

bool ReadAll(FILE* fp, std::vector<unsigned char>& data)
{
    unsigned char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, fp)) > 0)
        data.insert(data.end(), buf, buf + n);
    return !ferror(fp);
}

std::string DefaultPrefix(const std::string& file)
{
    if (file == "-")
        return "stdin";
    size_t slash = file.rfind('/');
    std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
    size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0)
        base.resize(dot);
    return base.empty() ? "page" : base;
}

} // namespace

int main(int argc, char** argv)
{
    std::string langName, outDir = ".", prefix, file;
    bool bHaveFile = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--lang" || a == "--out" || a == "--prefix") {
            if (i + 1 >= argc)
                return Usage((a + " needs a value").c_str());
            std::string v = argv[++i];
            if (a == "--lang")
                langName = v;
            else if (a == "--out")
                outDir = v;
            else
                prefix = v;
        } else if (a == "-h" || a == "--help") {
            fputs(UsageText().c_str(), stdout);
            return 0;
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage(("unknown option " + a).c_str());
        } else if (bHaveFile) {
            return Usage("only one input file");
        } else {
            file = a;
            bHaveFile = true;
        }
    }
    if (!bHaveFile)
        return Usage("no input file (use - for standard input)");

    std::vector<unsigned char> data;
    FILE* fp = file == "-" ? stdin : fopen(file.c_str(), "rb");
    if (!fp) {
        fprintf(stderr, "bandrill-decode: %s: %s\n", file.c_str(), strerror(errno));
        return 2;
    }
    bool bRead = ReadAll(fp, data);
    if (fp != stdin)
        fclose(fp);
    if (!bRead) {
        fprintf(stderr, "bandrill-decode: %s: read error\n", file.c_str());
        return 2;
    }

    std::string lang = langName;
    if (!langName.empty()) {
        if (!IsDecodedLanguage(langName))
            return Usage(("unknown language " + langName).c_str());
    } else if (!DetectLanguage(data.data(), data.size(), lang)) {
        fprintf(stderr, "bandrill-decode: %s: cannot tell the printer language from the first bytes; "
                        "name it with --lang\n", file.c_str());
        return 2;
    }
    if (prefix.empty())
        prefix = DefaultPrefix(file);

    tagDecodeResult result;
    bool bOk = DecodeStream(lang, data.data(), data.size(), result);
    printf("language: %s, %zu bytes\n", lang.c_str(), data.size());
    fputs(result.strListing.c_str(), stdout);

    // Pages completed before an error are still written: they show how far
    // the stream was sound.
    bool bWriteFailed = false;
    for (size_t i = 0; i < result.vPages.size(); ++i) {
        const tagDecodedPage& page = result.vPages[i];
        if (page.iWidth == 0 || page.iHeight == 0) {
            printf("page %zu: no image, no PNG written\n", i + 1);
            continue;
        }
        std::string path = outDir + "/" + prefix + "-page" + std::to_string(i + 1) + ".png";
        std::string why;
        if (WritePagePng(page, path, why)) {
            printf("page %zu: wrote %s (%d × %d)\n", i + 1, path.c_str(), page.iWidth, page.iHeight);
        } else {
            fprintf(stderr, "bandrill-decode: cannot write page %zu: %s\n", i + 1, why.c_str());
            bWriteFailed = true;
        }
    }
    printf("%s\n", SummaryLine(result).c_str());
    fflush(stdout);

    for (const std::string& w : result.vWarnings)
        fprintf(stderr, "bandrill-decode: %s: warning: %s\n", file.c_str(), w.c_str());
    if (!bOk) {
        fprintf(stderr, "bandrill-decode: %s: %s\n", file.c_str(), result.strError.c_str());
        return 2;
    }
    if (bWriteFailed)
        return 2;
    return result.vWarnings.empty() ? 0 : 1;
}
