#include "RowDeflate.h"

#include <cstdint>
#include <cstring>

#include <zlib.h>

namespace {

// Deflate's limits on a match (RFC 1951).
const size_t kMinMatch = 3;
const size_t kMaxMatch = 258;
const size_t kWindow = 32768;

// A code as it goes into the stream: `bits` written least significant bit
// first, `count` of them.
struct tagCode {
    uint32_t bits;
    uint32_t count;
};

// Huffman codes are sent from their most significant bit: reversed here.
uint32_t Reverse(uint32_t code, uint32_t count)
{
    uint32_t r = 0;
    for (uint32_t i = 0; i < count; ++i)
        r |= ((code >> i) & 1u) << (count - 1 - i);
    return r;
}

// The fixed Huffman code of a literal/length symbol (RFC 1951, 3.2.6).
tagCode FixedSymbol(unsigned sym)
{
    if (sym < 144)
        return {Reverse(0x30 + sym, 8), 8};
    if (sym < 256)
        return {Reverse(0x190 + sym - 144, 9), 9};
    if (sym < 280)
        return {Reverse(sym - 256, 7), 7};
    return {Reverse(0xC0 + sym - 280, 8), 8};
}

// Every literal and every match length as ready-made codes, the length's
// extra bits behind its symbol.
struct tagTables {
    tagCode literal[256];
    tagCode length[kMaxMatch + 1];
    tagCode end;

    tagTables()
    {
        for (unsigned b = 0; b < 256; ++b)
            literal[b] = FixedSymbol(b);
        end = FixedSymbol(256);
        static const unsigned kBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,
                                           15, 17, 19, 23, 27, 31, 35, 43, 51,  59,
                                           67, 83, 99, 115, 131, 163, 195, 227, 258};
        static const unsigned kExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                            2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        for (unsigned i = 0; i < 29; ++i) {
            const unsigned last = i + 1 < 29 ? kBase[i + 1] - 1 : kBase[i];
            for (unsigned n = kBase[i]; n <= last && n <= kMaxMatch; ++n) {
                const tagCode sym = FixedSymbol(257 + i);
                length[n] = {sym.bits | ((n - kBase[i]) << sym.count), sym.count + kExtra[i]};
            }
        }
    }
};

const tagTables& Tables()
{
    static const tagTables tables;
    return tables;
}

// A distance's code: its 5-bit fixed code, then its extra bits.
tagCode DistanceCode(size_t dist)
{
    unsigned code = 0;
    size_t base = 1;
    unsigned extra = 0;
    // Codes 0-3 are distances 1-4; then each pair of codes doubles the span.
    while (true) {
        const size_t span = size_t(1) << extra;
        if (dist < base + span) {
            return {Reverse(code, 5) | static_cast<uint32_t>((dist - base) << 5), 5 + extra};
        }
        base += span;
        ++code;
        if (code >= 4 && code % 2 == 0)
            ++extra;
    }
}

// Writes codes into a block that is large enough for the worst case (every
// byte a 9-bit literal).
class CBitWriter {
public:
    explicit CBitWriter(unsigned char* out) : m_out(out) {}

    void Put(tagCode c)
    {
        m_acc |= static_cast<uint64_t>(c.bits) << m_count;
        m_count += c.count;
        if (m_count >= 32) {
            for (int i = 0; i < 4; ++i)
                *m_out++ = static_cast<unsigned char>(m_acc >> (8 * i));
            m_acc >>= 32;
            m_count -= 32;
        }
    }
    // Writes the last bits; returns the end of what was written.
    unsigned char* Flush()
    {
        while (m_count > 0) {
            *m_out++ = static_cast<unsigned char>(m_acc);
            m_acc >>= 8;
            m_count = m_count > 8 ? m_count - 8 : 0;
        }
        return m_out;
    }

private:
    unsigned char* m_out;
    uint64_t m_acc = 0;
    uint32_t m_count = 0;
};

// How many bytes from p equal those from q, at most limit.
size_t MatchLength(const unsigned char* p, const unsigned char* q, size_t limit)
{
    size_t n = 0;
    while (n + 8 <= limit) {
        uint64_t a, b;
        std::memcpy(&a, p + n, 8);
        std::memcpy(&b, q + n, 8);
        if (a != b)
            return n + static_cast<size_t>(__builtin_ctzll(a ^ b) / 8);
        n += 8;
    }
    while (n < limit && p[n] == q[n])
        ++n;
    return n;
}

} // namespace

size_t RowDeflateBound(size_t len)
{
    // Header, the block's codes (no code takes more than 9 bits a byte, and
    // the block adds 10 bits) and the Adler-32.
    return 2 + len + len / 8 + 16 + 4;
}

size_t RowDeflate(const unsigned char* data, size_t len, size_t rowBytes, unsigned char* out)
{
    const tagTables& t = Tables();
    unsigned char* head = out;
    // zlib header: deflate with a 32 KiB window, the fastest level's flag;
    // 0x78 0x01 is a multiple of 31 as the format asks.
    head[0] = 0x78;
    head[1] = 0x01;

    CBitWriter bits(head + 2);
    // One final block with the fixed codes: BFINAL 1, BTYPE 01.
    bits.Put({0x3, 3});
    const bool rows = rowBytes > 0 && rowBytes <= kWindow;
    const tagCode rowDistance = rows ? DistanceCode(rowBytes) : tagCode{0, 0};
    const tagCode runDistance = DistanceCode(1);
    size_t i = 0;
    while (i < len) {
        const size_t limit = len - i < kMaxMatch ? len - i : kMaxMatch;
        size_t up = 0, run = 0;
        if (rows && i >= rowBytes && data[i] == data[i - rowBytes])
            up = MatchLength(data + i, data + i - rowBytes, limit);
        if (up < limit && i >= 1 && data[i] == data[i - 1])
            run = MatchLength(data + i, data + i - 1, limit);
        if (up >= kMinMatch && up >= run) {
            bits.Put(t.length[up]);
            bits.Put(rowDistance);
            i += up;
        } else if (run >= kMinMatch) {
            bits.Put(t.length[run]);
            bits.Put(runDistance);
            i += run;
        } else {
            bits.Put(t.literal[data[i]]);
            ++i;
        }
    }
    bits.Put(t.end);
    unsigned char* end = bits.Flush();

    uLong adler = adler32(0L, Z_NULL, 0);
    // adler32 takes a uInt length: feed huge inputs in parts.
    for (size_t at = 0; at < len;) {
        const size_t n = len - at > (1u << 30) ? (1u << 30) : len - at;
        adler = adler32(adler, data + at, static_cast<uInt>(n));
        at += n;
    }
    for (int s = 24; s >= 0; s -= 8)
        *end++ = static_cast<unsigned char>(adler >> s);
    return static_cast<size_t>(end - out);
}
