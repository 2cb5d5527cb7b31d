// Serves the module's packet stream on a TCP port, one session per connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include <netinet/in.h>

#include "FrontEndLoop.h"
#include "ModuleModel.h"

namespace vzsim {

class TcpFrontEnd {
  public:
    explicit TcpFrontEnd(ModuleModel& model) : model_(model) {}
    ~TcpFrontEnd() { stop(); }
    TcpFrontEnd(const TcpFrontEnd&) = delete;
    TcpFrontEnd& operator=(const TcpFrontEnd&) = delete;

    // Listens on address:port (port 0 = any free one) before it returns.
    bool start(const std::string& address, uint16_t port, std::string* error);
    void stop();
    uint16_t port() const { return port_; }
    unsigned accepted() const { return accepted_.load(); }
    // Drops every open connection, as a module restart does.
    void dropConnections() {
        drop_ = true;
        waker_.wake();
    }
    // Every later drop, close and stop resets the connection (RST) instead of
    // closing it in order (FIN), as a module that loses power does.
    void setResetOnClose(bool reset) { resetOnClose_ = reset; }

  private:
    void run();
    // Listening stops while the module restarts, and resumes on the same port.
    bool listenOn(const sockaddr_in& address);
    void stopListening(uint64_t untilMs);

    ModuleModel& model_;
    int listenFd_ = -1;
    sockaddr_in address_{};
    uint64_t relistenAt_ = 0; // 0: listening (or stopped)
    uint16_t port_ = 0;
    Waker waker_;
    std::atomic<bool> running_{false};
    std::atomic<bool> drop_{false};
    std::atomic<bool> resetOnClose_{false};
    std::atomic<unsigned> accepted_{0};
    std::thread thread_;
};

} // namespace vzsim
