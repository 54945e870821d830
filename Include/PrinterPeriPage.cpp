#include "PrinterPeriPage.h"
