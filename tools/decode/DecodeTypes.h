// Records shared by the stream decoders: the decoded pages, the listing and
// the error of one decode run, and the memory limits a run keeps to.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace NS_DECODE {

// One printed page as the printer would put it on paper: iWidth × iHeight
// dots, rows top to bottom, each row iStride = (iWidth + 7) / 8 bytes,
// most significant bit first, a set bit is an ink dot. A page that carried
// no image at all is 0 × 0 with no bytes.
struct tagDecodedPage {
    int iWidth = 0;
    int iHeight = 0;
    int iStride = 0;
    std::vector<unsigned char> vBits;

    bool IsInk(int x, int y) const
    {
        return (vBits[static_cast<size_t>(y) * static_cast<size_t>(iStride) + static_cast<size_t>(x / 8)]
                >> (7 - x % 8)) & 1;
    }
};

// Limits that keep a run bounded whatever the size fields of the stream
// claim. A page image or the sum of all page images above them is refused
// as malformed input.
struct tagDecodeLimits {
    size_t nMaxImageBytes = size_t(256) << 20;
    size_t nMaxTotalBytes = size_t(1) << 30;
};

// Outcome of one decode run. When bOk is false, strError names the byte
// offset nErrorOffset and what was expected there; vPages then holds the
// pages completed before the error and strListing what was read up to it.
// Warnings (a bad CRC, an unknown command) do not stop the run; each is
// also written into the listing.
struct tagDecodeResult {
    bool bOk = false;
    std::vector<tagDecodedPage> vPages;
    std::string strListing;
    size_t nErrorOffset = 0;
    std::string strError;
    std::vector<std::string> vWarnings;
};

} // namespace NS_DECODE
