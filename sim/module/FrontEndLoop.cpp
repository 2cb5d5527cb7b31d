#include "FrontEndLoop.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vzsim {

uint64_t nowMs() {
    return (uint64_t)std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Waker::Waker() {
    if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) fds_[0] = fds_[1] = -1;
}

Waker::~Waker() {
    for (int fd : fds_)
        if (fd >= 0) close(fd);
}

void Waker::wake() {
    char c = 1;
    if (fds_[1] >= 0 && write(fds_[1], &c, 1) < 0) {
        // A full pipe already wakes the loop.
    }
}

bool writeAll(int fd, const uint8_t* data, size_t length, bool socket) {
    size_t done = 0;
    int stalls = 0;
    while (done < length) {
        ssize_t n = socket ? send(fd, data + done, length - done, MSG_NOSIGNAL)
                           : write(fd, data + done, length - done);
        if (n > 0) {
            done += (size_t)n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        if (++stalls > 20) return false; // the peer stopped reading for a second
        pollfd p{fd, POLLOUT, 0};
        poll(&p, 1, 50);
    }
    return true;
}

} // namespace vzsim
