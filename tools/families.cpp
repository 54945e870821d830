// bandrill-families: the printer family table for scripts and tests.
//
//   bandrill-families            one line per family: model number, language
//                                keyword (the name bandrill-decode takes),
//                                then the family's drivers
//   bandrill-families --drivers  one line per driver: name, model number,
//                                language keyword, resolution, head dots
#include <cstdio>
#include <cstring>

#include "PrinterFamilies.h"

int main(int argc, char** argv)
{
    const bool drivers = argc > 1 && std::strcmp(argv[1], "--drivers") == 0;
    if (argc > 2 || (argc == 2 && !drivers)) {
        std::fprintf(stderr, "usage: bandrill-families [--drivers]\n");
        return 2;
    }
    for (const PrinterFamily& f : PrinterFamilies()) {
        if (drivers) {
            for (const PrinterDriver& d : f.drivers)
                std::printf("%s %d %s %d %d\n", d.name, f.model, f.language, d.dpi, d.headDots);
            continue;
        }
        std::printf("%d %s", f.model, f.language);
        for (const PrinterDriver& d : f.drivers)
            std::printf(" %s", d.name);
        std::printf("\n");
    }
    return 0;
}
