// Whole jobs inside one process: the filter's job loop (raster reading, PPD,
// page intake, preparation, TSPL encoding, output to /dev/null) on a job of
// labels, without process start-up. Figures per job and per page.
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "BenchSupport.h"
#include "CupsInstance.h"
#include "CupsOutput.h"

using namespace bench;

namespace {

const unsigned kPages = 20;

const char kTsplPpd[] =
    "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
    "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"TSPL.PPD\"\n"
    "*Manufacturer: \"Generic\"\n*Product: \"(TSPL Label Printer)\"\n"
    "*ModelName: \"Generic TSPL Label Printer\"\n*NickName: \"Generic TSPL Label Printer\"\n"
    "*PSVersion: \"(3010.000) 0\"\n*LanguageLevel: \"3\"\n*ColorDevice: False\n"
    "*DefaultColorSpace: Gray\n*cupsVersion: 2.4\n*cupsModelNumber: 20\n"
    "*cupsFilter: \"application/vnd.cups-raster 0 bandrill\"\n"
    "*OpenUI *zeMediaTracking/Media Tracking: PickOne\n*DefaultzeMediaTracking: Gap\n"
    "*zeMediaTracking Gap/Gap: \"\"\n*CloseUI: *zeMediaTracking\n"
    "*OpenUI *ImageFilter/Halftone: PickOne\n*DefaultImageFilter: 3\n"
    "*ImageFilter 3/Burkes: \"\"\n*CloseUI: *ImageFilter\n";

// Job files and the PPD in a directory of their own, written once.
struct tagJobFiles {
    std::string dir;
    std::string job1, job8, ppd;
    tagJobFiles()
    {
        char tmpl[] = "/tmp/bandrill-bench.XXXXXX";
        dir = mkdtemp(tmpl) ? tmpl : "/tmp";
        job1 = dir + "/job1.ras";
        job8 = dir + "/job8.ras";
        ppd = dir + "/tspl.ppd";
        WriteJob(job1, 1, kPages, 812, 1218, 203, false);
        WriteJob(job8, 8, kPages, 812, 1218, 203, false);
        if (FILE* f = std::fopen(ppd.c_str(), "w")) {
            std::fputs(kTsplPpd, f);
            std::fclose(f);
        }
    }
    ~tagJobFiles()
    {
        unlink(job1.c_str());
        unlink(job8.c_str());
        unlink(ppd.c_str());
        rmdir(dir.c_str());
    }
};

const tagJobFiles& Files()
{
    static const tagJobFiles files;
    return files;
}

void RunJob(benchmark::State& state, const std::string& job)
{
    setenv("PPD", Files().ppd.c_str(), 1);
    const int devnull = open("/dev/null", O_WRONLY);
    const int savedErr = dup(2);
    std::string path = job;
    char arg0[] = "bandrill", arg1[] = "1", arg2[] = "bench", arg3[] = "job", arg4[] = "1",
         arg5[] = "";
    char* argv[] = {arg0, arg1, arg2, arg3, arg4, arg5, &path[0], nullptr};
    int status = 0;
    for (auto _ : state) {
        CupsResetOutput();
        CupsSetOutputFd(devnull);
        dup2(devnull, 2);  // the scheduler messages
        CCupsInstance instance;
        status |= instance.Run(7, argv);
        dup2(savedErr, 2);
    }
    close(savedErr);
    close(devnull);
    CupsResetOutput();
    if (status != 0)
        state.SkipWithError("the job failed");
    state.counters["t/page"] = benchmark::Counter(
        kPages, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPages * 812 * 1218);
}

void Job1(benchmark::State& state) { RunJob(state, Files().job1); }
void Job8(benchmark::State& state) { RunJob(state, Files().job8); }

BENCHMARK(Job1)->Name("Job/TSPL/1bit-20-labels-812x1218")->Unit(benchmark::kMillisecond);
BENCHMARK(Job8)->Name("Job/TSPL/8bit-20-labels-812x1218")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
