#include "TempDir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <ftw.h>

namespace testing_support {

namespace {
int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return ::remove(path);
}
} // namespace

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/bandrill-test-XXXXXX";
    char* p = mkdtemp(&tmpl[0]);
    m_path = p ? p : "";
    if (!m_path.empty())
        chmod(m_path.c_str(), 0755);
}

TempDir::~TempDir()
{
    if (!m_path.empty() && !std::getenv("BANDRILL_KEEP_TEMP"))
        nftw(m_path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool WriteFile(const std::string& path, const std::string& data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}

} // namespace testing_support
