// Back end for TSPL printers.
#pragma once

#include "BaseRender.h"
#include "MyBuffer.h"

class CPrinterTSPL : public CBaseRender {
public:
};
