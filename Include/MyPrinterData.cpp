#include "MyPrinterData.h"

#include <cstring>

tagREGSTRUCT::tagREGSTRUCT()
{
    lReserved = 1;
    bReserved1 = false;
    bReserved2 = false;
    iSpeed = 14;
    iDensity = 8;
    iReference[0] = 0;
    iReference[1] = 0;
    iRotate = 0;
    bMirror = false;
    bNegative = false;
    iScale = 100;
    iDottedline = false;
    bPauseKey = true;
    bWaterMark = true;
    iGap[0] = 0;
    iGap[1] = 3;
    iGap[2] = 0;
    iOffset = 0;
    iPeelMode = 0;
    iReserved1 = 0;
    iPrinttype = 0;
    iReserved2 = 0;
    iReserved3 = 0;
    iFeedBefore = 0;
    iFeedAfter = 0;
    iReserved4 = 0;
    iBandRows = 0;
    iCutMode = CUT_PAGE;
    bCutFeed = false;
    iCashDrawer = CASH_DRAWER_NONE;
    iHeadDots = 0;
    bSetcCommands = true;
    iFineOffset[0] = 0;
    iFineOffset[1] = 0;
    bFineOffset[0] = false;
    bFineOffset[1] = false;
    iGapHeight = -1;
    iMarkHeight = -1;
    iTopMargin = -1;
    bInkOnly = false;
}

tagREGSTRUCTWITHALFTONE::tagREGSTRUCTWITHALFTONE()
{
    iGrayMethod = 3;
    iThreValue = 175;
    iLiangdu = 0;
    iDuibidu = 0;
    iCropTopEdge = 0;
    iCropBottomEdge = 0;
    iCropLeftEdge = 0;
    iCropRightEdge = 0;
    ImageCompress = false;
    bFastCompress = false;
}

tagWaterMarkConfig::tagWaterMarkConfig()
{
    bFlag = false;
    std::memset(szText, 0, sizeof szText);
    iParam1 = 40;
    iParam2 = 0xFFFFFF;
    iParam3 = 0;
    iParam4 = 0;
    bFlag2 = false;
    iParam5 = 9;
    iParam6 = 10;
    iParam7 = 10;
    iParam8 = 100;
    iParam9 = 100;
}
