// bandrill: CUPS raster filter for small thermal printers.
#include "CupsInstance.h"

int main(int argc, char** argv)
{
    CCupsInstance instance;
    return instance.Run(argc, argv);
}
