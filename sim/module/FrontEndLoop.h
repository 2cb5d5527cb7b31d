// Pieces shared by the byte-moving front ends.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vzsim {

// Monotonic milliseconds.
uint64_t nowMs();

// A self-pipe that wakes a poll loop for shutdown.
class Waker {
  public:
    Waker();
    ~Waker();
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;
    int fd() const { return fds_[0]; }
    void wake();

  private:
    int fds_[2] = {-1, -1};
};

// Writes all bytes to a descriptor, waiting for room; false on failure. A
// socket is written without raising SIGPIPE.
bool writeAll(int fd, const uint8_t* data, size_t length, bool socket);

} // namespace vzsim
