// The channel to the CUPS backend: every byte written, in order, through
// partial and interrupted writes; a failed channel reported once.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

#include "CupsOutput.h"

namespace {

void Tick(int) {}

TEST(CupsOutput, InterruptedAndPartialWritesLoseNothing)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    // A timer signal without SA_RESTART interrupts the blocked writes, which
    // then return short counts or EINTR.
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = Tick;
    struct sigaction old;
    sigaction(SIGALRM, &sa, &old);
    itimerval every = {{0, 200}, {0, 200}};
    setitimer(ITIMER_REAL, &every, nullptr);

    std::string data(3 * 1024 * 1024, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 7919) >> 8);

    std::string received;
    std::thread reader([&] {
        char buf[4096];
        for (;;) {
            const ssize_t n = read(fds[0], buf, sizeof buf);
            if (n > 0)
                received.append(buf, static_cast<size_t>(n));
            else if (n == 0 || errno != EINTR)
                break;
            usleep(10); // a slow reader keeps the pipe full
        }
    });

    CupsResetOutput();
    CupsSetOutputFd(fds[1]);
    EXPECT_TRUE(CupsWriteOutput(data.data(), static_cast<int>(data.size())));
    EXPECT_FALSE(CupsOutputFailed());
    close(fds[1]);
    reader.join();
    close(fds[0]);

    itimerval off = {{0, 0}, {0, 0}};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &old, nullptr);
    CupsResetOutput();
    EXPECT_TRUE(received == data);
}

TEST(CupsOutput, FailureIsFinalAndReported)
{
    const int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    CupsResetOutput();
    CupsSetOutputFd(full);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(CupsWriteOutput("abc", 3));
    EXPECT_TRUE(CupsOutputFailed());
    EXPECT_FALSE(CupsWriteOutput("abc", 3));
    const std::string err = testing::internal::GetCapturedStderr();
    close(full);
    CupsResetOutput();
    EXPECT_EQ(err, "ERROR:Unable to write print data: No space left on device\n");
}

} // namespace
