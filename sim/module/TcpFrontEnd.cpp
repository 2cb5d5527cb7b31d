#include "TcpFrontEnd.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace vzsim {

bool TcpFrontEnd::start(const std::string& address, uint16_t port, std::string* error) {
    auto fail = [&](const char* what) {
        if (error) *error = std::string(what) + ": " + strerror(errno);
        if (listenFd_ >= 0) close(listenFd_);
        listenFd_ = -1;
        return false;
    };
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) {
        errno = EINVAL;
        return fail("address");
    }
    if (!listenOn(a)) return fail("listen");
    socklen_t len = sizeof(a);
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    address_ = a;
    running_ = true;
    thread_ = std::thread(&TcpFrontEnd::run, this);
    return true;
}

bool TcpFrontEnd::listenOn(const sockaddr_in& a) {
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return false;
    int on = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    if (bind(listenFd_, reinterpret_cast<const sockaddr*>(&a), sizeof(a)) != 0 ||
        listen(listenFd_, 8) != 0) {
        int saved = errno;
        close(listenFd_);
        listenFd_ = -1;
        errno = saved;
        return false;
    }
    return true;
}

void TcpFrontEnd::stopListening(uint64_t untilMs) {
    if (listenFd_ >= 0) close(listenFd_);
    listenFd_ = -1;
    relistenAt_ = untilMs;
}

void TcpFrontEnd::stop() {
    if (!running_.exchange(false)) return;
    waker_.wake();
    thread_.join();
    if (listenFd_ >= 0) close(listenFd_);
    listenFd_ = -1;
}

void TcpFrontEnd::run() {
    struct Connection {
        int fd;
        std::unique_ptr<ModuleSession> session;
    };
    std::vector<Connection> connections;
    auto drop = [this](Connection& c) {
        if (resetOnClose_) {
            linger reset = {1, 0};
            setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
        }
        close(c.fd);
        c.fd = -1;
    };
    while (running_) {
        uint64_t now = nowMs();
        int timeout = -1;
        if (relistenAt_ && now >= relistenAt_ && listenOn(address_)) relistenAt_ = 0;
        if (relistenAt_) timeout = relistenAt_ > now ? int(relistenAt_ - now) : 10;
        for (Connection& c : connections) {
            int due = c.session->msUntilDue(now);
            if (due >= 0 && (timeout < 0 || due < timeout)) timeout = due;
        }
        std::vector<pollfd> fds{{waker_.fd(), POLLIN, 0}, {listenFd_, POLLIN, 0}};
        for (Connection& c : connections)
            fds.push_back({c.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
        if (fds[0].revents) {
            char buf[16];
            while (read(waker_.fd(), buf, sizeof(buf)) > 0) {
            }
        }
        if (drop_.exchange(false))
            for (Connection& c : connections)
                drop(c);
        if (fds[1].revents & POLLIN) {
            int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0) {
                int on = 1;
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
                connections.push_back({fd, model_.openSession()});
                accepted_++;
            }
        }
        now = nowMs();
        for (size_t i = 0; i < connections.size(); i++) {
            Connection& c = connections[i];
            if (c.fd < 0) continue;
            if (i + 2 < fds.size() && fds[i + 2].revents) {
                uint8_t buf[4096];
                ssize_t n = recv(c.fd, buf, sizeof(buf), 0);
                if (n > 0)
                    c.session->receive(buf, (size_t)n, now);
                else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    drop(c);
                    continue;
                }
            }
            std::vector<uint8_t> out = c.session->takeDue(now);
            if (!out.empty() && !writeAll(c.fd, out.data(), out.size(), true)) {
                drop(c);
                continue;
            }
            if (c.session->closeRequested()) {
                drop(c);
                // A restarting module refuses connections until it is back.
                if (unsigned away = c.session->awayMs()) stopListening(nowMs() + away);
            }
        }
        std::erase_if(connections, [](const Connection& c) { return c.fd < 0; });
    }
    for (Connection& c : connections)
        drop(c);
}

} // namespace vzsim
