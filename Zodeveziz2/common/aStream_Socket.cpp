#include "aStream_Socket.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <shared_mutex>
#include <new>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "aTime.h"

namespace {

const uint32_t sConnected = 1;
const int sWriteAttempts = 10;
const int sWritePauseMs = 60;

typedef struct aSocketStream {
    uint16_t port;
    struct sockaddr_in address;
    // The reader and the writer thread both use the socket and both may
    // reconnect it: they use it under a shared lock, a reconnect takes it
    // exclusively, so no descriptor is closed while the other thread is in a
    // call on it.
    std::atomic<int> socket;
    std::atomic<uint32_t> flags;
    std::shared_mutex useLock;
    // Bytes received but not yet delivered; the reader alone touches them.
    // One receive takes whatever has arrived, so a packet costs one system
    // call rather than several per byte.
    uint8_t received[1024];
    size_t receivedCount = 0;
    size_t receivedNext = 0;
    uint16_t check;
} aSocketStream;

bool sValid(const aSocketStream* s) {
    return s && s->check == aSOCKET_CHECK;
}

bool sLostConnection(int error) {
    return error == ECONNRESET || error == ENOTCONN || error == ETIMEDOUT || error == EPIPE;
}

aErr sSocketStreamSetOptions(aSocketStream* s, int fd) {
    if (!sValid(s)) return aErrIO;
    int on = 1;
    struct timeval none = {0, 0};
    struct linger lingerNone = {1, 0};
    if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof(none)) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &lingerNone, sizeof(lingerNone)) != 0)
        return aErrIO;
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return aErrIO;
    return aErrNone;
}

void sSocketStreamClose(aSocketStream* s) {
    s->flags &= ~sConnected;
    int fd = s->socket.exchange(-1);
    if (fd >= 0) {
        close(fd);
        aTime_MSSleep(10);
    }
}

aErr sConnectError(int error) {
    switch (error) {
    case ECONNREFUSED:
    case ECONNRESET:
    case ETIMEDOUT:
    case EAGAIN:
    case EINPROGRESS:
    case ENETUNREACH:
    case EHOSTUNREACH:
        return aErrConnection;
    default:
        return aErrIO;
    }
}

// Non-blocking connect with a bounded wait, so an unreachable host cannot hold
// the reader or writer thread for the kernel's two-minute SYN time-out.
aErr sSocketStreamReset(aSocketStream* s) {
    if (!sValid(s)) return aErrInitialization;
    sSocketStreamClose(s);
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return aErrIO;
    int error = 0;
    if (connect(fd, reinterpret_cast<struct sockaddr*>(&s->address), sizeof(s->address)) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            struct pollfd p = {fd, POLLOUT, 0};
            int ready;
            do {
                ready = poll(&p, 1, aSOCKET_CONNECT_WAIT_MS);
            } while (ready < 0 && errno == EINTR);
            socklen_t len = sizeof(error);
            if (ready == 0)
                error = ETIMEDOUT;
            else if (ready < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
                error = errno;
        }
    }
    if (error != 0) {
        close(fd);
        return sConnectError(error);
    }
    aErr err = sSocketStreamSetOptions(s, fd);
    s->socket = fd;
    s->flags |= sConnected;
    return err;
}

// Reconnects unless the other thread already did since fd was seen.
aErr sReconnect(aSocketStream* s, int seen) {
    std::unique_lock<std::shared_mutex> exclusive(s->useLock);
    if (s->socket != seen) return (s->flags & sConnected) ? aErrNone : aErrConnection;
    return sSocketStreamReset(s); // clears the connected flag first
}

enum class Look { Done, Lost, PeerClosed };

// One look at the socket: wait briefly for bytes and take what has arrived.
// Runs with the socket shared-locked so a reconnect never closes it underneath.
aErr sSocketStreamGetOnce(aSocketStream* s, uint8_t* byte, int* seen, Look* look) {
    *look = Look::Done;
    std::shared_lock<std::shared_mutex> use(s->useLock);
    if (!(s->flags & sConnected)) return aErrConnection;
    int fd = *seen = s->socket;
    // Wait briefly for readiness: an idle link costs next to nothing, and an
    // arriving byte wakes us at once.
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, aSOCKET_GET_WAIT_MS) == 0) return aErrNotReady;
    ssize_t n = recv(fd, s->received, sizeof s->received, MSG_DONTWAIT);
    if (n > 0) {
        *byte = s->received[0];
        s->receivedCount = (size_t)n;
        s->receivedNext = 1;
        return aErrNone;
    }
    if (n == 0) {
        *look = Look::PeerClosed;
        return aErrNotReady;
    }
    int error = errno;
    if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) return aErrNotReady;
    if (sLostConnection(error)) *look = Look::Lost;
    return aErrConnection;
}

aErr sSocketStreamGet(uint8_t* byte, void* reference) {
    aSocketStream* s = static_cast<aSocketStream*>(reference);
    if (!sValid(s)) return aErrParam;
    if (s->receivedNext < s->receivedCount) {
        *byte = s->received[s->receivedNext++];
        return aErrNone;
    }
    int fd = -1;
    Look look;
    aErr err = sSocketStreamGetOnce(s, byte, &fd, &look);
    if (look == Look::Lost || look == Look::PeerClosed) {
        // An orderly close ends the connection just as a reset does (a module
        // closes its socket when it reboots): reconnect once, then look again.
        err = sReconnect(s, fd);
        if (err != aErrNone) return err;
        err = sSocketStreamGetOnce(s, byte, &fd, &look);
        // Closed again at once: report it; the next get reconnects again.
        if (look == Look::PeerClosed) aTime_MSSleep(aSOCKET_GET_WAIT_MS);
    }
    return err;
}

aErr sSocketStreamWrite(const uint8_t* data, size_t length, void* reference) {
    aSocketStream* s = static_cast<aSocketStream*>(reference);
    if (!sValid(s)) return aErrParam;
    {
        // Under the lock: a reconnect by the reader that is under way ends
        // before we look, rather than failing this write.
        std::shared_lock<std::shared_mutex> use(s->useLock);
        if (!(s->flags & sConnected)) return aErrConnection;
    }
    size_t sent = 0;
    int attempts = 0;
    while (sent < length && attempts < sWriteAttempts) {
        int fd, error = 0;
        {
            std::shared_lock<std::shared_mutex> use(s->useLock);
            fd = s->socket;
            ssize_t n = send(fd, data + sent, length - sent, MSG_NOSIGNAL);
            if (n > 0) {
                sent += (size_t)n;
                if (sent < length) attempts = 1;
                continue;
            }
            error = n < 0 ? errno : EAGAIN;
            if (error == EAGAIN || error == EWOULDBLOCK) {
                attempts++;
                // Wait for room rather than sleeping blindly.
                struct pollfd p = {fd, POLLOUT, 0};
                poll(&p, 1, sWritePauseMs);
                continue;
            }
        }
        if (error == EINTR) continue;
        if (sLostConnection(error) || error == EBADF) {
            aErr err = sReconnect(s, fd);
            if (err != aErrNone) return err;
            attempts++;
            aTime_MSSleep(sWritePauseMs);
        } else {
            return aErrIO;
        }
    }
    // A partial packet on the wire is a failure, not a success.
    return sent == length ? aErrNone : aErrWrite;
}

aErr sSocketStreamPut(uint8_t byte, void* reference) {
    return sSocketStreamWrite(&byte, 1, reference);
}

aErr sSocketStreamDelete(void* reference) {
    aSocketStream* s = static_cast<aSocketStream*>(reference);
    if (!sValid(s)) return aErrIO;
    sSocketStreamClose(s);
    s->check = 0;
    delete s;
    return aErrNone;
}

} // namespace

aErr aStream_CreateSocket(uint32_t address, uint16_t port, aStream** stream) {
    if (!stream) return aErrResource;
    *stream = nullptr;
    aSocketStream* s = new (std::nothrow) aSocketStream();
    if (!s) return aErrResource;
    s->check = aSOCKET_CHECK;
    s->port = port;
    s->socket = -1;
    s->address.sin_family = AF_INET;
    s->address.sin_port = htons(port);
    s->address.sin_addr.s_addr = address;
    if (sSocketStreamReset(s) != aErrNone) {
        sSocketStreamDelete(s);
        return aErrResource;
    }
    aStream* result = aStream_Create(sSocketStreamGet, sSocketStreamPut, sSocketStreamWrite,
                                     sSocketStreamDelete, s);
    if (!result) {
        sSocketStreamDelete(s);
        return aErrResource;
    }
    *stream = result;
    return aErrNone;
}
