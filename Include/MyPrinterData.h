// Settings records of a render object: printer and media settings, image and
// halftone settings, and the watermark settings.
#pragma once

#include <cstdint>

// Media tracking modes, the value of tagREGSTRUCT::iGap[0].
enum {
    MEDIA_CONTINUOUS = 0,
    MEDIA_GAP = 1,
    MEDIA_BLACK_LINE = 2,
    MEDIA_PERFORATED = 3,
    MEDIA_ROLL = 4,
    MEDIA_RECORDING = 5,
};

// Where receipt printers cut, the value of tagREGSTRUCT::iCutMode.
enum {
    CUT_PAGE = 0,  // after every page
    CUT_JOB = 1,   // once, after the last page of the job
    CUT_NONE = 2,
};

// Cash drawer kick, the value of tagREGSTRUCT::iCashDrawer: the drawer's
// number (1 or 2) plus CASH_DRAWER_AFTER when it opens after the last page
// instead of before the first; 0 none.
enum {
    CASH_DRAWER_NONE = 0,
    CASH_DRAWER_AFTER = 0x10,
};

// Printer and media settings. Lengths are millimetres unless noted.
struct tagREGSTRUCT {
    tagREGSTRUCT();

    int64_t lReserved;
    bool bReserved1;
    bool bReserved2;
    int iSpeed;          // -1: leave the printer's own speed
    int iDensity;        // -1: leave the printer's own darkness
    int iReference[2];   // eight times the PPD value
    int iRotate;         // 0 none, 1 180, 2 90, 3 270 degrees
    bool bMirror;
    bool bNegative;
    int iScale;          // percent
    bool iDottedline;
    bool bPauseKey;
    bool bWaterMark;
    int iGap[3];         // media mode, gap/mark length, gap/mark offset
    int iOffset;
    int iPeelMode;       // 1 peel off, 3 peel on, other: nothing sent
    int iReserved1;
    int iPrinttype;      // 0 direct thermal, 1 thermal transfer
    int iReserved2;
    int iReserved3;
    int iFeedBefore;
    int iFeedAfter;
    int iReserved4;
    int iBandRows;       // rows per raster command; 0: the command's own limit
    int iCutMode;        // CUT_PAGE, CUT_JOB or CUT_NONE
    bool bCutFeed;       // cut with a feed to the cutter first
    int iCashDrawer;     // see CASH_DRAWER_NONE
    int iHeadDots;       // print head width in dots; 0: not known, no limit
    bool bSetcCommands;  // TSPL: send the SETC lines (dotted line, pause key, watermark)
    // Set only from the keywords that carry them; without those the
    // printer commands stay as they were.
    int iFineOffset[2];  // label position, hundredths of a millimetre: right, down
    bool bFineOffset[2]; // the offset was given (REFERENCE then takes no negative part)
    int iGapHeight;      // gap media: the gap in mm; -1 the media tracking's own 3 mm
    int iMarkHeight;     // black-mark media: the mark's height in mm; -1 none (0 sent)
    int iTopMargin;      // roll paper: blank kept above a slip's first ink, mm; -1 as the page has it
    bool bInkOnly;       // send only what carries ink (see InkAreas.h)
};

// Image and halftone settings.
struct tagREGSTRUCTWITHALFTONE {
    tagREGSTRUCTWITHALFTONE();

    int iGrayMethod;     // <= 0 threshold; n > 0 dither method n - 1
    int iThreValue;      // threshold level, low byte used
    int iLiangdu;        // brightness offset
    int iDuibidu;        // contrast offset
    int iCropTopEdge;    // crop limits in millimetres; 0 off, < 0 unlimited
    int iCropBottomEdge;
    int iCropLeftEdge;
    int iCropRightEdge;
    bool ImageCompress;  // TSPL compressed bitmaps
    bool bFastCompress;  // ... compressed for speed rather than size
};

// Watermark settings: carried by every render object, read by nothing.
struct tagWaterMarkConfig {
    tagWaterMarkConfig();

    bool bFlag;
    char szText[4096];
    int iParam1;
    int iParam2;
    int iParam3;
    int iParam4;
    bool bFlag2;
    int iParam5;
    int iParam6;
    int iParam7;
    int iParam8;
    int iParam9;
};
