#include "app/standard_streams.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace pp {

void holdStandardStreams()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        // The lowest free descriptor is taken, and the ones below fd are open by now.
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
}

}  // namespace pp
