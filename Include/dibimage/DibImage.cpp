#include "DibImage.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// Normalises a requested depth to a stored one: 1, 4, 8 or 24 bits.
unsigned NormaliseBpp(unsigned bpp)
{
    if (bpp <= 1)
        return 1;
    if (bpp <= 4)
        return 4;
    if (bpp <= 8)
        return 8;
    return 24;
}

unsigned ColoursFor(unsigned bpp)
{
    switch (bpp) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
}

uint32_t RowBytes(unsigned width, unsigned bpp)
{
    return ((bpp * width + 31u) >> 5) << 2;
}

// Padded pixel storage larger than this is refused even when the nominal
// size passes the memory limit: row padding can make a very narrow, very
// tall image up to 32 times its nominal size (and past the 32-bit image
// size field), while for any ordinary image it adds at most 3 bytes a row.
const unsigned long long kMaxPaddedStorage = 2ull * 268435456ull;

const char kErrZeroSize[] = "CDibImage::Create : width and height must be greater than zero";
const char kErrMaxMemory[] = "DIBIMAGE_MAX_MEMORY exceeded";
const char kErrNoMemory[] = "CDibImage::Create can't allocate memory";

bool HostIsLittleEndian()
{
    const uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

} // namespace

CDibImage::CDibImage(unsigned imagetype)
    : m_pBlock(nullptr), m_pSelectionMask(nullptr), m_pAlphaPlane(nullptr), m_ppLayers(nullptr),
      m_ppFrames(nullptr)
{
    std::memset(&m_dibHeader, 0, sizeof m_dibHeader);
    std::memset(&m_info, 0, sizeof m_info);
    m_info.dwImageType = imagetype;
    m_info.fCodecQuality = 90.0f;
    m_info.byAlphaMax = 255;
    m_info.iTransparentIndex = -1;
    m_info.bDrawEnabled = true;
    m_info.byCodecScale = 1;
    SetXDPI(96);
    SetYDPI(96);
    m_info.bLittleEndian = HostIsLittleEndian();
}

CDibImage::CDibImage(unsigned width, unsigned height, unsigned bpp, unsigned imagetype)
    : CDibImage(imagetype)
{
    Create(width, height, bpp, imagetype);
}

CDibImage::CDibImage(const CDibImage& src, bool copypixels, bool copyselection, bool copyalpha)
    : CDibImage(src.GetType())
{
    Copy(src, copypixels, copyselection, copyalpha);
}

CDibImage::~CDibImage()
{
    DestroyFrames();
    Destroy();
}

CDibImage& CDibImage::operator=(const CDibImage& src)
{
    if (this != &src)
        Copy(src, true, true, true);
    return *this;
}

void CDibImage::SetError(const char* text)
{
    std::strncpy(m_info.szErrorText, text, sizeof m_info.szErrorText - 1);
    m_info.szErrorText[sizeof m_info.szErrorText - 1] = '\0';
}

bool CDibImage::Destroy()
{
    if (m_info.pGhostSource)
        return false;
    if (m_ppLayers) {
        for (int i = 0; i < m_info.iLayerCount; ++i)
            delete m_ppLayers[i];
        delete[] m_ppLayers;
        m_ppLayers = nullptr;
    }
    m_info.iLayerCount = 0;
    std::free(m_pSelectionMask);
    m_pSelectionMask = nullptr;
    std::free(m_pAlphaPlane);
    m_pAlphaPlane = nullptr;
    std::free(m_pBlock);
    m_pBlock = nullptr;
    return true;
}

bool CDibImage::DestroyFrames()
{
    if (m_info.pGhostSource)
        return false;
    if (m_ppFrames) {
        for (int i = 0; i < m_info.iFrameCount; ++i)
            delete m_ppFrames[i];
        delete[] m_ppFrames;
        m_ppFrames = nullptr;
    }
    m_info.iFrameCount = 0;
    return true;
}

bool CDibImage::CanCreate(unsigned width, unsigned height, unsigned bpp)
{
    if (width == 0 || height == 0)
        return false;
    bpp = NormaliseBpp(bpp);
    // The memory limit, evaluated in single precision in this order.
    const float nominal = static_cast<float>(width) * static_cast<float>(height) *
                          static_cast<float>(bpp) / 8.0f;
    if (nominal > kMaxMemory)
        return false;
    const unsigned long long padded =
        static_cast<unsigned long long>(RowBytes(width, bpp)) * height;
    return padded <= kMaxPaddedStorage;
}

void* CDibImage::Create(unsigned width, unsigned height, unsigned bpp, unsigned imagetype)
{
    if (!Destroy())
        return nullptr;
    if (width == 0 || height == 0) {
        SetError(kErrZeroSize);
        return nullptr;
    }
    bpp = NormaliseBpp(bpp);
    if (!CanCreate(width, height, bpp)) {
        SetError(kErrMaxMemory);
        return nullptr;
    }

    const unsigned colours = ColoursFor(bpp);
    m_info.dwRowBytes = RowBytes(width, bpp);
    m_info.dwImageType = imagetype;
    m_dibHeader.biSize = sizeof(tagBITMAPINFOHEADER);
    m_dibHeader.biWidth = static_cast<int32_t>(width);
    m_dibHeader.biHeight = static_cast<int32_t>(height);
    m_dibHeader.biPlanes = 1;
    m_dibHeader.biBitCount = static_cast<uint16_t>(bpp);
    m_dibHeader.biCompression = 0;
    m_dibHeader.biSizeImage = m_info.dwRowBytes * height;
    m_dibHeader.biClrUsed = colours;

    // The pixel storage is cleared so that no output depends on memory the
    // transforms never write (row padding in particular).
    m_pBlock = static_cast<uint8_t*>(std::calloc(1, GetSize()));
    if (!m_pBlock) {
        SetError(kErrNoMemory);
        return nullptr;
    }

    std::free(m_pSelectionMask);
    m_pSelectionMask = nullptr;
    std::free(m_pAlphaPlane);
    m_pAlphaPlane = nullptr;

    std::memcpy(m_pBlock, &m_dibHeader, sizeof m_dibHeader);
    m_info.pPixels = GetBits(0);
    return m_pBlock;
}

bool CDibImage::CreateFromArray(unsigned char* array, unsigned width, unsigned height, unsigned bpp,
                                unsigned bytesPerLine, bool flip)
{
    if (!array || (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32))
        return false;
    if (!Create(width, height, bpp, 0))
        return false;
    if (bpp < 24)
        SetGrayPalette();
    if (bpp == 32)
        AlphaCreate();

    const size_t copy = m_info.dwRowBytes < bytesPerLine ? m_info.dwRowBytes : bytesPerLine;
    for (unsigned i = 0; i < height; ++i) {
        const unsigned row = flip ? height - 1 - i : i;
        const unsigned char* src = array + static_cast<size_t>(i) * bytesPerLine;
        unsigned char* dst = GetBits(row);
        if (bpp == 32) {
            // Blue, green, red to the pixel, the fourth byte to the alpha plane.
            unsigned char* alpha = m_pAlphaPlane + static_cast<size_t>(row) * width;
            for (unsigned x = 0; x < width; ++x) {
                dst[3 * x] = src[4 * x];
                dst[3 * x + 1] = src[4 * x + 1];
                dst[3 * x + 2] = src[4 * x + 2];
                if (alpha)
                    alpha[x] = src[4 * x + 3];
            }
        } else {
            std::memcpy(dst, src, copy);
        }
    }
    return true;
}

void CDibImage::Copy(const CDibImage& src, bool copypixels, bool copyselection, bool copyalpha)
{
    if (src.m_info.pGhostSource) {
        Ghost(&src);
        return;
    }
    if (m_info.pGhostSource) {
        // A view owns nothing: let go of the shared storage without freeing it.
        m_pBlock = nullptr;
        m_pSelectionMask = nullptr;
        m_pAlphaPlane = nullptr;
        m_ppLayers = nullptr;
        m_ppFrames = nullptr;
        m_info.pGhostSource = nullptr;
    }
    // The info record copied over ours still points into src's block; the
    // pointers are renewed by Create below.
    std::memcpy(&m_info, &src.m_info, sizeof m_info);
    m_info.pGhostSource = nullptr;
    m_info.iLayerCount = 0;
    m_info.iFrameCount = 0;
    std::memcpy(&m_dibHeader, &src.m_dibHeader, sizeof m_dibHeader);

    if (!Create(src.GetWidth(), src.GetHeight(), src.GetBpp(), src.GetType())) {
        m_info.pPixels = nullptr;
        return;
    }
    if (copypixels && src.m_pBlock)
        std::memcpy(m_pBlock, src.m_pBlock, GetSize());
    else
        SetPalette(src.GetPalette(), 256);

    const size_t plane = static_cast<size_t>(GetWidth()) * GetHeight();
    if (copyselection && src.m_pSelectionMask) {
        m_pSelectionMask = static_cast<uint8_t*>(std::malloc(plane));
        if (m_pSelectionMask)
            std::memcpy(m_pSelectionMask, src.m_pSelectionMask, plane);
    }
    if (copyalpha && src.m_pAlphaPlane) {
        m_pAlphaPlane = static_cast<uint8_t*>(std::malloc(plane));
        if (m_pAlphaPlane)
            std::memcpy(m_pAlphaPlane, src.m_pAlphaPlane, plane);
    }
}

void CDibImage::CopyInfo(const CDibImage& src)
{
    if (m_pBlock == nullptr)
        std::memcpy(&m_info, &src.m_info, sizeof m_info);
}

void CDibImage::Ghost(const CDibImage* src)
{
    if (!src)
        return;
    std::memcpy(&m_dibHeader, &src->m_dibHeader, sizeof m_dibHeader);
    std::memcpy(&m_info, &src->m_info, sizeof m_info);
    m_pBlock = src->m_pBlock;
    m_pSelectionMask = src->m_pSelectionMask;
    m_pAlphaPlane = src->m_pAlphaPlane;
    m_ppLayers = src->m_ppLayers;
    m_ppFrames = src->m_ppFrames;
    m_info.pGhostSource = const_cast<CDibImage*>(src);
}

bool CDibImage::Transfer(CDibImage& from, bool transferframes)
{
    if (&from == this)
        return true;
    if (!Destroy())
        return false;
    std::memcpy(&m_dibHeader, &from.m_dibHeader, sizeof m_dibHeader);
    const int frameCount = m_info.iFrameCount;
    std::memcpy(&m_info, &from.m_info, sizeof m_info);
    m_info.iFrameCount = frameCount;
    m_pBlock = from.m_pBlock;
    m_pSelectionMask = from.m_pSelectionMask;
    m_pAlphaPlane = from.m_pAlphaPlane;
    m_ppLayers = from.m_ppLayers;

    const int fromFrames = from.m_info.iFrameCount;
    std::memset(&from.m_dibHeader, 0, sizeof from.m_dibHeader);
    std::memset(&from.m_info, 0, sizeof from.m_info);
    from.m_pBlock = nullptr;
    from.m_pSelectionMask = nullptr;
    from.m_pAlphaPlane = nullptr;
    from.m_ppLayers = nullptr;

    if (transferframes) {
        DestroyFrames();
        m_ppFrames = from.m_ppFrames;
        m_info.iFrameCount = fromFrames;
        from.m_ppFrames = nullptr;
    } else {
        // The frames stay with from, which keeps its count of them.
        from.m_info.iFrameCount = fromFrames;
    }
    return true;
}

unsigned CDibImage::GetSize() const
{
    return m_dibHeader.biSize + m_dibHeader.biSizeImage + GetPaletteSize();
}

bool CDibImage::IsInside(long x, long y) const
{
    return x >= 0 && y >= 0 && x < static_cast<long>(GetWidth()) &&
           y < static_cast<long>(GetHeight());
}

unsigned char* CDibImage::GetBits(unsigned row) const
{
    if (!m_pBlock)
        return nullptr;
    uint32_t headerSize;
    std::memcpy(&headerSize, m_pBlock, sizeof headerSize);
    unsigned char* pixels = m_pBlock + headerSize + GetPaletteSize();
    if (row == 0)
        return pixels;
    if (row < GetHeight())
        return pixels + static_cast<size_t>(row) * m_info.dwRowBytes;
    return nullptr;
}

namespace {

int32_t PixelsPerMetre(int dpi)
{
    return static_cast<int32_t>(std::floor(dpi * 10000.0 / 254.0 + 0.5));
}

} // namespace

void CDibImage::SetXDPI(int dpi)
{
    if (dpi <= 0)
        dpi = 96;
    m_info.iXDpi = dpi;
    m_dibHeader.biXPelsPerMeter = PixelsPerMetre(dpi);
    if (m_pBlock)
        reinterpret_cast<tagBITMAPINFOHEADER*>(m_pBlock)->biXPelsPerMeter =
            m_dibHeader.biXPelsPerMeter;
}

void CDibImage::SetYDPI(int dpi)
{
    if (dpi <= 0)
        dpi = 96;
    m_info.iYDpi = dpi;
    m_dibHeader.biYPelsPerMeter = PixelsPerMetre(dpi);
    if (m_pBlock)
        reinterpret_cast<tagBITMAPINFOHEADER*>(m_pBlock)->biYPelsPerMeter =
            m_dibHeader.biYPelsPerMeter;
}

unsigned CDibImage::GetPaletteSize() const
{
    return m_dibHeader.biClrUsed * sizeof(tagRGBQUAD);
}

tagRGBQUAD* CDibImage::GetPalette() const
{
    if (m_pBlock && m_dibHeader.biClrUsed)
        return reinterpret_cast<tagRGBQUAD*>(m_pBlock + sizeof(tagBITMAPINFOHEADER));
    return nullptr;
}

void CDibImage::SetPalette(const tagRGBQUAD* pal, unsigned n)
{
    tagRGBQUAD* dst = GetPalette();
    if (!pal || !dst)
        return;
    const size_t bytes = static_cast<size_t>(n) * sizeof(tagRGBQUAD);
    const size_t have = GetPaletteSize();
    std::memcpy(dst, pal, bytes < have ? bytes : have);
    ClearNearestCache();
}

void CDibImage::SetGrayPalette()
{
    tagRGBQUAD* pal = GetPalette();
    const unsigned n = m_dibHeader.biClrUsed;
    if (!pal || n < 2)
        return;
    const unsigned step = 255 / (n - 1);
    for (unsigned i = 0; i < n; ++i) {
        const uint8_t v = static_cast<uint8_t>(i * step);
        pal[i].rgbBlue = pal[i].rgbGreen = pal[i].rgbRed = v;
    }
    ClearNearestCache();
}

void CDibImage::SetPaletteColor(unsigned char idx, unsigned char r, unsigned char g,
                                unsigned char b, unsigned char alpha)
{
    tagRGBQUAD* pal = GetPalette();
    if (!pal || idx >= m_dibHeader.biClrUsed)
        return;
    pal[idx].rgbRed = r;
    pal[idx].rgbGreen = g;
    pal[idx].rgbBlue = b;
    pal[idx].rgbReserved = alpha;
    ClearNearestCache();
}

void CDibImage::SetPaletteColor(unsigned char idx, tagRGBQUAD c)
{
    tagRGBQUAD* pal = GetPalette();
    if (!pal || idx >= m_dibHeader.biClrUsed)
        return;
    pal[idx] = c;
    ClearNearestCache();
}

tagRGBQUAD CDibImage::GetPaletteColor(unsigned char idx) const
{
    tagRGBQUAD c = {0, 0, 0, 0};
    const tagRGBQUAD* pal = GetPalette();
    if (pal && idx < m_dibHeader.biClrUsed)
        c = pal[idx];
    return c;
}

unsigned char CDibImage::GetNearestIndex(tagRGBQUAD c)
{
    const tagRGBQUAD* pal = GetPalette();
    if (!pal)
        return 0;
    if (m_info.bNearestValid && std::memcmp(&m_info.rgbNearestKey, &c, sizeof c) == 0)
        return m_info.byNearestIndex;
    m_info.rgbNearestKey = c;
    m_info.bNearestValid = true;

    unsigned n = m_dibHeader.biClrImportant ? m_dibHeader.biClrImportant : m_dibHeader.biClrUsed;
    if (n > m_dibHeader.biClrUsed)
        n = m_dibHeader.biClrUsed;
    long best = 200000;
    unsigned char index = 0;
    for (unsigned j = 0; j < n; ++j) {
        const long db = static_cast<long>(pal[j].rgbBlue) - c.rgbBlue;
        const long dg = static_cast<long>(pal[j].rgbGreen) - c.rgbGreen;
        const long dr = static_cast<long>(pal[j].rgbRed) - c.rgbRed;
        const long d = db * db + dg * dg + dr * dr;
        if (d == 0) {
            index = static_cast<unsigned char>(j);
            break;
        }
        if (d < best) {
            best = d;
            index = static_cast<unsigned char>(j);
        }
    }
    m_info.byNearestIndex = index;
    return index;
}

bool CDibImage::IsGrayScale() const
{
    const tagRGBQUAD* pal = GetPalette();
    if (!pal)
        return false;
    for (unsigned i = 0; i < m_dibHeader.biClrUsed; ++i)
        if (pal[i].rgbBlue != i || pal[i].rgbGreen != i || pal[i].rgbRed != i)
            return false;
    return true;
}

tagRGBQUAD CDibImage::RGBtoRGBQUAD(unsigned colour)
{
    tagRGBQUAD c;
    c.rgbBlue = static_cast<uint8_t>((colour >> 16) & 0xFF);
    c.rgbGreen = static_cast<uint8_t>((colour >> 8) & 0xFF);
    c.rgbRed = static_cast<uint8_t>(colour & 0xFF);
    c.rgbReserved = 0;
    return c;
}

void CDibImage::SetTransIndex(int idx)
{
    m_info.iTransparentIndex = idx < static_cast<long>(m_dibHeader.biClrUsed) ? idx : 0;
}

tagRGBQUAD CDibImage::GetTransColor() const
{
    if (m_dibHeader.biBitCount == 24 || m_info.iTransparentIndex < 0)
        return m_info.rgbTransparentColor;
    return GetPaletteColor(static_cast<unsigned char>(m_info.iTransparentIndex));
}

unsigned char CDibImage::BlindGetPixelIndex(long x, long y) const
{
    const unsigned char* row = m_info.pPixels + static_cast<size_t>(y) * m_info.dwRowBytes;
    switch (m_dibHeader.biBitCount) {
    case 8:
        return row[x];
    case 4:
        return static_cast<unsigned char>((row[x >> 1] >> (4 * (1 - (x & 1)))) & 0x0F);
    case 1:
        return static_cast<unsigned char>((row[x >> 3] >> (7 - (x & 7))) & 1);
    default:
        return 0;
    }
}

unsigned char CDibImage::GetPixelIndex(long x, long y) const
{
    if (!m_pBlock || m_dibHeader.biClrUsed == 0)
        return 0;
    if (!IsInside(x, y)) {
        // The out-of-range index: the transparent one, else the first byte
        // of pixel storage taken whole.
        if (m_info.iTransparentIndex >= 0)
            return static_cast<unsigned char>(m_info.iTransparentIndex);
        return *GetBits(0);
    }
    return BlindGetPixelIndex(x, y);
}

void CDibImage::BlindSetPixelIndex(long x, long y, unsigned char i)
{
    unsigned char* row = m_info.pPixels + static_cast<size_t>(y) * m_info.dwRowBytes;
    switch (m_dibHeader.biBitCount) {
    case 8:
        row[x] = i;
        break;
    case 4: {
        const int shift = 4 * (1 - static_cast<int>(x & 1));
        unsigned char& b = row[x >> 1];
        b = static_cast<unsigned char>((b & ~(0x0F << shift)) | ((i & 0x0F) << shift));
        break;
    }
    case 1: {
        const int shift = 7 - static_cast<int>(x & 7);
        unsigned char& b = row[x >> 3];
        b = static_cast<unsigned char>((b & ~(1 << shift)) | ((i & 1) << shift));
        break;
    }
    default:
        break;
    }
}

void CDibImage::SetPixelIndex(long x, long y, unsigned char i)
{
    if (!m_pBlock || m_dibHeader.biClrUsed == 0 || !IsInside(x, y))
        return;
    BlindSetPixelIndex(x, y, i);
}

tagRGBQUAD CDibImage::BlindGetPixelColor(long x, long y, bool getalpha) const
{
    tagRGBQUAD c = m_info.rgbTransparentColor;
    if (m_dibHeader.biClrUsed) {
        c = GetPaletteColor(BlindGetPixelIndex(x, y));
    } else {
        const unsigned char* p =
            m_info.pPixels + static_cast<size_t>(y) * m_info.dwRowBytes + 3 * static_cast<size_t>(x);
        c.rgbBlue = p[0];
        c.rgbGreen = p[1];
        c.rgbRed = p[2];
    }
    if (m_pAlphaPlane && getalpha)
        c.rgbReserved = m_pAlphaPlane[static_cast<size_t>(y) * GetWidth() + static_cast<size_t>(x)];
    return c;
}

tagRGBQUAD CDibImage::GetPixelColor(long x, long y, bool getalpha) const
{
    tagRGBQUAD c = m_info.rgbTransparentColor;
    if (!m_pBlock || !IsInside(x, y)) {
        if (m_info.iTransparentIndex >= 0) {
            if (m_dibHeader.biBitCount < 24)
                return GetPaletteColor(static_cast<unsigned char>(m_info.iTransparentIndex));
            return m_info.rgbTransparentColor;
        }
        if (!m_pBlock)
            return c;
        x = 0;
        y = 0;
    }
    return BlindGetPixelColor(x, y, getalpha);
}

void CDibImage::BlindSetPixelColor(long x, long y, tagRGBQUAD c, bool setalpha)
{
    if (m_dibHeader.biClrUsed) {
        BlindSetPixelIndex(x, y, GetNearestIndex(c));
    } else {
        unsigned char* p =
            m_info.pPixels + static_cast<size_t>(y) * m_info.dwRowBytes + 3 * static_cast<size_t>(x);
        p[0] = c.rgbBlue;
        p[1] = c.rgbGreen;
        p[2] = c.rgbRed;
    }
    if (setalpha && m_pAlphaPlane)
        m_pAlphaPlane[static_cast<size_t>(y) * GetWidth() + static_cast<size_t>(x)] = c.rgbReserved;
}

void CDibImage::SetPixelColor(long x, long y, tagRGBQUAD c, bool setalpha)
{
    if (!m_pBlock || !IsInside(x, y))
        return;
    BlindSetPixelColor(x, y, c, setalpha);
}

void CDibImage::SetPixelColor(long x, long y, unsigned colour)
{
    SetPixelColor(x, y, RGBtoRGBQUAD(colour), false);
}

void CDibImage::Clear(unsigned char v)
{
    unsigned char* bits = GetBits(0);
    if (!bits)
        return;
    if (m_dibHeader.biBitCount == 1 && v)
        v = 255;
    else if (m_dibHeader.biBitCount == 4)
        v = static_cast<unsigned char>((v & 15) * 17);
    std::memset(bits, v, m_dibHeader.biSizeImage);
}

bool CDibImage::AlphaCreate()
{
    if (!m_pAlphaPlane && m_pBlock) {
        const size_t plane = static_cast<size_t>(GetWidth()) * GetHeight();
        m_pAlphaPlane = static_cast<uint8_t*>(std::malloc(plane));
        if (m_pAlphaPlane)
            std::memset(m_pAlphaPlane, 255, plane);
    }
    return m_pAlphaPlane != nullptr;
}

void CDibImage::AlphaDelete()
{
    if (m_info.pGhostSource)
        return;
    std::free(m_pAlphaPlane);
    m_pAlphaPlane = nullptr;
}

void CDibImage::AlphaClear()
{
    if (m_pAlphaPlane)
        std::memset(m_pAlphaPlane, 0, static_cast<size_t>(GetWidth()) * GetHeight());
}

void CDibImage::AlphaSet(long x, long y, unsigned char v)
{
    if (m_pAlphaPlane && IsInside(x, y))
        m_pAlphaPlane[static_cast<size_t>(y) * GetWidth() + static_cast<size_t>(x)] = v;
}

unsigned char CDibImage::AlphaGet(long x, long y) const
{
    if (m_pAlphaPlane && IsInside(x, y))
        return m_pAlphaPlane[static_cast<size_t>(y) * GetWidth() + static_cast<size_t>(x)];
    return 0;
}

bool CDibImage::AlphaCopy(const CDibImage& src)
{
    if (!src.m_pAlphaPlane || src.GetWidth() != GetWidth() || src.GetHeight() != GetHeight())
        return false;
    const size_t plane = static_cast<size_t>(GetWidth()) * GetHeight();
    if (!m_pAlphaPlane)
        m_pAlphaPlane = static_cast<uint8_t*>(std::malloc(plane));
    if (!m_pAlphaPlane)
        return false;
    std::memcpy(m_pAlphaPlane, src.m_pAlphaPlane, plane);
    m_info.byAlphaMax = src.m_info.byAlphaMax;
    return true;
}

namespace {

void ReverseRows(uint8_t* plane, unsigned width, unsigned height)
{
    if (!plane)
        return;
    for (unsigned y = 0; y < height; ++y) {
        uint8_t* row = plane + static_cast<size_t>(y) * width;
        for (unsigned a = 0, b = width ? width - 1 : 0; a < b; ++a, --b) {
            const uint8_t t = row[a];
            row[a] = row[b];
            row[b] = t;
        }
    }
}

} // namespace

void CDibImage::AlphaMirror()
{
    ReverseRows(m_pAlphaPlane, GetWidth(), GetHeight());
}

void CDibImage::SelectionMirror()
{
    ReverseRows(m_pSelectionMask, GetWidth(), GetHeight());
}
