// The host end of a TCP connection to a simulated module, for tests.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct Reply {
    uint8_t address;
    Bytes data;
};

// One TCP connection with a two-second receive limit.
class Host {
  public:
    explicit Host(uint16_t port) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
        timeval tv{2, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        int on = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    }
    ~Host() { close(fd_); }
    bool connected() const { return connected_; }

    void send(uint8_t address, const Bytes& data) {
        Bytes wire{address, uint8_t(data.size())};
        wire.insert(wire.end(), data.begin(), data.end());
        ASSERT_EQ(::send(fd_, wire.data(), wire.size(), MSG_NOSIGNAL), (ssize_t)wire.size());
    }
    void sendRaw(const Bytes& bytes) {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), (ssize_t)bytes.size());
    }
    std::optional<Reply> read() {
        uint8_t head[2];
        if (recv(fd_, head, 2, MSG_WAITALL) != 2) return std::nullopt;
        Reply r{head[0], Bytes(head[1])};
        if (head[1] && recv(fd_, r.data.data(), head[1], MSG_WAITALL) != head[1])
            return std::nullopt;
        return r;
    }
    // Data of the next reply (empty with a failure when none came).
    Bytes ask(uint8_t address, const Bytes& data) {
        send(address, data);
        std::optional<Reply> r = read();
        EXPECT_TRUE(r.has_value()) << "no reply";
        if (!r) return {};
        EXPECT_EQ(r->address, address);
        return r->data;
    }
    bool closedByPeer() {
        uint8_t b;
        return recv(fd_, &b, 1, 0) == 0;
    }

  private:
    int fd_ = -1;
    bool connected_ = false;
};
