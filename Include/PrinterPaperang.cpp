#include "PrinterPaperang.h"

#include <cstdlib>
#include <cstring>

namespace {

// CRC-32 lookup table for the reflected polynomial 0xEDB88320.
const uint32_t kCrc32Table[256] = {
    0x00000000, 0x77073096, 0xEE0E612C, 0x990951BA, 0x076DC419, 0x706AF48F,
    0xE963A535, 0x9E6495A3, 0x0EDB8832, 0x79DCB8A4, 0xE0D5E91E, 0x97D2D988,
    0x09B64C2B, 0x7EB17CBD, 0xE7B82D07, 0x90BF1D91, 0x1DB71064, 0x6AB020F2,
    0xF3B97148, 0x84BE41DE, 0x1ADAD47D, 0x6DDDE4EB, 0xF4D4B551, 0x83D385C7,
    0x136C9856, 0x646BA8C0, 0xFD62F97A, 0x8A65C9EC, 0x14015C4F, 0x63066CD9,
    0xFA0F3D63, 0x8D080DF5, 0x3B6E20C8, 0x4C69105E, 0xD56041E4, 0xA2677172,
    0x3C03E4D1, 0x4B04D447, 0xD20D85FD, 0xA50AB56B, 0x35B5A8FA, 0x42B2986C,
    0xDBBBC9D6, 0xACBCF940, 0x32D86CE3, 0x45DF5C75, 0xDCD60DCF, 0xABD13D59,
    0x26D930AC, 0x51DE003A, 0xC8D75180, 0xBFD06116, 0x21B4F4B5, 0x56B3C423,
    0xCFBA9599, 0xB8BDA50F, 0x2802B89E, 0x5F058808, 0xC60CD9B2, 0xB10BE924,
    0x2F6F7C87, 0x58684C11, 0xC1611DAB, 0xB6662D3D, 0x76DC4190, 0x01DB7106,
    0x98D220BC, 0xEFD5102A, 0x71B18589, 0x06B6B51F, 0x9FBFE4A5, 0xE8B8D433,
    0x7807C9A2, 0x0F00F934, 0x9609A88E, 0xE10E9818, 0x7F6A0DBB, 0x086D3D2D,
    0x91646C97, 0xE6635C01, 0x6B6B51F4, 0x1C6C6162, 0x856530D8, 0xF262004E,
    0x6C0695ED, 0x1B01A57B, 0x8208F4C1, 0xF50FC457, 0x65B0D9C6, 0x12B7E950,
    0x8BBEB8EA, 0xFCB9887C, 0x62DD1DDF, 0x15DA2D49, 0x8CD37CF3, 0xFBD44C65,
    0x4DB26158, 0x3AB551CE, 0xA3BC0074, 0xD4BB30E2, 0x4ADFA541, 0x3DD895D7,
    0xA4D1C46D, 0xD3D6F4FB, 0x4369E96A, 0x346ED9FC, 0xAD678846, 0xDA60B8D0,
    0x44042D73, 0x33031DE5, 0xAA0A4C5F, 0xDD0D7CC9, 0x5005713C, 0x270241AA,
    0xBE0B1010, 0xC90C2086, 0x5768B525, 0x206F85B3, 0xB966D409, 0xCE61E49F,
    0x5EDEF90E, 0x29D9C998, 0xB0D09822, 0xC7D7A8B4, 0x59B33D17, 0x2EB40D81,
    0xB7BD5C3B, 0xC0BA6CAD, 0xEDB88320, 0x9ABFB3B6, 0x03B6E20C, 0x74B1D29A,
    0xEAD54739, 0x9DD277AF, 0x04DB2615, 0x73DC1683, 0xE3630B12, 0x94643B84,
    0x0D6D6A3E, 0x7A6A5AA8, 0xE40ECF0B, 0x9309FF9D, 0x0A00AE27, 0x7D079EB1,
    0xF00F9344, 0x8708A3D2, 0x1E01F268, 0x6906C2FE, 0xF762575D, 0x806567CB,
    0x196C3671, 0x6E6B06E7, 0xFED41B76, 0x89D32BE0, 0x10DA7A5A, 0x67DD4ACC,
    0xF9B9DF6F, 0x8EBEEFF9, 0x17B7BE43, 0x60B08ED5, 0xD6D6A3E8, 0xA1D1937E,
    0x38D8C2C4, 0x4FDFF252, 0xD1BB67F1, 0xA6BC5767, 0x3FB506DD, 0x48B2364B,
    0xD80D2BDA, 0xAF0A1B4C, 0x36034AF6, 0x41047A60, 0xDF60EFC3, 0xA867DF55,
    0x316E8EEF, 0x4669BE79, 0xCB61B38C, 0xBC66831A, 0x256FD2A0, 0x5268E236,
    0xCC0C7795, 0xBB0B4703, 0x220216B9, 0x5505262F, 0xC5BA3BBE, 0xB2BD0B28,
    0x2BB45A92, 0x5CB36A04, 0xC2D7FFA7, 0xB5D0CF31, 0x2CD99E8B, 0x5BDEAE1D,
    0x9B64C2B0, 0xEC63F226, 0x756AA39C, 0x026D930A, 0x9C0906A9, 0xEB0E363F,
    0x72076785, 0x05005713, 0x95BF4A82, 0xE2B87A14, 0x7BB12BAE, 0x0CB61B38,
    0x92D28E9B, 0xE5D5BE0D, 0x7CDCEFB7, 0x0BDBDF21, 0x86D3D2D4, 0xF1D4E242,
    0x68DDB3F8, 0x1FDA836E, 0x81BE16CD, 0xF6B9265B, 0x6FB077E1, 0x18B74777,
    0x88085AE6, 0xFF0F6A70, 0x66063BCA, 0x11010B5C, 0x8F659EFF, 0xF862AE69,
    0x616BFFD3, 0x166CCF45, 0xA00AE278, 0xD70DD2EE, 0x4E048354, 0x3903B3C2,
    0xA7672661, 0xD06016F7, 0x4969474D, 0x3E6E77DB, 0xAED16A4A, 0xD9D65ADC,
    0x40DF0B66, 0x37D83BF0, 0xA9BCAE53, 0xDEBB9EC5, 0x47B2CF7F, 0x30B5FFE9,
    0xBDBDF21C, 0xCABAC28A, 0x53B39330, 0x24B4A3A6, 0xBAD03605, 0xCDD70693,
    0x54DE5729, 0x23D967BF, 0xB3667A2E, 0xC4614AB8, 0x5D681B02, 0x2A6F2B94,
    0xB40BBE37, 0xC30C8EA1, 0x5A05DF1B, 0x2D02EF8D,
};

// The frame CRC is the standard CRC-32 continued from this value: the
// register starts at its complement.
const uint32_t kCrcStart = 0x35769521u;

const int kRecordHeader = 5;     // class, command, marker, 16-bit data length
const int kFeedFrame = kRecordHeader + 2 + CPrinterPaperang::kFrameOverhead;
const int kLocateFrame = kRecordHeader + 4 + CPrinterPaperang::kFrameOverhead;
const int kBareFrame = kRecordHeader + CPrinterPaperang::kFrameOverhead;

// Media modes (m_reg.iGap[0]) and how a page ends on them.
enum { kMediaContinuous = 0, kMediaGap = 1, kMediaBlackLine = 2, kMediaRoll = 4 };

void PutLe16(unsigned char* p, unsigned v)
{
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
}

void PutLe32(unsigned char* p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
    p[2] = static_cast<unsigned char>((v >> 16) & 0xFF);
    p[3] = static_cast<unsigned char>((v >> 24) & 0xFF);
}

} // namespace

CBaseRender::SlipBreak CPrinterPaperang::Slips() const
{
    const int media = m_reg.iGap[0];
    return media == kMediaContinuous || media == kMediaRoll ? kSlipPerJob : kNoSlips;
}

// Everything one page's coding produces, released together.
struct CPrinterPaperang::tagCodedPage {
    CHfmCode::HGMRNCODENODE* pTree = nullptr;
    int nNodes = 0;
    unsigned short* pPreorder = nullptr;
    unsigned short* pInorder = nullptr;
    HFMCODEBLOCK* pBlocks = nullptr;   // block array and block bytes, one heap block
    int nBlocks = 0;
    long long llFrameBytes = 0;        // tree frame plus all bitmap frames

    tagCodedPage() = default;
    tagCodedPage(const tagCodedPage&) = delete;
    tagCodedPage& operator=(const tagCodedPage&) = delete;
    ~tagCodedPage()
    {
        std::free(pBlocks);
        std::free(pInorder);
        std::free(pPreorder);
        std::free(pTree);
    }
};

CPrinterPaperang::CPrinterPaperang()
{
    std::memcpy(m_crcTable, kCrc32Table, sizeof m_crcTable);
    m_buffer.SetMaxBufferSize(0x6400000);
}

CPrinterPaperang::~CPrinterPaperang() {}

uint32_t CPrinterPaperang::MakeCrc32(const unsigned char* data, unsigned int len) const
{
    uint32_t reg = ~kCrcStart;
    for (unsigned int i = 0; i < len; ++i)
        reg = m_crcTable[(reg ^ data[i]) & 0xFF] ^ (reg >> 8);
    return ~reg;
}

void CPrinterPaperang::AddToBuffer(const void* p, int n)
{
    m_buffer.AddBuffer(p, n);
}

void CPrinterPaperang::AddToBuffer(CMyBuffer& b)
{
    m_buffer.AddBuffer(b.GetBuffer(), b.GetBufferLength());
}

bool CPrinterPaperang::cmdChildClassPackage(const unsigned char* data, int len)
{
    // A longer payload would go out with a wrapped length and the printer
    // would read the rest of it as further frames.
    if (len < 0 || len > kMaxPayload || (!data && len > 0)) {
        AddLog("cmdChildClassPackage: payload of %d bytes does not fit a frame", len);
        return false;
    }
    unsigned char head[4] = {0xA5, 0x01, 0, 0};
    PutLe16(head + 2, static_cast<unsigned>(len));
    unsigned char tail[5];
    PutLe32(tail, MakeCrc32(data, static_cast<unsigned>(len)));
    tail[4] = 0x5A;

    CMyBuffer frame;
    frame.SetBufferSize(len + kFrameOverhead);
    frame.AddBuffer(head, sizeof head);
    frame.AddBuffer(data, len);
    frame.AddBuffer(tail, sizeof tail);
    AddToBuffer(frame);
    return true;
}

void CPrinterPaperang::cmdBeginPrinting()
{
    const unsigned char rec[] = {0x05, 0x19, 0x03, 0x00, 0x00};
    cmdChildClassPackage(rec, sizeof rec);
    AddLog("MM_TP_CTRL_PRINT_START");
}

void CPrinterPaperang::cmdEndPrinting()
{
    const unsigned char rec[] = {0x05, 0x1A, 0x03, 0x00, 0x00};
    cmdChildClassPackage(rec, sizeof rec);
    AddLog("MM_TP_CTRL_PRINT_END");
}

void CPrinterPaperang::cmdFeed(int n)
{
    unsigned char rec[] = {0x05, 0x16, 0x03, 0x02, 0x00, 0, 0};
    PutLe16(rec + 5, static_cast<unsigned>(n));
    cmdChildClassPackage(rec, sizeof rec);
}

void CPrinterPaperang::cmdPaperLocate(int n)
{
    unsigned char rec[] = {0x05, 0x21, 0x03, 0x04, 0x00, 0, 0, 0, 0};
    PutLe32(rec + 5, static_cast<uint32_t>(n));
    cmdChildClassPackage(rec, sizeof rec);
}

bool CPrinterPaperang::cmdHfmTree(const unsigned char* data, int length)
{
    if (length < 0 || length > kMaxPayload - kRecordHeader || (!data && length > 0)) {
        AddLog("cmdHfmTree: tree of %d bytes does not fit a packet", length);
        return false;
    }
    CMyBuffer rec;
    unsigned char head[kRecordHeader] = {0x05, 0x1C, 0x03, 0, 0};
    PutLe16(head + 3, static_cast<unsigned>(length));
    rec.SetBufferSize(kRecordHeader + length);
    rec.AddBuffer(head, sizeof head);
    rec.AddBuffer(data, length);
    return cmdChildClassPackage(rec.GetBuffer(), rec.GetBufferLength());
}

bool CPrinterPaperang::cmdBitmap(int index, bool coded, const unsigned char* data, int length)
{
    // Every 16-bit field must hold its value: the frame length (17 + length)
    // is the largest, then 12 + length, 8 + length, the stride and the index.
    const unsigned stride = m_image.GetEffWidth();
    if (length < 0 || length > kMaxPayload - kBitmapHeader || (!data && length > 0) ||
        index < 0 || index > 0xFFFF || stride > 0xFFFF) {
        AddLog("cmdBitmap: block %d of %d bytes (row stride %u) does not fit a packet", index,
               length, stride);
        return false;
    }
    unsigned char head[kBitmapHeader] = {0x05, 0x1B, 0x03};
    PutLe16(head + 3, static_cast<unsigned>(12 + length)); // bytes from offset 5 on
    PutLe16(head + 5, static_cast<unsigned>(index));
    PutLe16(head + 7, static_cast<unsigned>(8 + length));  // bytes from offset 9 on
    head[9] = 0x01;
    PutLe16(head + 10, stride);
    head[12] = 0x00;
    head[13] = 0x00;
    head[14] = coded ? 0x01 : 0x00;
    PutLe16(head + 15, static_cast<unsigned>(length));

    CMyBuffer rec;
    rec.SetBufferSize(kBitmapHeader + length);
    rec.AddBuffer(head, sizeof head);
    rec.AddBuffer(data, length);
    return cmdChildClassPackage(rec.GetBuffer(), rec.GetBufferLength());
}

bool CPrinterPaperang::CodePage(tagCodedPage& page)
{
    unsigned char* bits = m_image.GetBits(0);
    const unsigned stride = m_image.GetEffWidth();
    const unsigned rows = m_image.GetHeight();
    const unsigned long long bytes = static_cast<unsigned long long>(stride) * rows;
    if (!bits || bytes == 0 || bytes >= 0x7FFFFFFFull) {
        AddLog("SendBitmap_withHFM: page not sent, no page image to code");
        RefusePage("there is no page image to send");
        return false;
    }
    // Every bitmap record carries the stride in a 16-bit field.
    if (stride > 0xFFFF) {
        AddLog("SendBitmap_withHFM: page not sent, row stride %u does not fit a packet", stride);
        RefusePage("its rows of %u bytes exceed the packet's 16-bit row length", stride);
        return false;
    }

    CHfmCode hfm;
    page.pTree = hfm.GetHfmTree(bits, static_cast<int>(bytes), &page.nNodes, 0, 0);
    if (page.pTree) {
        page.pPreorder = hfm.GetTreePreorder(page.pTree, page.nNodes);
        page.pInorder = hfm.GetTreeMiddleorder(page.pTree, page.nNodes);
    }
    if (!page.pPreorder || !page.pInorder) {
        AddLog("SendBitmap_withHFM: page not sent, no Huffman tree");
        RefusePage("its image could not be compressed");
        return false;
    }
    page.llFrameBytes = kFrameOverhead + kRecordHeader + 4LL * page.nNodes;

    page.pBlocks = hfm.HFMDGencoding(page.pTree, page.nNodes, bits, static_cast<int>(stride),
                                     static_cast<int>(rows), kBlockBytes, &page.nBlocks);
    if (!page.pBlocks) {
        // The page still goes out as begin, tree and end, without bitmap.
        page.nBlocks = 0;
        AddLog("SendBitmap_withHFM: coding failed, no bitmap sent");
        return true;
    }
    if (page.nBlocks > 0x10000) {
        AddLog("SendBitmap_withHFM: page not sent, %d blocks exceed the 16-bit block number",
               page.nBlocks);
        RefusePage("its %d compressed blocks exceed the packet's 16-bit block number",
                   page.nBlocks);
        return false;
    }
    for (int i = 0; i < page.nBlocks; ++i) {
        const int len = page.pBlocks[i].iLen;
        if (len > kMaxPayload - kBitmapHeader) {
            AddLog("SendBitmap_withHFM: page not sent, block %d codes to %d bytes, more than a "
                   "packet holds (%d)",
                   i, len, kMaxPayload - kBitmapHeader);
            RefusePage("block %d of its image compresses to %d bytes, more than a packet holds "
                       "(%d)",
                       i, len, kMaxPayload - kBitmapHeader);
            return false;
        }
        page.llFrameBytes += kFrameOverhead + kBitmapHeader + len;
    }
    return true;
}

void CPrinterPaperang::SendCodedPage(const tagCodedPage& page)
{
    // Tree record: the pre-order symbols, then the in-order symbols, each
    // 16-bit little-endian. A symbol below 256 is a leaf.
    CMyBuffer tree;
    tree.SetBufferSize(4 * page.nNodes);
    for (int pass = 0; pass < 2; ++pass) {
        const unsigned short* list = pass == 0 ? page.pPreorder : page.pInorder;
        for (int i = 0; i < page.nNodes; ++i) {
            unsigned char sym[2];
            PutLe16(sym, list[i]);
            tree.AddBuffer(sym, 2);
        }
    }
    cmdHfmTree(tree.GetBuffer(), tree.GetBufferLength());

    for (int i = 0; i < page.nBlocks; ++i)
        cmdBitmap(i, true, page.pBlocks[i].pData, page.pBlocks[i].iLen);
}

bool CPrinterPaperang::SendBitmap_withHFM()
{
    tagCodedPage page;
    if (!CodePage(page))
        return false;
    // Room for all packets at once; an append past the limit empties the
    // buffer instead, as always.
    m_buffer.Reserve(page.llFrameBytes);
    SendCodedPage(page);
    return true;
}

void CPrinterPaperang::OnPaintBmp()
{
    AddLog("OnPaintBmp");
    // A set bit prints.
    Negative();

    // The page is coded before anything of it is sent: a page that cannot
    // go out whole sends no packet at all.
    tagCodedPage page;
    if (!CodePage(page))
        return;

    const int media = m_reg.iGap[0];
    long long pageBytes = kBareFrame + page.llFrameBytes + kBareFrame;
    if (media == kMediaGap || media == kMediaBlackLine)
        pageBytes += kLocateFrame;
    else if (media == kMediaContinuous || media == kMediaRoll)
        pageBytes += kFeedFrame;
    // Past the buffer's limit the buffer would drop the packets collected so
    // far and the printer would get the page's tail without its start.
    if (!m_buffer.CanAppend(pageBytes)) {
        AddLog("OnPaintBmp: page not sent, %lld bytes of packets exceed the output limit of %d",
               pageBytes, m_buffer.GetMaxBufferSize());
        RefusePage("its %lld bytes of packets exceed the output limit of %d bytes", pageBytes,
                   m_buffer.GetMaxBufferSize());
        return;
    }
    m_buffer.Reserve(pageBytes);

    cmdBeginPrinting();
    SendCodedPage(page);
    cmdEndPrinting();
    if (media == kMediaGap || media == kMediaBlackLine)
        cmdPaperLocate(kLocateDistance);
    if (media == kMediaContinuous || media == kMediaRoll)
        cmdFeed(0);

    WritePageCopies(m_buffer.GetBuffer(), m_buffer.GetBufferLength());
    m_buffer.InitBuffer(0);
}

void CPrinterPaperang::OnEndDoc()
{
    WriteKeptCopies();
    CBaseRender::OnEndDoc();
}
