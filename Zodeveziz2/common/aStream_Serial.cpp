#include "aStream_Serial.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "aTime.h"

namespace {

const speed_t sSpeeds[] = {B2400, B4800, B9600, B19200, B38400, B57600, B115200, B230400};
const uint32_t sRates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
const uint32_t sCodeCount = sizeof(sRates) / sizeof(sRates[0]);

typedef struct aSerialStream {
    uint32_t baudCode;
    char path[aSERIAL_MAX_PATH];
    int fd;
    bool saved; // original settings were read and must be restored
    struct termios original;
    struct termios applied;
    uint16_t check;
} aSerialStream;

bool sValid(const aSerialStream* s) {
    return s && s->check == aSERIAL_CHECK;
}

aErr sSerialDelete(void* reference) {
    aSerialStream* s = static_cast<aSerialStream*>(reference);
    if (!sValid(s)) return aErrParam;
    if (s->fd >= 0) {
        if (s->saved) tcsetattr(s->fd, TCSANOW, &s->original);
        close(s->fd);
        s->fd = -1;
    }
    s->check = 0;
    free(s);
    return aErrNone;
}

aErr sSerialGet(uint8_t* byte, void* reference) {
    aSerialStream* s = static_cast<aSerialStream*>(reference);
    if (!sValid(s)) return aErrParam;
    struct pollfd p = {s->fd, POLLIN, 0};
    int ready = poll(&p, 1, aSERIAL_GET_WAIT_MS);
    if (ready == 0 || (ready < 0 && errno == EINTR)) return aErrNotReady;
    ssize_t n = read(s->fd, byte, 1);
    if (n == 1) return aErrNone;
    if (n == 0 && (p.revents & POLLHUP)) {
        // The line was hung up (the device went away): nothing will come any
        // more. It stays ready for poll, so pace the caller as well.
        aTime_MSSleep(aSERIAL_GET_WAIT_MS);
        return aErrEOF;
    }
    if (n == 0 || errno == EAGAIN || errno == EINTR) return aErrNotReady;
    return aErrIO;
}

// Time the line needs for length bytes (10 bits each), plus a second of slack.
int sTransmitMs(const aSerialStream* s, size_t length) {
    uint32_t rate = aStream_SerialBaudRate(s->baudCode);
    if (rate == 0) rate = 2400;
    return (int)(1000 + (uint64_t)length * 10000 / rate);
}

aErr sSerialWrite(const uint8_t* data, size_t length, void* reference) {
    aSerialStream* s = static_cast<aSerialStream*>(reference);
    if (!sValid(s) || !data) return aErrParam;
    // The descriptor is non-blocking: a peer that stops reading must not hold
    // the writer for ever. Wait for room within the time the line needs.
    uint64_t deadline = aTime_GetMSTicks() + (uint64_t)sTransmitMs(s, length);
    size_t done = 0;
    while (done < length) {
        ssize_t n = write(s->fd, data + done, length - done);
        if (n > 0) {
            done += (size_t)n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return aErrIO;
        uint64_t now = aTime_GetMSTicks();
        if (now >= deadline) return aErrIO;
        struct pollfd p = {s->fd, POLLOUT, 0};
        poll(&p, 1, (int)(deadline - now));
    }
    // Wait until the output has gone out on the line, bounded the same way.
    for (;;) {
        int queued = 0;
        if (ioctl(s->fd, TIOCOUTQ, &queued) != 0 || queued <= 0) break;
        if (aTime_GetMSTicks() >= deadline) return aErrIO;
        aTime_MSSleep(1);
    }
    return aErrNone;
}

aErr sSerialPut(uint8_t byte, void* reference) {
    return sSerialWrite(&byte, 1, reference);
}

aErr sStreamOpenSerial(aSerialStream* s, bool parity, uint32_t dataBits, uint32_t stopBits) {
    s->fd = open(s->path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s->fd < 0) {
        switch (errno) {
        case ENOENT:
            return aErrNotFound;
        case EACCES:
        case EPERM:
            return aErrPermission;
        default:
            return aErrIO;
        }
    }
    if (tcgetattr(s->fd, &s->original) != 0) return aErrIO;
    s->saved = true;
    struct termios t;
    memset(&t, 0, sizeof(t));
    t.c_iflag = IGNBRK | (parity ? IGNPAR : 0);
    t.c_oflag = 0;
    t.c_cflag = CREAD | CLOCAL | (parity ? PARENB : 0) | (dataBits == 1 ? CS7 : CS8) |
                (stopBits == 1 ? CSTOPB : 0);
    t.c_lflag = 0;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (cfsetispeed(&t, sSpeeds[s->baudCode]) != 0 || cfsetospeed(&t, sSpeeds[s->baudCode]) != 0)
        return aErrIO;
    if (tcsetattr(s->fd, TCSANOW, &t) != 0 || tcflush(s->fd, TCIOFLUSH) != 0) return aErrIO;
    s->applied = t;
    return aErrNone;
}

} // namespace

int aStream_SerialBaudCode(uint32_t bitsPerSecond) {
    for (uint32_t i = 0; i < sCodeCount; i++)
        if (sRates[i] == bitsPerSecond) return (int)i;
    return -1;
}

uint32_t aStream_SerialBaudRate(uint32_t code) {
    return code < sCodeCount ? sRates[code] : 0;
}

aErr aStream_CreateSerial(const char* path, uint32_t baudCode, bool parity, uint32_t dataBits,
                          uint32_t stopBits, aStream** stream) {
    if (!path || !stream || dataBits > 1 || stopBits > 1) return aErrResource;
    *stream = nullptr;
    // A code outside the table would open the port at speed 0, which hangs the
    // line up; a path that does not fit would be cut short.
    if (baudCode >= sCodeCount || strlen(path) >= aSERIAL_MAX_PATH) return aErrResource;
    aSerialStream* s = static_cast<aSerialStream*>(calloc(1, sizeof(aSerialStream)));
    if (!s) return aErrResource;
    s->check = aSERIAL_CHECK;
    s->fd = -1;
    s->baudCode = baudCode;
    strcpy(s->path, path);
    aErr err = sStreamOpenSerial(s, parity, dataBits, stopBits);
    if (err != aErrNone) {
        sSerialDelete(s);
        return err;
    }
    aStream* result = aStream_Create(sSerialGet, sSerialPut, sSerialWrite, sSerialDelete, s);
    if (!result) {
        sSerialDelete(s);
        return aErrResource;
    }
    *stream = result;
    return aErrNone;
}
