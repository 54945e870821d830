#include "PrinterPaperang.h"
