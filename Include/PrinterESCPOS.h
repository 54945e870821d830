// Back end for ESCPOS printers.
#pragma once

#include "BaseRender.h"
#include "MyBuffer.h"

class CPrinterESCPOS : public CBaseRender {
public:
};
