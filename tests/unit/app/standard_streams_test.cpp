#include "app/standard_streams.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pp {
namespace {

// In a child: closes the descriptors in `closed`, holds the streams, then reports in its exit status
// whether 0, 1 and 2 are open, 0 for reading and 1 and 2 for writing, on /dev/null where they had been
// closed, and the next descriptor opened is above 2.
int childStatus(std::initializer_list<int> closed)
{
    const pid_t pid = fork();
    if (pid == 0) {
        for (int fd : closed) close(fd);
        holdStandardStreams();
        struct stat null {};
        if (stat("/dev/null", &null) != 0) _exit(10);
        for (int fd = 0; fd <= 2; ++fd) {
            const int flags = fcntl(fd, F_GETFL);
            if (flags < 0) _exit(20 + fd);
            const int mode = flags & O_ACCMODE;
            if (fd == 0 ? mode == O_WRONLY : mode == O_RDONLY) _exit(30 + fd);
            struct stat st {};
            fstat(fd, &st);
            const bool wasClosed = std::find(closed.begin(), closed.end(), fd) != closed.end();
            if (wasClosed && st.st_rdev != null.st_rdev) _exit(40 + fd);
        }
        const int next = open("/dev/null", O_RDONLY);
        _exit(next > 2 ? 0 : 50);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(HoldStandardStreams, OpensTheNullDeviceOnEveryClosedOneSoNoConnectionTakesThem)
{
    EXPECT_EQ(childStatus({0}), 0);
    EXPECT_EQ(childStatus({1}), 0);
    EXPECT_EQ(childStatus({2}), 0);
    EXPECT_EQ(childStatus({0, 1, 2}), 0);
    EXPECT_EQ(childStatus({1, 2}), 0);
}

}  // namespace
}  // namespace pp
