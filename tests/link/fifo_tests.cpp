#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "packetfifo.h"

namespace {

aPacket* sMake(uint8_t tag) {
    uint8_t data[2] = {tag, 0};
    return aPacket_CreateWithData(2, 2, data);
}

aErr sPut(uint64_t fifo, uint8_t tag) {
    aPacket* packet = sMake(tag);
    aErr result = aPacketFifo_Put(fifo, packet);
    aPacket_Destroy(&packet); // the FIFO keeps its own copy
    return result;
}

uint8_t sTakeTag(aPacket* packet) {
    EXPECT_NE(packet, nullptr);
    if (!packet) return 0xFF;
    uint8_t tag = packet->data[0];
    aPacket_Destroy(&packet);
    return tag;
}

bool sTagFilter(const aPacket* packet, void* ref) {
    return packet->data[0] == *(uint8_t*)ref;
}

struct Counting {
    std::atomic<int> calls{0};
    uint8_t wanted = 0;
};
bool sCountingFilter(const aPacket* packet, void* ref) {
    Counting* counting = (Counting*)ref;
    counting->calls++;
    return packet->data[0] == counting->wanted;
}
bool sAll(const aPacket*, void*) {
    return true;
}
bool sNone(const aPacket*, void*) {
    return false;
}

class Fifo : public ::testing::Test {
  protected:
    void SetUp() override { fifo = aPacketFifo_Create(); }
    void TearDown() override {
        if (fifo) aPacketFifo_Destroy(&fifo);
    }
    uint64_t fifo = 0;
};

TEST(FifoRegistry, FirstIdentifierIsOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(exit(aPacketFifo_Create() == 1 ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

TEST_F(Fifo, OrderLengthAndCopies) {
    ASSERT_NE(fifo, 0u);
    for (uint8_t i = 1; i <= 3; i++)
        EXPECT_EQ(sPut(fifo, i), aErrNone);
    EXPECT_EQ(aPacketFifo_GetLength(fifo), 3u);
    EXPECT_EQ(sTakeTag(aPacketFifo_Get(fifo)), 1);
    uint8_t wanted = 3;
    EXPECT_EQ(sTakeTag(aPacketFifo_GetFirst(fifo, sTagFilter, &wanted)), 3);
    EXPECT_EQ(sTakeTag(aPacketFifo_Await(fifo, 0)), 2);
    EXPECT_EQ(aPacketFifo_Get(fifo), nullptr);
    EXPECT_EQ(aPacketFifo_Await(fifo, 0), nullptr);

    EXPECT_EQ(aPacketFifo_Put(fifo, nullptr), aErrParam);
    EXPECT_EQ(aPacketFifo_Put(fifo + 1000, nullptr), aErrParam);
    EXPECT_EQ(aPacketFifo_GetLength(0), 0u);
    uint64_t none = 987654;
    EXPECT_EQ(aPacketFifo_Destroy(&none), aErrNotFound);
    EXPECT_EQ(aPacketFifo_Destroy(nullptr), aErrParam);
}

TEST_F(Fifo, OverflowEmptiesTheQueue) {
    for (int i = 0; i < aPACKETFIFO_CAPACITY; i++)
        ASSERT_EQ(sPut(fifo, 1), aErrNone);
    EXPECT_EQ(aPacketFifo_GetLength(fifo), 1000u);
    EXPECT_EQ(sPut(fifo, 1), aErrNone);
    EXPECT_EQ(aPacketFifo_GetLength(fifo), 0u);
    // Still usable, and a waiter searching from the new window finds new packets.
    sPut(fifo, 7);
    uint8_t wanted = 7;
    EXPECT_EQ(sTakeTag(aPacketFifo_AwaitFirst(fifo, sTagFilter, &wanted, 0)), 7);
}

TEST_F(Fifo, DrainByFilter) {
    for (uint8_t i = 0; i < 6; i++)
        sPut(fifo, i % 2);
    uint8_t odd = 1;
    EXPECT_EQ(aPacketFifo_DrainPackets(fifo, sTagFilter, &odd), 3u);
    EXPECT_EQ(aPacketFifo_DrainPackets(fifo, sNone, nullptr), 0u);
    EXPECT_EQ(aPacketFifo_DrainPackets(fifo, sAll, nullptr), 3u);
    EXPECT_EQ(aPacketFifo_GetLength(fifo), 0u);
}

TEST_F(Fifo, AwaitFirstSeesLatePacketsAndOffersEachOnce) {
    Counting counting;
    counting.wanted = 9;
    sPut(fifo, 1);
    sPut(fifo, 2);
    std::thread producer([this] {
        for (uint8_t tag = 3; tag < 8; tag++) {
            sPut(fifo, tag);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        sPut(fifo, 9);
    });
    aPacket* found = aPacketFifo_AwaitFirst(fifo, sCountingFilter, &counting, 5000);
    producer.join();
    EXPECT_EQ(sTakeTag(found), 9);
    EXPECT_EQ(counting.calls.load(), 8) << "each packet offered exactly once";
    EXPECT_EQ(aPacketFifo_GetLength(fifo), 7u);
}

TEST_F(Fifo, AwaitTimesOutEmpty) {
    uint8_t wanted = 5;
    sPut(fifo, 1);
    EXPECT_EQ(aPacketFifo_AwaitFirst(fifo, sTagFilter, &wanted, 20), nullptr);
    EXPECT_EQ(aPacketFifo_GetLength(fifo), 1u);
}

TEST_F(Fifo, DestroyWakesWaiters) {
    std::atomic<int> returned{0};
    std::thread plain([&] {
        EXPECT_EQ(aPacketFifo_Await(fifo, 60000), nullptr);
        returned++;
    });
    std::thread filtered([&] {
        uint8_t wanted = 1;
        EXPECT_EQ(aPacketFifo_AwaitFirst(fifo, sTagFilter, &wanted, 60000), nullptr);
        returned++;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    uint64_t id = fifo;
    EXPECT_EQ(aPacketFifo_Destroy(&fifo), aErrNone);
    EXPECT_EQ(fifo, 0u);
    plain.join(); // a missed wake-up would hang here for a minute
    filtered.join();
    EXPECT_EQ(returned.load(), 2);
    EXPECT_EQ(sPut(id, 1), aErrParam);
}

TEST_F(Fifo, ManyThreadsPutAndTake) {
    const int perThread = 300;
    std::atomic<int> taken{0};
    std::thread producers[2], consumers[2];
    for (auto& p : producers)
        p = std::thread([&] {
            for (int i = 0; i < perThread; i++)
                sPut(fifo, 1);
        });
    for (auto& c : consumers)
        c = std::thread([&] {
            while (taken < 2 * perThread) {
                aPacket* packet = aPacketFifo_Await(fifo, 10);
                if (packet) {
                    taken++;
                    aPacket_Destroy(&packet);
                }
            }
        });
    for (auto& p : producers)
        p.join();
    for (auto& c : consumers)
        c.join();
    EXPECT_EQ(taken.load(), 2 * perThread);
}

} // namespace
