#include "aTime.h"

#include <cerrno>
#include <ctime>
#include <sys/time.h>

uint64_t aTime_GetMSTicks() {
    struct timeval tv;
    if (gettimeofday(&tv, nullptr) != 0) return 0;
    return (uint64_t)tv.tv_sec * 1000u + (uint64_t)tv.tv_usec / 1000u;
}

aErr aTime_MSSleep(unsigned long ms) {
    unsigned long long left = (unsigned long long)ms * 1000u;
    while (left > 0) {
        unsigned long long slice = left > 999999u ? 999999u : left;
        struct timespec want = {0, (long)slice * 1000}, rest;
        while (nanosleep(&want, &rest) != 0 && errno == EINTR) want = rest;
        left -= slice;
    }
    return aErrNone;
}
