#include "PrinterESCPOS.h"
