// Back end for PeriPage pocket printers: an ESC/POS dialect.
#pragma once

#include "PrinterESCPOS.h"

class CPrinterPeriPage : public CPrinterESCPOS {
public:
};
