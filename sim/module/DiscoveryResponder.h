// Answers the TCP/IP discovery request for one simulated module: joins the
// discovery group on one interface address and replies to requester:9889.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace vzsim {

struct DiscoveryIdentity {
    uint32_t serial = 0;
    uint8_t model = 0;
    uint8_t module = 2;
    uint16_t tcpPort = 0;
};

class DiscoveryResponder {
  public:
    // joinAddress: interface address to join the group on, which is also where
    // replies come from unless replySource names another local address.
    DiscoveryResponder(const DiscoveryIdentity& identity, std::string joinAddress,
                       std::string replySource = "");
    ~DiscoveryResponder();
    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    // Returns once the group is joined (so a request sent afterwards is
    // answered); false with a reason otherwise.
    bool start(std::string* error);
    void stop();
    unsigned answered() const { return answered_.load(); }

    // The 16-byte reply for an identity (little-endian integers).
    static void encodeReply(const DiscoveryIdentity& identity, uint8_t reply[16]);

  private:
    void run();

    DiscoveryIdentity identity_;
    std::string joinAddress_;
    std::string replySource_;
    int listenFd_ = -1;
    int replyFd_ = -1;
    std::atomic<bool> running_{false};
    std::atomic<unsigned> answered_{0};
    std::thread thread_;
};

} // namespace vzsim
