// The libcups filter-message calls. libcups exports them but declares them
// only in its private headers, so they are declared here.
#pragma once

#include <cstdio>

extern "C" {
int _cupsLangPrintFilter(FILE* fp, const char* prefix, const char* message, ...)
    __attribute__((format(printf, 3, 4)));
void _cupsLangPrintError(const char* prefix, const char* message);
}
