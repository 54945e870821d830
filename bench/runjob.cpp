// bandrill-bench-run: runs one filter process the way the CUPS scheduler
// does (raster on standard input, printer data on standard output, messages
// on standard error) and reports what it cost.
//
//   bandrill-bench-run IN OUT ERR -- PROGRAM ARG...
//
// IN is opened as standard input, OUT and ERR are created for standard
// output and standard error (use /dev/null to discard). The environment is
// passed on unchanged. Prints one line:
//
//   wall_us=N maxrss_kb=N user_us=N sys_us=N status=N
//
// wall_us runs from just before fork to the return of wait4, so it holds
// process start-up, dynamic linking and exit; maxrss_kb is the child's peak
// resident set size from wait4.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

long long Micros(const timespec& a, const timespec& b)
{
    return (b.tv_sec - a.tv_sec) * 1000000LL + (b.tv_nsec - a.tv_nsec) / 1000;
}

long long Micros(const timeval& t)
{
    return t.tv_sec * 1000000LL + t.tv_usec;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 6 || std::strcmp(argv[4], "--") != 0) {
        std::fprintf(stderr, "usage: %s IN OUT ERR -- PROGRAM ARG...\n", argv[0]);
        return 2;
    }
    const int in = open(argv[1], O_RDONLY);
    const int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) {
        std::perror("open");
        return 2;
    }

    timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        return 2;
    }
    if (pid == 0) {
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        close(in);
        close(out);
        close(err);
        execv(argv[5], argv + 5);
        _exit(127);
    }
    int status = 0;
    rusage usage;
    std::memset(&usage, 0, sizeof usage);
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("wait4");
            return 2;
        }
    }
    clock_gettime(CLOCK_MONOTONIC, &end);

    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("wall_us=%lld maxrss_kb=%ld user_us=%lld sys_us=%lld status=%d\n",
                Micros(start, end), usage.ru_maxrss, Micros(usage.ru_utime),
                Micros(usage.ru_stime), code);
    return 0;
}
