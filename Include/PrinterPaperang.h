// Back end for Paperang printers: every command travels as a framed packet
// (0xA5, type, 16-bit length, payload, CRC-32 of the payload, 0x5A), and the
// page image as a Huffman tree packet followed by coded bitmap blocks.
#pragma once

#include <cstdint>

#include "BaseRender.h"
#include "HfmCode.h"
#include "MyBuffer.h"

class CPrinterPaperang : public CBaseRender {
public:
    // Largest payload a frame's 16-bit length field can describe.
    static const int kMaxPayload = 0xFFFF;
    // Bytes a frame adds around its payload: start, type, length, CRC, end.
    static const int kFrameOverhead = 9;
    // Bytes of a bitmap record before its block bytes.
    static const int kBitmapHeader = 17;
    // Coded bytes per bitmap block (the block limit is 8 bits less).
    static const int kBlockBytes = 256;
    // What the locate command after a gap or black-mark page asks for: the
    // printer looks this far (its own units) for the next label's mark.
    static const int kLocateDistance = 100;

    CPrinterPaperang();
    ~CPrinterPaperang() override;

    void OnPaintBmp() override;
    // No cutter: the pages of a job on continuous paper are one slip;
    // labels have none.
    SlipBreak Slips() const override;
    // The further sets of collated copies.
    void OnEndDoc() override;

    // CRC-32 (reflected 0xEDB88320) continued from 0x35769521.
    uint32_t MakeCrc32(const unsigned char* data, unsigned int len) const;

    void AddToBuffer(const void* p, int n);
    void AddToBuffer(CMyBuffer& b);

    // Frames `len` payload bytes and appends the frame to m_buffer. A payload
    // longer than the length field can describe is not sent (false).
    bool cmdChildClassPackage(const unsigned char* data, int len);

    void cmdBeginPrinting();
    void cmdEndPrinting();
    void cmdFeed(int n);
    void cmdPaperLocate(int n);

    // Codes the page image and appends the tree packet and the bitmap
    // packets. A page that cannot be coded, or whose records would not fit
    // their 16-bit fields, sends nothing and returns false.
    bool SendBitmap_withHFM();
    // Records whose 16-bit fields would not hold their values are not sent
    // (false).
    bool cmdHfmTree(const unsigned char* data, int length);
    bool cmdBitmap(int index, bool coded, const unsigned char* data, int length);

    uint32_t m_crcTable[256];
    CMyBuffer m_buffer;

private:
    struct tagCodedPage;
    bool CodePage(tagCodedPage& page);
    void SendCodedPage(const tagCodedPage& page);
};
