// bandrill-families: the printer family table for scripts. One line per
// family: model number, language keyword (the name bandrill-decode takes),
// then the family's drivers.
#include <cctype>
#include <cstdio>
#include <string>

#include "PrinterFamilies.h"

int main()
{
    for (const PrinterFamily& f : PrinterFamilies()) {
        std::string keyword;
        for (const char* c = f.name; *c; ++c)
            if (std::isalnum(static_cast<unsigned char>(*c)))
                keyword += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
        std::printf("%d %s", f.model, keyword.c_str());
        for (const char* d : f.drivers)
            std::printf(" %s", d);
        std::printf("\n");
    }
    return 0;
}
