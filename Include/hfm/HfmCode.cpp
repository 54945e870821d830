#include "HfmCode.h"
