// Shared pieces of the fuzz targets: the check that stops a run on a broken
// property, a reader over the fuzz input, and in-memory files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Stops the run when a property of the system does not hold. abort() is
// what libFuzzer and the sanitizers report as a crash, with the input kept.
#define FUZZ_CHECK(cond, ...)                                                        \
    do {                                                                             \
        if (!(cond))                                                                 \
            fuzz_support::CheckFailed(#cond, __FILE__, __LINE__, fuzz_support::Text(__VA_ARGS__)); \
    } while (0)

namespace fuzz_support {

[[noreturn]] void CheckFailed(const char* cond, const char* file, int line, const std::string& what);
std::string Text(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Whether a trace is a back end's report that it did not send a page.
bool IsPageNotSent(const char* trace);

// Takes bytes from the front of the input; past its end every read gives 0.
class CFuzzInput {
public:
    CFuzzInput(const uint8_t* data, size_t size) : m_pData(data), m_nSize(size) {}

    uint8_t Byte() { return m_nPos < m_nSize ? m_pData[m_nPos++] : 0; }
    uint16_t Le16()
    {
        const uint16_t lo = Byte();
        return static_cast<uint16_t>(lo | (Byte() << 8));
    }
    uint32_t Le32()
    {
        const uint32_t lo = Le16();
        return lo | (static_cast<uint32_t>(Le16()) << 16);
    }
    const uint8_t* Rest() const { return m_pData + (m_nPos < m_nSize ? m_nPos : m_nSize); }
    size_t RestSize() const { return m_nPos < m_nSize ? m_nSize - m_nPos : 0; }

private:
    const uint8_t* m_pData;
    size_t m_nSize;
    size_t m_nPos = 0;
};

// An anonymous in-memory file (memfd) and its /proc path, for code that
// wants a file name or a descriptor.
class CMemFile {
public:
    explicit CMemFile(const char* name);
    ~CMemFile();
    CMemFile(const CMemFile&) = delete;
    CMemFile& operator=(const CMemFile&) = delete;

    // Replaces the content; the file offset goes back to 0.
    bool Set(const void* data, size_t size);
    bool Set(const std::string& s) { return Set(s.data(), s.size()); }
    std::string Get() const;
    void Clear() { Set(nullptr, 0); }
    int Fd() const { return m_fd; }
    const std::string& Path() const { return m_path; }

private:
    int m_fd;
    std::string m_path;
};

// Standard error of the code under test, kept in memory: while captured,
// the stdio stream `stderr` writes to a memfd. Sanitizer and libFuzzer
// reports go to descriptor 2 and are not affected; failed checks are
// written to the real standard error.
class CStderrCapture {
public:
    CStderrCapture();
    ~CStderrCapture();
    CStderrCapture(const CStderrCapture&) = delete;
    CStderrCapture& operator=(const CStderrCapture&) = delete;

    void Begin();
    std::string End();

private:
    CMemFile m_file;
    FILE* m_fp;
    FILE* m_saved = nullptr;
};

} // namespace fuzz_support
