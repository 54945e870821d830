// Back end for Paperang printers.
#pragma once

#include "BaseRender.h"
#include "MyBuffer.h"

class CPrinterPaperang : public CBaseRender {
public:
};
