// The TCP transport against a loopback peer made by the test.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <atomic>
#include <string>
#include <thread>
#include <sys/socket.h>
#include <unistd.h>

#include "aStream_Socket.h"
#include "aTime.h"

namespace {

struct Listener {
    int fd = -1;
    uint16_t port = 0;
    Listener() {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        socklen_t len = sizeof(a);
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        listen(fd, 4);
    }
    ~Listener() { close(fd); }
    int accept(int waitMs = 2000) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, waitMs) != 1) return -1;
        return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    }
};

uint32_t loopback() {
    return htonl(INADDR_LOOPBACK);
}

// Reads with the stream until n bytes came or a second passed.
std::string readSome(aStream* s, size_t n) {
    std::string out;
    uint64_t end = aTime_GetMSTicks() + 2000;
    while (out.size() < n && aTime_GetMSTicks() < end) {
        uint8_t b;
        aErr err = aStream_Read(s, &b, 1);
        if (err == aErrNone)
            out.push_back(char(b));
        else if (err != aErrNotReady)
            break;
    }
    return out;
}

} // namespace

TEST(SocketStream, MovesBytesBothWays) {
    Listener l;
    aStream* s = nullptr;
    ASSERT_EQ(aStream_CreateSocket(loopback(), l.port, &s), aErrNone);
    int peer = l.accept();
    ASSERT_GE(peer, 0);

    uint8_t b;
    EXPECT_EQ(aStream_Read(s, &b, 1), aErrNotReady); // idle: waits briefly, then not ready

    const uint8_t wire[] = {0x04, 0x00, 0xAD, 0x00, 0xFF};
    ASSERT_EQ(aStream_Write(s, wire, sizeof(wire)), aErrNone);
    char got[8] = {};
    ASSERT_EQ(recv(peer, got, sizeof(wire), MSG_WAITALL), (ssize_t)sizeof(wire));
    EXPECT_EQ(0, memcmp(got, wire, sizeof(wire)));

    // A multi-byte read that sees half of its bytes keeps them for later.
    ASSERT_EQ(send(peer, "ab", 2, 0), 2);
    uint8_t four[4];
    uint64_t end = aTime_GetMSTicks() + 2000;
    while (aStream_Buffered(s) < 2 && aTime_GetMSTicks() < end)
        EXPECT_EQ(aStream_Read(s, four, 4), aErrNotReady);
    ASSERT_EQ(send(peer, "cd", 2, 0), 2);
    EXPECT_EQ(readSome(s, 4), "abcd");

    close(peer);
    EXPECT_EQ(aStream_Destroy(&s), aErrNone);
}

// An orderly close by the peer ends the connection as a reset does: the get
// reconnects once, and reports the failure when nobody listens any more.
TEST(SocketStream, PeerCloseReconnectsOnceOrFails) {
    auto* l = new Listener;
    aStream* s = nullptr;
    ASSERT_EQ(aStream_CreateSocket(loopback(), l->port, &s), aErrNone);
    int first = l->accept();
    ASSERT_GE(first, 0);
    close(first);

    uint8_t b;
    EXPECT_EQ(aStream_Read(s, &b, 1), aErrNotReady); // reconnected, nothing to read yet
    int second = l->accept();
    ASSERT_GE(second, 0);
    ASSERT_EQ(send(second, "z", 1, 0), 1);
    EXPECT_EQ(readSome(s, 1), "z");
    const uint8_t ping[] = {0x02, 0x01, 0x17};
    ASSERT_EQ(aStream_Write(s, ping, sizeof(ping)), aErrNone);
    char got[3];
    ASSERT_EQ(recv(second, got, 3, MSG_WAITALL), 3);
    EXPECT_EQ(got[2], 0x17);

    delete l; // the module is gone: its close can no longer be repaired
    close(second);
    aErr err = aErrNotReady;
    for (int i = 0; i < 50 && err == aErrNotReady; i++) err = aStream_Read(s, &b, 1);
    EXPECT_NE(err, aErrNotReady);
    EXPECT_NE(err, aErrNone);
    EXPECT_NE(aStream_Read(s, &b, 1), aErrNotReady); // stays failed, no busy "not ready"
    aStream_Destroy(&s);
}

TEST(SocketStream, RefusedConnectionIsAResourceError) {
    uint16_t port;
    {
        Listener l; // take a free port, then close it
        port = l.port;
    }
    aStream* s = reinterpret_cast<aStream*>(1);
    EXPECT_EQ(aStream_CreateSocket(loopback(), port, &s), aErrResource);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(aStream_CreateSocket(loopback(), port, nullptr), aErrResource);
}

TEST(SocketStream, ReconnectFailureIsReportedByTheWrite) {
    auto* l = new Listener;
    aStream* s = nullptr;
    ASSERT_EQ(aStream_CreateSocket(loopback(), l->port, &s), aErrNone);
    int peer = l->accept();
    ASSERT_GE(peer, 0);
    close(peer);
    delete l; // nobody listens any more
    const uint8_t ping[] = {0x02, 0x00};
    aErr err = aErrNone;
    for (int i = 0; i < 10 && err == aErrNone; i++)
        err = aStream_Write(s, ping, sizeof(ping));
    EXPECT_EQ(err, aErrConnection);
    uint8_t b;
    EXPECT_EQ(aStream_Read(s, &b, 1), aErrConnection); // stays down until a write reconnects
    aStream_Destroy(&s);
}

TEST(SocketStream, ReaderAndWriterThreadsShareOneReconnect) {
    Listener l;
    aStream* s = nullptr;
    ASSERT_EQ(aStream_CreateSocket(loopback(), l.port, &s), aErrNone);
    int first = l.accept();
    ASSERT_GE(first, 0);
    std::atomic<bool> stop{false};
    std::atomic<int> count{0};
    std::string seen;
    std::thread reader([&] {
        while (!stop) {
            uint8_t b;
            if (aStream_Read(s, &b, 1) == aErrNone) {
                seen.push_back(char(b));
                count++;
            }
        }
    });
    close(first);
    const uint8_t ping[] = {0x02, 0x01, 0x17};
    int second = -1;
    for (int i = 0; i < 20 && second < 0; i++) {
        aStream_Write(s, ping, sizeof(ping));
        second = l.accept(100);
    }
    ASSERT_GE(second, 0);
    ASSERT_EQ(aStream_Write(s, ping, sizeof(ping)), aErrNone);
    char got[3];
    EXPECT_EQ(recv(second, got, 3, MSG_WAITALL), 3);
    ASSERT_EQ(send(second, "ok", 2, 0), 2);
    uint64_t end = aTime_GetMSTicks() + 2000;
    while (count < 2 && aTime_GetMSTicks() < end)
        aTime_MSSleep(5);
    EXPECT_LT(l.accept(50), 0); // one reconnect, not one per thread
    stop = true;
    reader.join();
    EXPECT_EQ(seen, "ok");
    close(second);
    aStream_Destroy(&s);
}
