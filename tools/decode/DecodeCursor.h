// Read position in a printer stream, with the bookkeeping every decoder
// shares: bounds-checked reads that name what was expected when the bytes
// run out, the listing, warnings, the first error and the image budget.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "DecodeTypes.h"

namespace NS_DECODE {

class CDecodeCursor {
public:
    CDecodeCursor(const unsigned char* pData, size_t nSize, tagDecodeResult& result,
                  const tagDecodeLimits& limits);
    CDecodeCursor(const CDecodeCursor&) = delete;
    CDecodeCursor& operator=(const CDecodeCursor&) = delete;

    size_t Pos() const { return m_nPos; }
    size_t Left() const { return m_nSize - m_nPos; }
    bool AtEnd() const { return m_nPos >= m_nSize; }
    const unsigned char* Here() const { return m_pData + m_nPos; }
    // Byte at Pos() + n; the caller checks Left() > n first.
    unsigned char PeekAt(size_t n) const { return m_pData[m_nPos + n]; }
    bool StartsWith(const char* psz) const;
    void Skip(size_t n) { m_nPos += n; }

    // Each read fails at the current offset, naming `what`, when the
    // stream ends first; on failure the position is unchanged.
    bool ReadU8(uint8_t& v, const char* what);
    bool ReadU16(uint16_t& v, const char* what);  // little-endian
    bool ReadU32(uint32_t& v, const char* what);  // little-endian
    bool ReadBytes(size_t n, const unsigned char*& p, const char* what);
    bool ExpectByte(uint8_t b, const char* what);
    // One text line of printable ASCII ended by CR LF; `line` gets the
    // text without the line end.
    bool ReadLine(std::string& line);

    // Records the error (only the first one counts) and returns false.
    bool Fail(size_t nOffset, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
    void Warn(size_t nOffset, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
    void List(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    // "byte 0x41 ('A')" or "end of stream", for error texts.
    std::string DescribeAt(size_t nOffset) const;

    // Checks that an image of nBytes fits the per-image limit and the
    // budget left for the run, and books it. Fails at nOffset otherwise.
    bool ReserveImage(size_t nBytes, size_t nOffset);
    const tagDecodeLimits& Limits() const { return m_limits; }
    void AddPage(tagDecodedPage&& page);
    int PageCount() const { return static_cast<int>(m_result.vPages.size()); }
    bool Failed() const { return m_bFailed; }

private:
    const unsigned char* m_pData;
    size_t m_nSize;
    size_t m_nPos;
    tagDecodeResult& m_result;
    const tagDecodeLimits& m_limits;
    size_t m_nBooked;
    bool m_bFailed;
};

// Most copies of one page a decoder draws: a larger count is taken for a
// malformed stream.
const long kMaxCopies = 10000;

// Adds page `copies` times, as the printer prints a page it was asked to
// print that many times (fails at nOffset beyond kMaxCopies or the image
// budget). A count below 1 adds the page once, with a warning.
bool AddCopies(CDecodeCursor& cur, size_t nOffset, tagDecodedPage&& page, long copies);

// Ends a run: a stream without any page is an error at its end.
bool FinishRun(CDecodeCursor& cur, tagDecodeResult& result);

} // namespace NS_DECODE
