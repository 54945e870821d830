// The in-memory page image: a device-independent bitmap (BMP layout) with
// its header, palette and padded pixel rows in one allocation.
//
// Coordinates are (x, storage row y). The filter stores raster line n in
// storage row n, so storage row 0 is the first printed line.
#pragma once

#include <cstdint>

#pragma pack(push, 1)
struct tagBITMAPINFOHEADER {
    uint32_t biSize;          // always 40
    int32_t biWidth;
    int32_t biHeight;         // positive
    uint16_t biPlanes;        // always 1
    uint16_t biBitCount;      // 1, 4, 8 or 24
    uint32_t biCompression;   // always 0
    uint32_t biSizeImage;     // row bytes x height
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;       // 2, 16, 256 or 0
    uint32_t biClrImportant;
};

struct tagRGBQUAD {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};
#pragma pack(pop)

static_assert(sizeof(tagBITMAPINFOHEADER) == 40, "BMP info header is 40 bytes");
static_assert(sizeof(tagRGBQUAD) == 4, "palette entries are 4 bytes");

struct tagRECT {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

class CDibImage;

struct tagImageInfo {
    uint32_t dwRowBytes;          // bytes per stored row, padded to 4
    uint8_t* pPixels;             // storage row 0 inside the block
    CDibImage* pGhostSource;      // for a non-owning view: the owner
    CDibImage* pParentImage;      // parent of a layer image
    uint32_t dwImageType;
    char szErrorText[256];
    int32_t iProgressPercent;
    int32_t iAbortRequest;
    int32_t iTransparentIndex;    // -1 = none
    tagRGBQUAD rgbTransparentColor;
    float fCodecQuality;
    uint8_t byCodecScale;
    int32_t iFrameIndex;
    int32_t iFrameCount;
    uint32_t dwFrameDelay;
    int32_t iXDpi;
    int32_t iYDpi;
    tagRECT rcSelection;
    uint8_t byAlphaMax;
    bool bPaletteAlpha;
    bool bDrawEnabled;
    int32_t iReserved1;
    int32_t iReserved2;
    uint32_t dwCodecOption1;
    uint32_t dwCodecOption2;
    tagRGBQUAD rgbNearestKey;     // one-entry cache of GetNearestIndex
    uint8_t byNearestIndex;
    bool bNearestValid;
    int32_t iLayerCount;
    uint32_t dwUserFlags;
    uint8_t byReserved1;
    uint8_t byReserved2;
    bool bLittleEndian;
};

class CDibImage {
public:
    // Largest pixel storage an image may have: 2^28 bytes (256 MiB). The
    // test is width x height x bpp / 8 in single precision, inclusive.
    static constexpr float kMaxMemory = 268435456.0f;

    explicit CDibImage(unsigned imagetype = 0);
    CDibImage(unsigned width, unsigned height, unsigned bpp, unsigned imagetype);
    CDibImage(const CDibImage& src, bool copypixels, bool copyselection, bool copyalpha);
    // A full copy: the block is duplicated, never shared.
    CDibImage(const CDibImage& src) : CDibImage(src, true, true, true) {}
    virtual ~CDibImage();

    CDibImage& operator=(const CDibImage& src);

    bool Destroy();
    bool DestroyFrames();

    // Creation. Create clears the new pixel storage to zero bytes.
    void* Create(unsigned width, unsigned height, unsigned bpp, unsigned imagetype);
    bool CreateFromArray(unsigned char* array, unsigned width, unsigned height, unsigned bpp,
                         unsigned bytesPerLine, bool flip);
    // Whether Create would accept these dimensions (the exact test Create
    // applies: non-zero size, memory limit). bpp is normalised as Create does.
    static bool CanCreate(unsigned width, unsigned height, unsigned bpp);

    // Copying and moving.
    void Copy(const CDibImage& src, bool copypixels = true, bool copyselection = true,
              bool copyalpha = true);
    void CopyInfo(const CDibImage& src);
    void Ghost(const CDibImage* src);
    bool Transfer(CDibImage& from, bool transferframes = true);

    // Queries.
    bool IsValid() const { return m_pBlock != nullptr; }
    unsigned GetWidth() const { return static_cast<unsigned>(m_dibHeader.biWidth); }
    unsigned GetHeight() const { return static_cast<unsigned>(m_dibHeader.biHeight); }
    unsigned GetEffWidth() const { return m_info.dwRowBytes; }
    unsigned short GetBpp() const { return m_dibHeader.biBitCount; }
    unsigned GetType() const { return m_info.dwImageType; }
    unsigned GetSize() const;
    const char* GetLastError() const { return m_info.szErrorText; }
    tagBITMAPINFOHEADER* GetHeader() { return &m_dibHeader; }
    const tagImageInfo& GetInfo() const { return m_info; }
    bool IsInside(long x, long y) const;
    bool IsGhost() const { return m_info.pGhostSource != nullptr; }

    // Row access: null without a block or for row >= height.
    unsigned char* GetBits(unsigned row = 0) const;

    // Resolution.
    void SetXDPI(int dpi);
    void SetYDPI(int dpi);
    int GetXDPI() const { return m_info.iXDpi; }
    int GetYDPI() const { return m_info.iYDpi; }

    // Palette.
    unsigned GetPaletteSize() const;
    tagRGBQUAD* GetPalette() const;
    unsigned GetNumColors() const { return m_dibHeader.biClrUsed; }
    void SetPalette(const tagRGBQUAD* pal, unsigned n = 256);
    void SetGrayPalette();
    void SetPaletteColor(unsigned char idx, unsigned char r, unsigned char g, unsigned char b,
                         unsigned char alpha = 0);
    void SetPaletteColor(unsigned char idx, tagRGBQUAD c);
    tagRGBQUAD GetPaletteColor(unsigned char idx) const;
    unsigned char GetNearestIndex(tagRGBQUAD c);
    bool IsGrayScale() const;
    static tagRGBQUAD RGBtoRGBQUAD(unsigned colour);

    // Transparency.
    int GetTransIndex() const { return m_info.iTransparentIndex; }
    void SetTransIndex(int idx);
    tagRGBQUAD GetTransColor() const;

    // Pixels.
    unsigned char GetPixelIndex(long x, long y) const;
    unsigned char BlindGetPixelIndex(long x, long y) const;
    void SetPixelIndex(long x, long y, unsigned char i);
    void BlindSetPixelIndex(long x, long y, unsigned char i);
    tagRGBQUAD GetPixelColor(long x, long y, bool getalpha = true) const;
    tagRGBQUAD BlindGetPixelColor(long x, long y, bool getalpha = true) const;
    void SetPixelColor(long x, long y, tagRGBQUAD c, bool setalpha = false);
    void SetPixelColor(long x, long y, unsigned colour);
    void BlindSetPixelColor(long x, long y, tagRGBQUAD c, bool setalpha = false);
    void Clear(unsigned char v = 0);

    // Alpha plane: width x height bytes, 255 = opaque.
    bool AlphaIsValid() const { return m_pAlphaPlane != nullptr; }
    bool AlphaCreate();
    void AlphaDelete();
    void AlphaClear();
    void AlphaSet(long x, long y, unsigned char v);
    unsigned char AlphaGet(long x, long y) const;
    bool AlphaCopy(const CDibImage& src);
    void AlphaMirror();
    unsigned char* AlphaGetPointer() const { return m_pAlphaPlane; }

    // Selection mask: width x height bytes; never created on the filter's path.
    bool SelectionIsValid() const { return m_pSelectionMask != nullptr; }
    unsigned char* SelectionGetPointer() const { return m_pSelectionMask; }
    void SelectionMirror();

    // Geometric transforms.
    bool Resample(int newx, int newy, int mode = 1, CDibImage* dst = nullptr);
    bool Mirror(bool mirrorselection = false, bool mirroralpha = true);
    bool Rotate(float angle, CDibImage* dst = nullptr);
    bool Rotate180(CDibImage* dst = nullptr);
    bool Crop(int left, int top, int right, int bottom, CDibImage* dst = nullptr);
    bool Crop(const tagRECT& rect, CDibImage* dst = nullptr);

    // Tone transforms.
    bool GrayScale();
    bool Light(int brightness, int contrast = 0);
    bool Lut(const unsigned char* table);
    bool Threshold(unsigned char level);
    bool Dither(int method = 0);

private:
    void SetError(const char* text);
    void ClearNearestCache() { m_info.bNearestValid = false; }

    uint8_t* m_pBlock;
    tagBITMAPINFOHEADER m_dibHeader;
    tagImageInfo m_info;
    uint8_t* m_pSelectionMask;
    uint8_t* m_pAlphaPlane;
    CDibImage** m_ppLayers;
    CDibImage** m_ppFrames;
};
