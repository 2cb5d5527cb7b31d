// TCP/IP discovery against simulated modules, inside a network namespace of
// this process's own (each test runs as its own process under ctest).
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "DiscoveryResponder.h"
#include "NetNamespace.h"
#include "aDiscovery.h"

namespace {

int gNamespace = NETNS_SKIP;

#define REQUIRE_NAMESPACE()                                                                        \
    if (gNamespace != 0) GTEST_SKIP() << "no network namespace here"

uint32_t sAddress(const char* text) {
    in_addr a = {};
    inet_pton(AF_INET, text, &a);
    return a.s_addr;
}

struct Collected {
    std::vector<linkSpec> lspecs;
    bool accept = true;
    bool goOn = true;
};

uint8_t sCollect(const linkSpec* lspec, bool* success, void* ref) {
    Collected* c = static_cast<Collected*>(ref);
    c->lspecs.push_back(*lspec);
    *success = c->accept;
    return c->goOn ? 1 : 0;
}

vzsim::DiscoveryIdentity sIdentity(uint32_t serial, uint8_t module, uint16_t port, uint8_t model) {
    vzsim::DiscoveryIdentity id;
    id.serial = serial;
    id.module = module;
    id.tcpPort = port;
    id.model = model;
    return id;
}

// Two simulated modules answering on the namespace's second loopback address.
class TwoModules : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_NAMESPACE();
        std::string error;
        ASSERT_TRUE(first.start(&error)) << error;
        ASSERT_TRUE(second.start(&error)) << error;
    }
    vzsim::DiscoveryResponder first{sIdentity(0x2181F0EE, 2, 9888, 0x11), NETNS_MODULE_ADDRESS};
    vzsim::DiscoveryResponder second{sIdentity(0x40F5849A, 4, 5000, 0x13), NETNS_MODULE_ADDRESS};
};

TEST(DiscoveryReply, SimulatorEncodesTheDocumentedDatagram) {
    uint8_t reply[16];
    vzsim::DiscoveryResponder::encodeReply(sIdentity(0x2181F0EE, 2, 9888, 0x11), reply);
    const uint8_t expected[16] = {0x01, 0x02, 0xA0, 0x26, 0xEE, 0xF0, 0x81, 0x21,
                                  0x00, 0x00, 0x00, 0x00, 0x11, 0x00, 0x00, 0x00};
    EXPECT_EQ(0, memcmp(reply, expected, sizeof(reply)));
}

TEST_F(TwoModules, EveryReplyBecomesATCPIPSpecifier) {
    Collected c;
    EXPECT_EQ(2, aDiscovery_EnumerateModules(TCPIP, sCollect, &c, 0));
    ASSERT_EQ(2u, c.lspecs.size());
    std::sort(c.lspecs.begin(), c.lspecs.end(),
              [](const linkSpec& a, const linkSpec& b) { return a.module < b.module; });
    const linkSpec& a = c.lspecs[0];
    EXPECT_EQ(TCPIP, a.type);
    EXPECT_EQ(0x2181F0EEu, a.serialNumber);
    EXPECT_EQ(2u, a.module);
    EXPECT_EQ(2u, a.router);
    EXPECT_EQ(0x2181F0EEu, a.routerSerialNumber);
    EXPECT_EQ(0x11u, a.model);
    EXPECT_EQ(sAddress(NETNS_MODULE_ADDRESS), a.ipAddress);
    EXPECT_EQ(9888u, a.ipPort);
    const linkSpec& b = c.lspecs[1];
    EXPECT_EQ(0x40F5849Au, b.serialNumber);
    EXPECT_EQ(4u, b.router);
    EXPECT_EQ(0x13u, b.model);
    EXPECT_EQ(5000u, b.ipPort);
    EXPECT_EQ(1u, first.answered());
}

// A callback that stops at once sees one module; the count follows its flag.
TEST_F(TwoModules, CallbackStopsTheSearch) {
    for (bool accept : {true, false}) {
        Collected c;
        c.accept = accept;
        c.goOn = false;
        EXPECT_EQ(accept ? 1 : 0, aDiscovery_EnumerateModules(TCPIP, sCollect, &c, 0));
        EXPECT_EQ(1u, c.lspecs.size());
    }
}

TEST_F(TwoModules, FindModuleBySerialOrFirst) {
    linkSpec* found = aDiscovery_FindModule(TCPIP, 0x40F5849A, 0);
    ASSERT_NE(nullptr, found);
    EXPECT_EQ(4u, found->module);
    EXPECT_EQ(5000u, found->ipPort);
    aLinkSpec_Destroy(&found);

    EXPECT_EQ(nullptr, aDiscovery_FindModule(TCPIP, 0x12345678, 0));

    found = aDiscovery_FindFirstModule(TCPIP, 0);
    ASSERT_NE(nullptr, found);
    EXPECT_TRUE(found->serialNumber == 0x40F5849A || found->serialNumber == 0x2181F0EE);
    aLinkSpec_Destroy(&found);
}

// One request goes out per interface address and replies are not merged: a
// module that hears both requests is reported twice.
TEST(PerInterface, NoDuplicateSuppression) {
    REQUIRE_NAMESPACE();
    ASSERT_TRUE(NetNamespace_AddAddress("lo:2", "127.0.0.3"));
    vzsim::DiscoveryResponder module(sIdentity(0x2181F0EE, 2, 9888, 0x11), NETNS_MODULE_ADDRESS);
    std::string error;
    ASSERT_TRUE(module.start(&error)) << error;
    Collected c;
    EXPECT_EQ(2, aDiscovery_EnumerateModules(TCPIP, sCollect, &c, 0));
    ASSERT_EQ(2u, c.lspecs.size());
    EXPECT_EQ(c.lspecs[0].serialNumber, c.lspecs[1].serialNumber);
}

// A module that sends raw datagrams, to see how odd replies are read.
class RawModule {
  public:
    explicit RawModule(std::vector<std::vector<uint8_t>> replies) : replies_(std::move(replies)) {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        sockaddr_in any = {};
        any.sin_family = AF_INET;
        any.sin_port = htons(aDISCOVERY_REQUEST_PORT);
        ip_mreq m = {};
        inet_pton(AF_INET, aDISCOVERY_GROUP, &m.imr_multiaddr);
        inet_pton(AF_INET, NETNS_MODULE_ADDRESS, &m.imr_interface);
        ready_ = bind(fd_, reinterpret_cast<sockaddr*>(&any), sizeof(any)) == 0 &&
                 setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof(m)) == 0;
        thread_ = std::thread([this] { run(); });
    }
    ~RawModule() {
        shutdown(fd_, SHUT_RDWR);
        close(fd_);
        thread_.join();
    }
    bool ready() const { return ready_; }

  private:
    void run() {
        uint8_t request[16];
        sockaddr_in from = {};
        socklen_t length = sizeof(from);
        if (recvfrom(fd_, request, sizeof(request), 0, reinterpret_cast<sockaddr*>(&from),
                     &length) != 16)
            return;
        from.sin_port = htons(aDISCOVERY_REPLY_PORT);
        for (const auto& reply : replies_)
            sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from),
                   sizeof(from));
    }
    int fd_ = -1;
    bool ready_ = false;
    std::vector<std::vector<uint8_t>> replies_;
    std::thread thread_;
};

// A reply too short for a model byte gives model 0xFF; one too short for a
// serial number says nothing and is not reported.
TEST(OddReplies, ShortRepliesAreReadSafely) {
    REQUIRE_NAMESPACE();
    RawModule module({{0x01, 0x06, 0x10, 0x27, 0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0},
                      {0x01, 0x08, 0x10, 0x27, 0x01}});
    ASSERT_TRUE(module.ready());
    Collected c;
    EXPECT_EQ(1, aDiscovery_EnumerateModules(TCPIP, sCollect, &c, 0));
    ASSERT_EQ(1u, c.lspecs.size());
    EXPECT_EQ(0x12345678u, c.lspecs[0].serialNumber);
    EXPECT_EQ(6u, c.lspecs[0].module);
    EXPECT_EQ(10000u, c.lspecs[0].ipPort);
    EXPECT_EQ(0xFFu, c.lspecs[0].model);
}

// With the loopback interface alone no request can go out: the search ends
// without waiting for replies.
TEST(OnlyLoopback, NoRequestNoWait) {
    REQUIRE_NAMESPACE();
    ASSERT_EQ(0, unshare(CLONE_NEWNET)) << "a fresh namespace inside the test's own";
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq req = {};
    strncpy(req.ifr_name, "lo", IFNAMSIZ - 1);
    ASSERT_EQ(0, ioctl(fd, SIOCGIFFLAGS, &req));
    req.ifr_flags |= IFF_UP;
    ASSERT_EQ(0, ioctl(fd, SIOCSIFFLAGS, &req));
    close(fd);
    Collected c;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, aDiscovery_EnumerateModules(TCPIP, sCollect, &c, 0));
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(c.lspecs.empty());
    // Far below the 2 s receive time-out that a sent request would cost.
    EXPECT_LT(waited, std::chrono::milliseconds(1500));
}

TEST(OtherTransports, FindNothing) {
    Collected c;
    EXPECT_EQ(0, aDiscovery_EnumerateModules(SERIAL, sCollect, &c, 0));
    EXPECT_EQ(0, aDiscovery_EnumerateModules(AETHER, sCollect, &c, 0));
    EXPECT_EQ(0, aDiscovery_EnumerateModules(linkTypeAny, sCollect, &c, 0));
    EXPECT_TRUE(c.lspecs.empty());
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    gNamespace = NetNamespace_Enter();
    return RUN_ALL_TESTS();
}
