// Temporary directories and small file helpers for the tests.
#pragma once

#include <string>

namespace testing_support {

// A fresh directory under $TMPDIR (or /tmp), removed with its content when
// the object goes away (unless BANDRILL_KEEP_TEMP is set).
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string Path(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& data);

} // namespace testing_support
