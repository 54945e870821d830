// Runs a fuzz target without libFuzzer: every file named on the command
// line, and every file in every directory named, is fed once to
// LLVMFuzzerTestOneInput, in name order. Used to replay the corpus and the
// past findings as ordinary tests, with any compiler.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool ReadWhole(const std::string& path, std::vector<uint8_t>& out)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    out.clear();
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        out.insert(out.end(), chunk, chunk + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// Regular files of a directory, not hidden ones (.gitkeep), sorted.
std::vector<std::string> ListDir(const std::string& dir)
{
    std::vector<std::string> files;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            const std::string path = dir + "/" + e->d_name;
            struct stat st;
            if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
                files.push_back(path);
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);

    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        struct stat st;
        if (stat(argv[i], &st) != 0) {
            std::fprintf(stderr, "replay: %s: no such file or directory\n", argv[i]);
            return 2;
        }
        if (S_ISDIR(st.st_mode)) {
            const std::vector<std::string> files = ListDir(argv[i]);
            inputs.insert(inputs.end(), files.begin(), files.end());
        } else {
            inputs.push_back(argv[i]);
        }
    }

    std::vector<uint8_t> data;
    for (const std::string& path : inputs) {
        if (!ReadWhole(path, data)) {
            std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
            return 2;
        }
        std::fprintf(stderr, "replay: %s (%zu bytes)\n", path.c_str(), data.size());
        // A copy of exactly the input's size, so that reads past the end
        // are caught by the sanitizers as they are under libFuzzer, which
        // never passes a null pointer, not even for an empty input.
        std::vector<uint8_t> input(data);
        static const uint8_t kNoBytes = 0;
        LLVMFuzzerTestOneInput(input.empty() ? &kNoBytes : input.data(), input.size());
    }
    std::fprintf(stderr, "replay: %zu inputs, no failure\n", inputs.size());
    return 0;
}
