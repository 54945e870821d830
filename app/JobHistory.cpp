#include "JobHistory.h"

#include <cstdlib>

namespace bandrill_app {

namespace {

void Limit(pappl_printer_t* printer, void* length)
{
    const int n = *static_cast<int*>(length);
    if (papplPrinterGetMaxCompletedJobs(printer) != n)
        papplPrinterSetMaxCompletedJobs(printer, n);
}

bool TrimTimer(pappl_system_t* system, void*)
{
    int n = JobHistoryLength();
    papplSystemIteratePrinters(system, Limit, &n);
    papplSystemCleanJobs(system);
    return true;
}

} // namespace

int JobHistoryLength()
{
    const char* text = std::getenv("BANDRILL_JOB_HISTORY");
    char* end = nullptr;
    const long n = text ? std::strtol(text, &end, 10) : 0;
    return text && *text && !*end && n >= 1 && n <= 100000 ? static_cast<int>(n) : 100;
}

void BoundJobHistory(pappl_system_t* system)
{
    papplSystemAddTimerCallback(system, 0, 5, TrimTimer, nullptr);
}

} // namespace bandrill_app
