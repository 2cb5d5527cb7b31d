// The link engine over an in-memory transport: exact bytes, sync state machine,
// heartbeats, pooled writes, and an idle reader on a transport that never waits.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <chrono>
#include <sys/resource.h>
#include <thread>

#include "ScriptStream.h"
#include "aLink.h"
#include "aLink_Internal.h"
#include "packetfifo.h"

namespace {

using Bytes = std::vector<uint8_t>;
const Bytes kSync = {0xAD, 0x00};

bool sWaitStatus(uint32_t id, uint32_t status, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 5) {
        if (aLink_GetStatus(id) == status) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return aLink_GetStatus(id) == status;
}

double sProcessCpuSeconds() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class ScriptLink : public ::testing::Test {
  protected:
    void SetUp() override {
        id = aLink_Create(script.make());
        ASSERT_NE(id, 0u);
        // Start sends force-route 1.
        ASSERT_TRUE(script.waitWrite({0xAF, 0x01, 0x01}, 1, 2000));
        script.clearWrites();
    }
    void TearDown() override {
        if (id) {
            EXPECT_EQ(aLink_Destroy(&id), aErrNone);
        }
        EXPECT_TRUE(script.deleted()) << "the link owns and closes its stream";
    }
    ScriptStream script;
    uint32_t id = 0;
};

TEST_F(ScriptLink, SyncNeedsTwoEqualRepliesInARow) {
    EXPECT_EQ(aLink_GetStatus(id), aLINK_RUNNING);
    EXPECT_EQ(aLink_Sync(id), aErrNone);
    EXPECT_EQ(script.countWrites(kSync), 6);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_RUNNING);
    EXPECT_EQ(aLink_GetPacket(id), nullptr) << "sync replies are drained";

    script.clearWrites();
    script.setSyncReply(ScriptStream::SyncReply::Alternate); // 04 00 06 00 ...
    EXPECT_EQ(aLink_Sync(id), aErrNotReady);
    EXPECT_GT(script.countWrites(kSync), 6) << "the engine sends new sync packets";
    EXPECT_EQ(aLink_GetStatus(id), aLINK_SYNCING);
}

TEST_F(ScriptLink, BadBytesMakeTheEngineResync) {
    const std::initializer_list<uint8_t> bad[] = {{0x05}, {0x04, 29}};
    int syncs = 0;
    for (auto bytes : bad) {
        script.feed(bytes);
        syncs += 6;
        EXPECT_TRUE(script.waitWrite(kSync, syncs, 2000));
        EXPECT_TRUE(sWaitStatus(id, aLINK_RUNNING, 2000));
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        aLink_DrainPackets(id, drainAll, nullptr); // the spare sync replies
    }
    script.feed({0x04, 0x03, 0x03, 0x47, 0x05});
    aPacket* packet = aLink_AwaitPacket(id, 2000);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->address, 4);
    EXPECT_EQ(Bytes(packet->data, packet->data + packet->dataSize), (Bytes{3, 0x47, 5}));
    aPacket_Destroy(&packet);
}

TEST_F(ScriptLink, HeartbeatsAreAnsweredAndNotQueued) {
    script.feed({0x04, 0x02, 0x00, 0x01});
    script.feed({0x04, 0x02, 0x00, 0x00});
    script.feed({0x04, 0x02, 0x00, 0x07});
    script.feed({0x04, 0x03, 0x00, 0x01, 0x02});
    EXPECT_TRUE(script.waitWrite({0x04, 0x02, 0x00, 0x03}, 1, 2000));
    EXPECT_TRUE(script.waitWrite({0x04, 0x02, 0x00, 0x02}, 1, 2000));
    EXPECT_TRUE(script.waitWrite({0x04, 0x02, 0x00, 0x09}, 1, 2000));
    aPacket* packet = aLink_AwaitPacket(id, 2000);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->dataSize, 3) << "only the three-byte packet is queued";
    aPacket_Destroy(&packet);
    EXPECT_EQ(aLink_GetPacket(id), nullptr);
}

bool sTakeDebug(const aPacket* packet, void* ref) {
    if (packet->data[0] != cmdDEBUG) return false;
    ++*(std::atomic<int>*)ref;
    return true;
}

TEST_F(ScriptLink, UserFilterTakesPacketsFirst) {
    std::atomic<int> taken{0};
    ASSERT_EQ(aLink_InstallUserPacketFilter(id, sTakeDebug, &taken), aErrNone);
    script.feed({0x04, 0x01, cmdDEBUG, 0x04, 0x01, cmdINFO});
    aPacket* packet = aLink_AwaitPacket(id, 2000);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->data[0], cmdINFO);
    aPacket_Destroy(&packet);
    EXPECT_EQ(taken.load(), 1);
    ASSERT_EQ(aLink_InstallUserPacketFilter(id, nullptr, nullptr), aErrNone);
    script.feed({0x04, 0x01, cmdDEBUG});
    packet = aLink_AwaitPacket(id, 2000);
    EXPECT_NE(packet, nullptr);
    aPacket_Destroy(&packet);
}

bool sCountCalls(const aPacket*, void* ref) {
    ++*(int*)ref;
    return false;
}

TEST_F(ScriptLink, AwaitFirstOffersEachPacketOncePerCall) {
    script.feed({0x04, 0x01, cmdINFO, 0x04, 0x01, cmdDEBUG});
    uint64_t received = sGetLink(id)->receiveFifo;
    for (int i = 0; i < 400 && aPacketFifo_GetLength(received) < 2; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(aPacketFifo_GetLength(received), 2u);
    int calls = 0;
    // Long enough for several internal wait slices.
    EXPECT_EQ(aLink_AwaitFirst(id, sCountCalls, &calls, 350), nullptr);
    EXPECT_EQ(calls, 2);
}

std::mutex gLogMutex;
std::vector<std::pair<int, Bytes>> gLog;
void sLogPacket(aPacketLog*, int kind, const uint8_t* wire, size_t length) {
    std::lock_guard<std::mutex> lock(gLogMutex);
    gLog.emplace_back(kind, Bytes(wire, wire + length));
}

TEST_F(ScriptLink, PacketLogSeesWireBytesBothWays) {
    std::shared_ptr<aLink> link = sGetLink(id);
    gLinkHooks.logPacket = sLogPacket;
    aMutex_Lock(link->packetLogMutex);
    link->packetLog = (aPacketLog*)&gLog; // any non-null log
    aMutex_Unlock(link->packetLogMutex);

    script.feed({0x04, 0x02, 0x00, 0x01}); // a heartbeat is logged, then answered
    EXPECT_TRUE(script.waitWrite({0x04, 0x02, 0x00, 0x03}, 1, 2000));
    uint8_t data[1] = {cmdDEBUG};
    aPacket* packet = aPacket_CreateWithData(4, 1, data);
    aLink_PutPacket(id, packet);
    aPacket_Destroy(&packet);
    EXPECT_TRUE(script.waitWrite({0x04, 0x01, cmdDEBUG}, 1, 2000));

    aMutex_Lock(link->packetLogMutex);
    link->packetLog = nullptr;
    aMutex_Unlock(link->packetLogMutex);
    gLinkHooks.logPacket = nullptr;
    std::lock_guard<std::mutex> lock(gLogMutex);
    const std::vector<std::pair<int, Bytes>> expected = {
        {aLINK_LOG_RECEIVED, {0x04, 0x02, 0x00, 0x01}},
        {aLINK_LOG_SENT, {0x04, 0x02, 0x00, 0x03}},
        {aLINK_LOG_SENT, {0x04, 0x01, cmdDEBUG}},
    };
    EXPECT_EQ(gLog, expected);
}

TEST_F(ScriptLink, PooledWritesStayWithin4096Bytes) {
    ASSERT_EQ(aLink_EnablePooledPackets(id, true), aErrNone);
    uint8_t data[28] = {cmdUPGRADE};
    aPacket* packet = aPacket_CreateWithData(4, 28, data);
    script.closeGate();
    ASSERT_EQ(aLink_PutPacket(id, packet), aErrNone);
    ASSERT_TRUE(script.waitBlocked(1, 2000));
    for (int i = 0; i < 200; i++)
        ASSERT_EQ(aLink_PutPacket(id, packet), aErrNone);
    aPacket_Destroy(&packet);
    script.openGate();
    size_t total = 0;
    for (int waited = 0; waited < 2000 && total < 201 * 30; waited += 5) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        total = 0;
        for (const Bytes& w : script.writes())
            total += w.size();
    }
    std::vector<size_t> sizes;
    for (const Bytes& w : script.writes())
        sizes.push_back(w.size());
    EXPECT_EQ(sizes, (std::vector<size_t>{30, 136 * 30, 64 * 30}));
}

TEST_F(ScriptLink, ForceRouteAndStop) {
    EXPECT_EQ(aLink_ForceRoute(id, 1), aErrNone);
    EXPECT_TRUE(script.waitWrite({0xAF, 0x01, 0x01}, 1, 2000));
    std::shared_ptr<aLink> link = sGetLink(id);
    ASSERT_TRUE(link);
    EXPECT_EQ(aLink_Stop(link.get()), aErrNone);
    EXPECT_EQ(script.countWrites({0xAF, 0x01, 0x00}), 1)
        << "stop routes back before the writer ends";
    EXPECT_EQ(aLink_GetStatus(id), aLINK_STOPPED);
    EXPECT_EQ(aLink_Stop(link.get()), aErrNone);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_STOPPED);
    EXPECT_EQ(aLink_AwaitFirst(id, drainAll, nullptr, 5000), nullptr);
    EXPECT_EQ(aLink_Sync(id), aErrNotReady);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_STOPPED);
    EXPECT_EQ(aLink_Stop(nullptr), aErrParam);
}

TEST_F(ScriptLink, DestroyEndsWaitersAndSendsForceRouteZero) {
    uint32_t mine = id;
    std::thread waiter([mine] {
        EXPECT_EQ(aLink_AwaitFirst(mine, drainAll, nullptr, 60000), nullptr);
        EXPECT_EQ(aLink_PutPacket(mine, nullptr), aErrParam);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    uint32_t gone = id;
    EXPECT_EQ(aLink_Destroy(&id), aErrNone);
    EXPECT_EQ(id, 0u);
    waiter.join();
    EXPECT_EQ(script.countWrites({0xAF, 0x01, 0x00}), 1);
    EXPECT_EQ(aLink_GetStatus(gone), aLINK_NOSTREAM);
    EXPECT_EQ(aLink_Destroy(&gone), aErrParam);
    EXPECT_EQ(gone, 0u);
}

TEST_F(ScriptLink, IdleReaderOnANonWaitingTransportBarelyUsesCpu) {
    long getsBefore = script.gets();
    double cpuBefore = sProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    double cpu = sProcessCpuSeconds() - cpuBefore;
    long gets = script.gets() - getsBefore;
    // A spinning reader burns a whole core and makes millions of gets.
    EXPECT_LT(cpu, 0.3);
    EXPECT_LT(gets, 5000);
    // Bytes still arrive promptly after the idle time.
    script.feed({0x04, 0x01, cmdINFO});
    aPacket* packet = aLink_AwaitPacket(id, 1000);
    EXPECT_NE(packet, nullptr);
    aPacket_Destroy(&packet);
}

TEST(LinkTable, UnknownIdentifiers) {
    EXPECT_EQ(aLink_GetStatus(123456), aLINK_NOSTREAM);
    uint32_t none = 123456;
    EXPECT_EQ(aLink_Destroy(&none), aErrParam);
    EXPECT_EQ(aLink_Destroy(nullptr), aErrParam);
    EXPECT_EQ(aLink_Start(123456), aErrParam);
    EXPECT_EQ(aLink_Sync(123456), aErrParam);
    EXPECT_EQ(aLink_Reset(123456), aErrParam);
    EXPECT_EQ(aLink_ForceRoute(123456, 1), aErrNotFound);
    EXPECT_EQ(aLink_DrainPackets(123456, drainAll, nullptr), 0u);
    EXPECT_EQ(aLink_Create(nullptr), 0u);
}

} // namespace
