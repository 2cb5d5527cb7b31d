#include <gtest/gtest.h>

#include <vector>

#include "aPacket.h"

namespace {

struct Fed {
    std::vector<aErr> results;
    aPacket* packet;
};

Fed sFeed(std::initializer_list<uint8_t> bytes) {
    Fed fed{{}, aPacket_Create()};
    for (uint8_t b : bytes)
        fed.results.push_back(aPacket_AddByte(fed.packet, b));
    return fed;
}

TEST(Packet, AssemblesFromBytesAndClassifies) {
    Fed fed = sFeed({0x04, 0x03, 0x03, 0x47, 0x05});
    for (aErr e : fed.results)
        EXPECT_EQ(e, aErrNone);
    ASSERT_TRUE(aPacket_IsComplete(fed.packet));
    EXPECT_EQ(fed.packet->address, 4);
    ASSERT_EQ(fed.packet->dataSize, 3);
    uint8_t cmd = 0, option = 0, index = 0;
    EXPECT_EQ(aPacket_GetCmd(fed.packet, &cmd), aErrNone);
    EXPECT_EQ(aPacket_GetOption(fed.packet, &option), aErrNone);
    EXPECT_EQ(aPacket_GetIndex(fed.packet, &index), aErrNone);
    EXPECT_EQ(cmd, 3);
    EXPECT_EQ(option, 7);
    EXPECT_EQ(index, 5);
    aPacket_Destroy(&fed.packet);
    EXPECT_EQ(fed.packet, nullptr);
}

TEST(Packet, AssemblyErrors) {
    struct Case {
        std::initializer_list<uint8_t> bytes;
        aErr last;
        bool complete;
    };
    const Case cases[] = {
        {{0x05}, aErrPacket, false},     // odd address
        {{0x00}, aErrPacket, false},     // no address
        {{0x02, 29}, aErrPacket, false}, // size above 28
        {{0x02, 0x00}, aErrNone, true},  // empty packet after two bytes
        {{0x02, 0x01, 0x09}, aErrNone, true},
        {{0x02, 0x01, 0x09, 0x01}, aErrPacket, false}, // byte past the end
    };
    for (const Case& c : cases) {
        Fed fed = sFeed(c.bytes);
        EXPECT_EQ(fed.results.back(), c.last);
        EXPECT_EQ(aPacket_IsComplete(fed.packet), c.complete);
        aPacket_Destroy(&fed.packet);
    }
}

TEST(Packet, LargestPacketAndOverrun) {
    aPacket* packet = aPacket_Create();
    EXPECT_EQ(aPacket_AddByte(packet, 2), aErrNone);
    EXPECT_EQ(aPacket_AddByte(packet, 28), aErrNone);
    for (int i = 0; i < 28; i++) {
        EXPECT_FALSE(aPacket_IsComplete(packet));
        EXPECT_EQ(aPacket_AddByte(packet, (uint8_t)i), aErrNone);
    }
    EXPECT_TRUE(aPacket_IsComplete(packet));
    EXPECT_EQ(packet->data[27], 27);
    EXPECT_EQ(aPacket_AddByte(packet, 0), aErrOverrun);
    // After a refused size a caller that never resets gets no complete packet,
    // and the bytes it feeds never land outside the record.
    aPacket_Reset(packet);
    aPacket_AddByte(packet, 2);
    EXPECT_EQ(aPacket_AddByte(packet, 200), aErrPacket);
    for (int i = 0; i < 300; i++) {
        aErr result = aPacket_AddByte(packet, 1);
        EXPECT_FALSE(aPacket_IsComplete(packet));
        if (i >= 28) {
            EXPECT_EQ(result, aErrOverrun);
        }
    }
    EXPECT_EQ(aPacket_Copy(packet), nullptr);
    EXPECT_FALSE(aPacket_IsComplete(packet));
    aPacket_Destroy(&packet);
}

TEST(Packet, CreateCopyAndAccessors) {
    uint8_t data[29] = {3, 0x47, 5};
    EXPECT_EQ(aPacket_CreateWithData(2, 29, data), nullptr);
    EXPECT_EQ(aPacket_CreateWithData(2, 0, nullptr), nullptr);
    aPacket* empty = aPacket_CreateWithData(2, 0, data);
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(aPacket_IsComplete(empty));

    aPacket* one = aPacket_CreateWithData(2, 1, data);
    uint8_t out = 0;
    EXPECT_EQ(aPacket_GetCmd(one, &out), aErrNone);
    EXPECT_EQ(aPacket_GetOption(one, &out), aErrPacket);
    EXPECT_EQ(aPacket_GetOption(one, nullptr), aErrParam);
    EXPECT_EQ(aPacket_GetIndex(nullptr, &out), aErrPacket);

    aPacket* copy = aPacket_Copy(one);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, one);
    EXPECT_EQ(copy->address, 2);
    EXPECT_EQ(copy->dataSize, 1);
    EXPECT_EQ(copy->data[0], 3);
    EXPECT_EQ(copy->data[1], 0) << "bytes past the size are zero";

    uint8_t wire[aPACKET_MAXWIRE];
    EXPECT_EQ(aPacket_ToWire(one, wire, sizeof wire), 3u);
    EXPECT_EQ(wire[0], 2);
    EXPECT_EQ(wire[1], 1);
    EXPECT_EQ(wire[2], 3);
    EXPECT_EQ(aPacket_ToWire(one, wire, 2), 0u);

    aPacket* nullPacket = nullptr;
    EXPECT_EQ(aPacket_Destroy(&nullPacket), aErrParam);
    EXPECT_EQ(aPacket_Destroy(nullptr), aErrParam);
    EXPECT_EQ(aPacket_Reset(nullptr), aErrParam);
    aPacket_Destroy(&empty);
    aPacket_Destroy(&one);
    aPacket_Destroy(&copy);
}

} // namespace
