#include "PrinterCPCL.h"
