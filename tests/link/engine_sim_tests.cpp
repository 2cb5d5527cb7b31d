// The link engine end to end against the simulated module over real TCP
// sockets on 127.0.0.1 and over a pty serial port.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <sys/resource.h>
#include <unistd.h>
#include <thread>

#include "LinkConversation.h"
#include "ModuleModel.h"
#include "PtyFrontEnd.h"
#include "SimLinkHelpers.h"
#include "TcpFrontEnd.h"
#include "aLink.h"
#include "aUEI.h"

namespace {

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);
const uint32_t kSerial = vzsim::ModuleIdentity{}.serial;

class SimTcp : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(front.start("127.0.0.1", 0, &error)) << error;
    }
    vzsim::ModuleModel model{vzsim::ModuleIdentity{}};
    vzsim::TcpFrontEnd front{model};
};

TEST_F(SimTcp, CreateSyncAndAskForTheSerialNumber) {
    uint32_t id = aLink_CreateTCPIP(kLoopback, front.port());
    ASSERT_NE(id, 0u);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_RUNNING);
    EXPECT_TRUE(sEventually([&] { return model.stats().lastForceRoute == 1; }));
    EXPECT_EQ(aLink_Sync(id), aErrNone);
    EXPECT_GE(model.stats().syncRequests, 2u); // the sync ends after two replies
    linkconv::converse(id, model, 2);

    // Pooled mode carries the same traffic.
    aLink_EnablePooledPackets(id, true);
    linkconv::converse(id, model, 2);

    EXPECT_EQ(aLink_Destroy(&id), aErrNone);
    EXPECT_TRUE(sEventually([&] { return model.stats().lastForceRoute == 0; }))
        << "destroying the link routes back";
}

TEST_F(SimTcp, SharedByUseCount) {
    uint32_t first = aLink_CreateTCPIP(kLoopback, front.port());
    uint32_t second = aLink_CreateTCPIP(kLoopback, front.port());
    ASSERT_NE(first, 0u);
    EXPECT_EQ(first, second);
    EXPECT_EQ(front.accepted(), 1u);
    EXPECT_EQ(aLink_Destroy(&second), aErrNone);
    EXPECT_EQ(aLink_GetStatus(first), aLINK_RUNNING);
    uint32_t serial = 0;
    EXPECT_EQ(sGetSystemInt(first, 2, 9, &serial), aErrNone);
    uint32_t kept = first;
    EXPECT_EQ(aLink_Destroy(&first), aErrNone);
    EXPECT_EQ(aLink_GetStatus(kept), aLINK_NOSTREAM);
}

bool sIsHeartbeat(const aPacket* packet, void*) {
    return packet->dataSize > 0 && packet->data[0] == cmdHEARTBEAT;
}

TEST_F(SimTcp, HeartbeatsAreAnswered) {
    // Switched on before the session opens: the simulator plans heartbeats
    // only when it next wakes.
    model.setHeartbeatInterval(20);
    uint32_t id = aLink_CreateTCPIP(kLoopback, front.port());
    ASSERT_NE(id, 0u);
    EXPECT_TRUE(sEventually([&] { return model.stats().heartbeatReplies >= 5; }));
    model.setHeartbeatInterval(0);
    EXPECT_EQ(model.stats().heartbeatBadReplies, 0u);
    EXPECT_EQ(aLink_DrainPackets(id, sIsHeartbeat, nullptr), 0u) << "heartbeats never queue";
    aLink_Destroy(&id);
}

TEST_F(SimTcp, ResetReconnectsAfterTheModuleDropped) {
    uint32_t id = aLink_CreateTCPIP(kLoopback, front.port());
    ASSERT_NE(id, 0u);
    front.dropConnections();
    EXPECT_EQ(aLink_Reset(id), aErrNone);
    EXPECT_TRUE(sEventually([&] { return front.accepted() >= 2; }));
    EXPECT_EQ(aLink_Sync(id), aErrNone);
    uint32_t serial = 0;
    EXPECT_EQ(sGetSystemInt(id, 2, 9, &serial), aErrNone);
    aLink_Destroy(&id);
}

// A caller's packets leave in order whether they go straight to the stream or
// wait behind the writer (busy here with heartbeat answers): a long byte string
// is set in sequenced packets and read back.
TEST_F(SimTcp, LongByteStringKeepsItsOrderWhileHeartbeatsFlow) {
    uint32_t id = aLink_CreateTCPIP(kLoopback, front.port());
    ASSERT_NE(id, 0u);
    model.setHeartbeatInterval(1);
    std::string name;
    for (int i = 0; i < 120 * aUEI_BYTES_CHUNK; i++)
        name.push_back(char('a' + i % 26));
    // What the module saw, for a failing round: a reconnect, a resync or bytes
    // it could not place would each explain a broken sequence.
    auto seen = [&] {
        vzsim::ModelStats s = model.stats();
        return ::testing::Message()
               << "packets in " << s.packetsIn << ", syncs " << s.syncRequests << ", bytes dropped "
               << s.bytesDropped << ", heartbeats " << s.heartbeatsSent << "/" << s.heartbeatReplies
               << ", connections " << front.accepted();
    };
    uei reply{};
    EXPECT_EQ(linkconv::sGet(id, 2, linkconv::kSerial, &reply), aErrNone); // plans heartbeats
    for (int round = 0; round < 3; round++) {
        aErr set = linkconv::sSetBytes(id, 2, linkconv::kName, name);
        EXPECT_EQ(set, aErrNone) << "round " << round << ": " << seen();
        if (set != aErrNone) break; // the rest of its replies would fail the next round
        std::string got;
        unsigned packets = 0;
        EXPECT_EQ(linkconv::sGetBytes(id, 2, linkconv::kName, &got, &packets), aErrNone);
        EXPECT_EQ(got, name);
        std::reverse(name.begin(), name.end());
    }
    model.setHeartbeatInterval(0);
    // At this pace a heartbeat may go out before the last one's answer came,
    // which the simulator counts as a bad answer: only their flow matters here.
    EXPECT_GT(model.stats().heartbeatReplies, 0u);
    aLink_Destroy(&id);
}

double sCpuSeconds() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST_F(SimTcp, IdleLinkBarelyUsesCpu) {
    uint32_t id = aLink_CreateTCPIP(kLoopback, front.port());
    ASSERT_NE(id, 0u);
    double before = sCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LT(sCpuSeconds() - before, 0.3) << "an idle link must not spin";
    // A reply still comes at once after the quiet second.
    uint32_t serial = 0;
    EXPECT_EQ(sGetSystemInt(id, 2, 9, &serial), aErrNone);
    aLink_Destroy(&id);
}

TEST_F(SimTcp, ResetWithoutAModuleLeavesAQuietBrokenLink) {
    uint32_t id = aLink_CreateTCPIP(kLoopback, front.port());
    ASSERT_NE(id, 0u);
    front.stop();
    EXPECT_NE(aLink_Reset(id), aErrNone);
    EXPECT_TRUE(sEventually([&] { return aLink_GetStatus(id) == aLINK_IOERROR; }));
    double before = sCpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LT(sCpuSeconds() - before, 0.2) << "neither thread may spin without stream or queues";
    uint32_t serial = 0;
    EXPECT_NE(sGetSystemInt(id, 2, 9, &serial), aErrNone);
    EXPECT_EQ(aLink_Destroy(&id), aErrNone);
}

// The module closes its end of the link, in order (FIN) or by a reset (RST).
class SimTcpClose : public SimTcp, public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        SimTcp::SetUp();
        front.setResetOnClose(GetParam());
        id = aLink_CreateTCPIP(kLoopback, front.port());
        ASSERT_NE(id, 0u);
    }
    void TearDown() override {
        if (id) aLink_Destroy(&id);
    }
    uint32_t id = 0;
};

TEST_P(SimTcpClose, ModuleGoneLeavesRunningAndAResetRecovers) {
    uint16_t port = front.port();
    front.stop(); // closes the connection and listens no more
    EXPECT_TRUE(sEventually([&] { return aLink_GetStatus(id) == aLINK_IOERROR; }, 2000))
        << "status " << aLink_GetStatus(id);
    uint32_t serial = 0;
    EXPECT_EQ(sGetSystemInt(id, 2, 9, &serial), aErrTimeout) << "a broken link fails at once";
    EXPECT_EQ(aLink_GetStatus(id), aLINK_IOERROR) << "the error lasts until a reset";

    // The module is back on its port: a reset makes a new connection.
    std::string error;
    ASSERT_TRUE(front.start("127.0.0.1", port, &error)) << error;
    EXPECT_EQ(aLink_Reset(id), aErrNone);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_RUNNING);
    EXPECT_EQ(aLink_Sync(id), aErrNone);
    EXPECT_EQ(sGetSystemInt(id, 2, 9, &serial), aErrNone);
    EXPECT_EQ(serial, kSerial);
}

TEST_P(SimTcpClose, ModuleThatAcceptsAgainIsReconnectedAtOnce) {
    // The connection drops mid-stream, right after the first reply.
    vzsim::Faults faults;
    faults.closeAfterReplies = 1;
    model.setFaults(faults);
    uint32_t serial = 0;
    EXPECT_EQ(sGetSystemInt(id, 2, 9, &serial), aErrNone);
    model.setFaults(vzsim::Faults{});
    EXPECT_TRUE(sEventually([&] { return front.accepted() >= 2; }, 2000))
        << "the reader reconnects without waiting for a write";
    EXPECT_EQ(aLink_GetStatus(id), aLINK_RUNNING);
    serial = 0;
    EXPECT_EQ(sGetSystemInt(id, 2, 9, &serial), aErrNone);
    EXPECT_EQ(serial, kSerial);
}

INSTANTIATE_TEST_SUITE_P(CloseKinds, SimTcpClose, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Reset" : "Orderly";
                         });

TEST(SimFailures, NothingToConnectTo) {
    vzsim::ModuleModel model{vzsim::ModuleIdentity{}};
    uint16_t port;
    {
        // A port that was just free: nobody listens on it any more.
        vzsim::TcpFrontEnd front{model};
        std::string error;
        ASSERT_TRUE(front.start("127.0.0.1", 0, &error)) << error;
        port = front.port();
    }
    EXPECT_EQ(aLink_CreateTCPIP(kLoopback, port), 0u);
    EXPECT_EQ(aLink_CreateUSB(0x12345678), 0u);
    EXPECT_EQ(aLink_CreateSerial(1, "/dev/no-such-port", 115200), 0u);
    EXPECT_EQ(aLink_CreateSerial(1, "/dev/null", 12345), 0u) << "rate not in the table";
    EXPECT_EQ(aLink_CreateSerial(1, nullptr, 115200), 0u);
}

TEST(SimSerial, LinkOverAPty) {
    vzsim::ModuleModel model{vzsim::ModuleIdentity{}};
    vzsim::PtyFrontEnd front{model};
    std::string error;
    ASSERT_TRUE(front.start("", &error)) << error;
    uint32_t id = aLink_CreateSerial(kSerial, front.path().c_str(), 115200);
    ASSERT_NE(id, 0u);
    uint32_t again = aLink_CreateSerial(kSerial, front.path().c_str(), 115200);
    EXPECT_EQ(again, id);
    aLink_Destroy(&again);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_RUNNING);
    EXPECT_TRUE(sEventually([&] { return model.stats().lastForceRoute == 1; }));
    EXPECT_EQ(aLink_Sync(id), aErrNone);
    linkconv::converse(id, model, 2);
    // Serial links keep their port and rate, so a reset reopens the port.
    EXPECT_EQ(aLink_Reset(id), aErrNone);
    EXPECT_EQ(aLink_Sync(id), aErrNone);
    uint32_t serial = 0;
    EXPECT_EQ(sGetSystemInt(id, 2, 9, &serial), aErrNone);
    EXPECT_EQ(serial, kSerial);
    aLink_Destroy(&id);
    EXPECT_TRUE(sEventually([&] { return model.stats().lastForceRoute == 0; }))
        << "destroying the link routes back";
}

TEST(SimSerial, DroppedLineIsAnIoErrorUntilAResetReopensIt) {
    vzsim::ModuleModel model{vzsim::ModuleIdentity{}};
    vzsim::PtyFrontEnd front{model};
    char dir[] = "/tmp/link_pty.XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    std::string path = std::string(dir) + "/ttyVZ0";
    std::string error;
    ASSERT_TRUE(front.start(path, &error)) << error;
    uint32_t id = aLink_CreateSerial(kSerial, path.c_str(), 115200);
    ASSERT_NE(id, 0u);

    // The module hangs up right after its next reply; a fresh line takes the
    // place of the old one behind the same path.
    vzsim::Faults faults;
    faults.closeAfterReplies = 1;
    model.setFaults(faults);
    uint32_t serial = 0;
    EXPECT_EQ(sGetSystemInt(id, 2, 9, &serial), aErrNone);
    model.setFaults(vzsim::Faults{});
    EXPECT_TRUE(sEventually([&] { return aLink_GetStatus(id) == aLINK_IOERROR; }))
        << "status " << aLink_GetStatus(id);
    EXPECT_EQ(sGetSystemInt(id, 2, 9, &serial), aErrTimeout);

    EXPECT_EQ(aLink_Reset(id), aErrNone);
    EXPECT_EQ(aLink_Sync(id), aErrNone);
    EXPECT_EQ(sGetSystemInt(id, 2, 9, &serial), aErrNone);
    EXPECT_EQ(serial, kSerial);
    aLink_Destroy(&id);
    front.stop();
    rmdir(dir);
}

} // namespace
