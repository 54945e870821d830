// Back end for CPCL printers.
#pragma once

#include "BaseRender.h"
#include "MyBuffer.h"

class CPrinterCPCL : public CBaseRender {
public:
};
