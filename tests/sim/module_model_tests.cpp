// The simulated module's answers, seen by a host over real TCP connections and
// over a pty.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "ModuleModel.h"
#include "SimHost.h"
#include "PtyFrontEnd.h"
#include "TcpFrontEnd.h"
#include "aStream_Serial.h"
#include "aTime.h"

using namespace vzsim;

namespace {

ModuleIdentity identity() {
    ModuleIdentity id;
    id.serial = 0x40F5849A;
    id.model = 0x13;
    id.address = 4;
    id.version = 0x2F020301;
    id.build = 4711;
    id.name = "bench module";
    return id;
}

struct SimOverTcp : ::testing::Test {
    ModuleModel model{identity()};
    TcpFrontEnd tcp{model};
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(tcp.start("127.0.0.1", 0, &error)) << error;
    }
};

} // namespace

TEST_F(SimOverTcp, AnswersSyncFromItsOwnAddressAndTakesForceRoute) {
    Host host(tcp.port());
    ASSERT_TRUE(host.connected());
    for (int i = 0; i < 6; i++)
        host.send(0xAD, {});
    host.send(0xAF, {1});
    for (int i = 0; i < 6; i++) {
        std::optional<Reply> r = host.read();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->address, 4);
        EXPECT_TRUE(r->data.empty());
    }
    EXPECT_EQ(host.ask(4, {23, 1}), (Bytes{23, 1})); // and nothing for the force route
    ModelStats s = model.stats();
    EXPECT_EQ(s.syncRequests, 6u);
    EXPECT_EQ(s.lastForceRoute, 1);
}

TEST_F(SimOverTcp, SystemEntityGetsSetsAndErrors) {
    Host host(tcp.port());
    struct Case {
        Bytes request, reply;
    } cases[] = {
        {{3, 0x49, 0x20}, {3, 9, 0, 0x40, 0xF5, 0x84, 0x9A}},     // serial number
        {{3, 0x48, 0x20}, {3, 8, 0, 0x13}},                       // model
        {{3, 0x47, 0x20}, {3, 7, 0, 0x2F, 0x02, 0x03, 0x01}},     // version
        {{3, 0x41, 0x20}, {3, 1, 0, 4}},                          // module address
        {{3, 0x42, 0x20}, {3, 2, 0, 4}},                          // router: itself
        {{3, 0x6B, 0x20}, {3, 43, 0, 0, 0, 0x12, 0x67}},          // build
        {{3, 0x67, 0x20, 2}, {3, 39, 0, 0x33, 0x33, 0x33, 0x33}}, // chip id word 2
        {{3, 0x84, 0x20, 1}, {3, 0xC4, 0}},                       // LED on
        {{3, 0x44, 0x20}, {3, 4, 0, 1}},                          // reads back
        {{3, 0x94, 0x20, 1}, {3, 0xD4, 0}},                       // route to me
        {{3, 0x7F, 0x20}, {3, 63, 0x80, 29}},                     // no such option
        {{3, 0x49, 0x21}, {3, 9, 0x81, 28}},                      // no such entity
        {{3, 0x89, 0x20, 0, 0, 0, 1}, {3, 0xC9, 0x80, 7}},        // serial is read-only
        {{3, 0x84, 0x20, 1, 2}, {3, 0xC4, 0x80, 14}},             // wrong size
    };
    for (const Case& c : cases)
        EXPECT_EQ(host.ask(4, c.request), c.reply);
}

TEST_F(SimOverTcp, NameTravelsAsSequencedByteStrings) {
    Host host(tcp.port());
    EXPECT_EQ(host.ask(4, {3, 0x60, 0x20}),
              (Bytes{3, 32, 0, 'b', 'e', 'n', 'c', 'h', ' ', 'm', 'o', 'd', 'u', 'l', 'e', 0x00}));
    // Set a 30-byte name in two packets; one acknowledgement at the end.
    std::string name(30, 'n');
    Bytes first{3, 0xA0, 0x20};
    first.insert(first.end(), name.begin(), name.begin() + 24);
    first.push_back(0x80);
    Bytes second{3, 0xA0, 0x20};
    second.insert(second.end(), name.begin() + 24, name.end());
    second.push_back(0x01);
    host.send(4, first);
    EXPECT_EQ(host.ask(4, second), (Bytes{3, 0xE0, 0}));
    host.send(4, {3, 0x60, 0x20});
    std::optional<Reply> a = host.read(), b = host.read();
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->data.size(), 28u);
    EXPECT_EQ(a->data.back(), 0x80);
    EXPECT_EQ(b->data, (Bytes{3, 32, 0, 'n', 'n', 'n', 'n', 'n', 'n', 0x01}));
    EXPECT_EQ(model.locked([](ModuleModel& m) { return m.primary()->identity().name; }), name);
}

TEST_F(SimOverTcp, InfoQueriesAndEcho) {
    Host host(tcp.port());
    EXPECT_EQ(host.ask(4, {73, 0xFF}), (Bytes{73, 0xFF, 0, 0, 0x12, 0x67}));
    EXPECT_EQ(host.ask(4, {73, 1, 3, 9, 0, 0x40}), (Bytes{73, 1, 3, 9, 0, 0}));
    EXPECT_EQ(host.ask(4, {73, 1, 3, 9, 0, 0x80}), (Bytes{73, 1, 3, 9, 0, 7}));
    EXPECT_EQ(host.ask(4, {73, 1, 95, 10, 0, 0x80}), (Bytes{73, 1, 95, 10, 0, 28}));
    EXPECT_EQ(host.ask(4, {73, 4, 3}), (Bytes{73, 4, 3, 1}));
    EXPECT_EQ(host.ask(4, {73, 4, 8}), (Bytes{73, 4, 8, 0}));
    EXPECT_EQ(host.ask(4, {73, 5, 3, 0}), (Bytes{73, 5, 3, 0, 0}));
    EXPECT_EQ(host.ask(4, {23, 9, 8, 7}), (Bytes{23, 9, 8, 7}));
}

TEST_F(SimOverTcp, IgnoresOtherAddressesAndResynchronisesAfterGarbage) {
    Host host(tcp.port());
    host.send(6, {3, 0x49, 0x20});                // nobody at 6
    host.sendRaw({0x00, 0x05, 0x07, 0x02, 0x1F}); // zero, odd, and a size above 28
    EXPECT_EQ(host.ask(4, {3, 0x48, 0x20}), (Bytes{3, 8, 0, 0x13}));
}

TEST_F(SimOverTcp, FaultsDropDelayAndClose) {
    Faults f;
    f.dropReplies = {2};
    f.delayMs = 30;
    f.closeAfterReplies = 4;
    model.setFaults(f);
    Host host(tcp.port());
    for (uint8_t i = 1; i <= 4; i++)
        host.send(4, {23, i});
    for (uint8_t i : {1, 3, 4}) {
        std::optional<Reply> r = host.read();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->data, (Bytes{23, i}));
    }
    EXPECT_TRUE(host.closedByPeer());
    EXPECT_EQ(model.stats().repliesDropped, 1u);

    model.setFaults(Faults{});
    Host again(tcp.port());
    EXPECT_EQ(again.ask(4, {23, 5}), (Bytes{23, 5}));
}

TEST_F(SimOverTcp, SilentSyncWhenAsked) {
    Faults f;
    f.answerSync = false;
    model.setFaults(f);
    Host host(tcp.port());
    host.send(0xAD, {});
    EXPECT_EQ(host.ask(4, {23, 1}), (Bytes{23, 1})); // the next thing back is the echo
}

TEST_F(SimOverTcp, HeartbeatsExpectTheirAnswers) {
    model.setHeartbeatInterval(10);
    Host host(tcp.port());
    std::optional<Reply> hb = host.read();
    ASSERT_TRUE(hb);
    EXPECT_EQ(hb->address, 4);
    ASSERT_EQ(hb->data.size(), 2u);
    EXPECT_EQ(hb->data[0], 0);
    host.send(4, {0, uint8_t(hb->data[1] + 2)});
    host.send(4, {0, 9}); // an answer nobody asked for
    model.setHeartbeatInterval(0);
    // Anything the host sends after the answer shows it has been taken.
    host.send(4, {23, 1});
    std::optional<Reply> r;
    do
        r = host.read();
    while (r && r->data.size() == 2 && r->data[0] == 0);
    ASSERT_TRUE(r);
    ModelStats s = model.stats();
    EXPECT_GE(s.heartbeatReplies, 1u);
    EXPECT_EQ(s.heartbeatBadReplies, 1u);
}

TEST_F(SimOverTcp, ResetAcknowledgesThenDropsTheLink) {
    Host host(tcp.port());
    EXPECT_EQ(host.ask(4, {3, 0x8B, 0x20}), (Bytes{3, 0xCB, 0}));
    EXPECT_TRUE(host.closedByPeer());
    Host after(tcp.port());
    EXPECT_EQ(after.ask(4, {3, 0x48, 0x20}), (Bytes{3, 8, 0, 0x13}));
}

TEST(SimOverPty, SyncsAndAnswersOverTheSerialStream) {
    ModuleModel model(identity());
    PtyFrontEnd pty(model);
    char dir[] = "/tmp/sim_pty.XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    std::string link = std::string(dir) + "/ttyVZ0";
    std::string error;
    ASSERT_TRUE(pty.start(link, &error)) << error;

    aStream* s = nullptr;
    ASSERT_EQ(aStream_CreateSerial(link.c_str(), 6, false, 0, 0, &s), aErrNone);
    const uint8_t request[] = {0xAD, 0x00, 0xAD, 0x00, 0x04, 0x03, 0x03, 0x49, 0x20};
    ASSERT_EQ(aStream_Write(s, request, sizeof(request)), aErrNone);
    Bytes expect{4, 0, 4, 0, 4, 7, 3, 9, 0, 0x40, 0xF5, 0x84, 0x9A};
    Bytes got;
    uint64_t end = aTime_GetMSTicks() + 2000;
    while (got.size() < expect.size() && aTime_GetMSTicks() < end) {
        uint8_t b;
        if (aStream_Read(s, &b, 1) == aErrNone) got.push_back(b);
    }
    EXPECT_EQ(got, expect);
    aStream_Destroy(&s);
    pty.stop();
    rmdir(dir);
}

TEST(SimOverPty, ADroppedLinkHangsUpAndAFreshPtyTakesItsPlace) {
    ModuleModel model(identity());
    Faults f;
    f.closeAfterReplies = 1;
    model.setFaults(f);
    PtyFrontEnd pty(model);
    char dir[] = "/tmp/sim_pty.XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    std::string link = std::string(dir) + "/ttyVZ0";
    std::string error;
    ASSERT_TRUE(pty.start(link, &error)) << error;

    auto exchange = [&](aStream* s, aErr* last) {
        const uint8_t ping[] = {0x04, 0x02, 23, 7};
        EXPECT_EQ(aStream_Write(s, ping, sizeof(ping)), aErrNone);
        Bytes got;
        uint64_t end = aTime_GetMSTicks() + 2000;
        *last = aErrNone;
        while (aTime_GetMSTicks() < end) {
            uint8_t b;
            *last = aStream_Read(s, &b, 1);
            if (*last == aErrNone)
                got.push_back(b);
            else if (*last != aErrNotReady || got.size() == 4)
                break;
        }
        return got;
    };
    aStream* s = nullptr;
    ASSERT_EQ(aStream_CreateSerial(link.c_str(), 6, false, 0, 0, &s), aErrNone);
    aErr last;
    EXPECT_EQ(exchange(s, &last), (Bytes{4, 2, 23, 7}));
    uint8_t b;
    uint64_t end = aTime_GetMSTicks() + 2000;
    while ((last = aStream_Read(s, &b, 1)) == aErrNotReady && aTime_GetMSTicks() < end) {
    }
    EXPECT_EQ(last, aErrEOF); // hung up: nothing will come any more
    aStream_Destroy(&s);

    model.setFaults(Faults{});
    ASSERT_EQ(aStream_CreateSerial(link.c_str(), 6, false, 0, 0, &s), aErrNone);
    EXPECT_EQ(exchange(s, &last), (Bytes{4, 2, 23, 7}));
    aStream_Destroy(&s);
    pty.stop();
    rmdir(dir);
}
