#include "PrinterTSPL.h"
