#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "aUEI.h"

namespace {

std::vector<uint8_t> sData(const aPacket* packet) {
    return std::vector<uint8_t>(packet->data, packet->data + packet->dataSize);
}

aPacket* sMake(uint8_t address, std::vector<uint8_t> data) {
    return aPacket_CreateWithData(address, (uint8_t)data.size(), data.data());
}

TEST(UEI, ByteOrderHelpers) {
    uint8_t buffer[4];
    aUEI_StoreShort(buffer, 0x1234);
    EXPECT_EQ(buffer[0], 0x12);
    EXPECT_EQ(aUEI_RetrieveShort(buffer), 0x1234);
    aUEI_StoreInt(buffer, 0xA1B2C3D4);
    EXPECT_EQ(buffer[0], 0xA1);
    EXPECT_EQ(buffer[3], 0xD4);
    EXPECT_EQ(aUEI_RetrieveInt(buffer), 0xA1B2C3D4u);
    uint32_t words[2];
    const uint8_t raw[8] = {0, 0, 1, 2, 0xFF, 0, 0, 1};
    memcpy(words, raw, 8);
    aUEI_ModifyIntBuffer(words, 2);
    EXPECT_EQ(words[0], 0x102u);
    EXPECT_EQ(words[1], 0xFF000001u);
}

TEST(UEI, RequestLayouts) {
    struct Case {
        int32_t type;
        uint32_t value;
        bool subindex;
        std::vector<uint8_t> data;
    };
    const Case cases[] = {
        {ueiVoid, 0, false, {3, 0x49, 0x21}},
        {ueiByte, 0x7E, false, {3, 0x49, 0x21, 0x7E}},
        {ueiShort, 0x1234, false, {3, 0x49, 0x21, 0x12, 0x34}},
        {ueiInt, 0x01020304, false, {3, 0x49, 0x21, 1, 2, 3, 4}},
        {ueiVoid, 0, true, {3, 0x49, 0x21, 9}},
        {ueiByte, 0x7E, true, {3, 0x49, 0x21, 9, 0x7E}},
        {ueiShort, 0x1234, true, {3, 0x49, 0x21, 9, 0x12, 0x34}},
        {ueiInt, 0x01020304, true, {3, 0x49, 0x21, 9, 1, 2, 3, 4}},
    };
    for (const Case& c : cases) {
        uei request{};
        request.module = 6;
        request.command = cmdSYSTEM;
        request.option = 0x40 | 9;
        request.specifier = 0x20 | 1;
        request.type = c.type;
        request.value.intVal = 0;
        if (c.type == ueiByte) request.value.byteVal = (uint8_t)c.value;
        if (c.type == ueiShort) request.value.shortVal = (uint16_t)c.value;
        if (c.type == ueiInt) request.value.intVal = c.value;
        aPacket* packet =
            c.subindex ? aUEI_CreateRequestWithSubindex(&request, 9) : aUEI_CreateRequest(&request);
        ASSERT_NE(packet, nullptr);
        EXPECT_EQ(packet->address, 6);
        EXPECT_EQ(sData(packet), c.data) << "type " << c.type << " subindex " << c.subindex;
        aPacket_Destroy(&packet);
    }
    uei bytes{};
    bytes.type = ueiBytes;
    EXPECT_EQ(aUEI_CreateRequest(&bytes), nullptr);
    bytes.type = 3;
    EXPECT_EQ(aUEI_CreateRequest(&bytes), nullptr);
}

TEST(UEI, ByteStringIsSequenced) {
    std::vector<uint8_t> value(49);
    for (size_t i = 0; i < value.size(); i++)
        value[i] = (uint8_t)i;
    uei request{};
    request.module = 2;
    request.command = cmdUPGRADE;
    request.option = 0x80 | 10;
    request.specifier = 0x20;
    request.type = ueiBytes;
    request.value.bytes.data = value.data();
    request.value.bytes.length = value.size();
    ASSERT_EQ(aUEI_BytesPacketCount(49), 3u);
    const uint8_t sequences[] = {0x80, 0x81, 0x02};
    const uint8_t chunks[] = {24, 24, 1};
    std::vector<uint8_t> joined;
    for (size_t n = 0; n < 3; n++) {
        aPacket* packet = aUEI_CreateBytesPacket(&request, n);
        ASSERT_NE(packet, nullptr);
        EXPECT_EQ(packet->dataSize, chunks[n] + 4);
        EXPECT_EQ(aUEI_getBytesSequence(packet), sequences[n] & 0x7F);
        EXPECT_EQ(aUEI_getBytesContinue(packet), sequences[n] >> 7);
        EXPECT_EQ(packet->data[packet->dataSize - 1], sequences[n]);
        EXPECT_EQ(aUEI_getBytesFullPacket(packet), n < 2);
        joined.insert(joined.end(), packet->data + 3, packet->data + 3 + chunks[n]);
        aPacket_Destroy(&packet);
    }
    EXPECT_EQ(joined, value);
    EXPECT_EQ(aUEI_CreateBytesPacket(&request, 3), nullptr);

    // Sequence numbers keep to 7 bits.
    std::vector<uint8_t> big(24 * 130);
    request.value.bytes.data = big.data();
    request.value.bytes.length = big.size();
    aPacket* wrapped = aUEI_CreateBytesPacket(&request, 128);
    EXPECT_EQ(wrapped->data[27], 0x80);
    aPacket_Destroy(&wrapped);

    request.value.bytes.length = 0;
    request.value.bytes.data = nullptr;
    aPacket* empty = aUEI_CreateBytesPacket(&request, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(sData(empty), (std::vector<uint8_t>{cmdUPGRADE, 0x8A, 0x20, 0x00}));
    aPacket_Destroy(&empty);
}

TEST(UEI, Classification) {
    const uint8_t nonUEI[] = {0, 1, 2, 4, 8, 9, 23, 24, 73, 94, 95, 173, 175};
    for (int cmd = 0; cmd < 256; cmd++) {
        aPacket* packet = sMake(2, {(uint8_t)cmd, 1, 1});
        bool expectNot = std::find(std::begin(nonUEI), std::end(nonUEI), cmd) != std::end(nonUEI);
        EXPECT_EQ(aUEI_isNotUEIPayload(packet), expectNot) << cmd;
        EXPECT_EQ(aUEI_isUEIPayload(packet), !expectNot) << cmd;
        aPacket_Destroy(&packet);
    }
    EXPECT_FALSE(aUEI_isNotUEIPayload(nullptr));
    EXPECT_FALSE(aUEI_isUEIPayload(nullptr));
    EXPECT_EQ(aUEI_getBytesSequence(nullptr), 0);
    aPacket* empty = sMake(2, {});
    EXPECT_EQ(aUEI_getBytesContinue(empty), 0);
    aPacket_Destroy(&empty);

    struct Case {
        std::vector<uint8_t> data;
        bool stream;
    };
    const Case cases[] = {
        {{cmdSTREAM, 0x05, 0x41, 1, 0}, true},   {{cmdSYSTEM, 0x05, 0x40, 1, 2, 3, 4, 0}, true},
        {{cmdSYSTEM, 0x05, 0x40, 1}, false},     // too short
        {{cmdSYSTEM, 0x45, 0x40, 1, 0}, false},  // get flag
        {{cmdSYSTEM, 0x05, 0x01, 1, 0}, false},  // no stream bit
        {{cmdUPGRADE, 0x05, 0x40, 1, 0}, false}, // not UEI
    };
    for (const Case& c : cases) {
        aPacket* packet = sMake(2, c.data);
        EXPECT_EQ(aUEI_isStreamPacket(packet), c.stream);
        aPacket_Destroy(&packet);
    }
}

uei sKey(uint8_t option, uint8_t index) {
    uei key{};
    key.module = 4;
    key.command = cmdSYSTEM;
    key.option = option;
    key.specifier = index;
    key.type = ueiVoid;
    return key;
}

TEST(UEI, ReplyFilterDecodes) {
    struct Case {
        std::vector<uint8_t> data;
        bool match;
        int32_t type;
        uint32_t value;
    };
    const Case cases[] = {
        {{3, 0x07, 0x01}, true, ueiVoid, 0},
        {{3, 0x07, 0x01, 0xAB}, true, ueiByte, 0xAB},
        {{3, 0x07, 0x01, 0x12, 0x34}, true, ueiShort, 0x1234},
        {{3, 0x07, 0x01, 1, 2, 3, 4}, true, ueiInt, 0x01020304},
        {{3, 0x07, 0x01, 1, 2, 3, 4, 5}, true, ueiVoid, 0}, // other length: untouched
        {{3, 0x07, 0x02, 0xAB}, false, 0, 0},               // other index
        {{3, 0xC7, 0x01, 0xAB}, false, 0, 0},               // set reply, not a get reply
        {{3, 0x07}, false, 0, 0},                           // too short
        {{9, 0x07, 0x01, 0xAB}, false, 0, 0},               // other command
        {{3, 0x07, 0x41, 1, 2, 3, 4, 0}, false, 0, 0},      // stream value
    };
    for (const Case& c : cases) {
        uei key = sKey(0x07, 1);
        aPacket* packet = sMake(4, c.data);
        EXPECT_EQ(aUEI_ReplyFilter(packet, &key), c.match);
        if (c.match) {
            EXPECT_EQ(key.type, c.type);
            if (c.type == ueiByte) {
                EXPECT_EQ(key.value.byteVal, c.value);
            } else if (c.type == ueiShort) {
                EXPECT_EQ(key.value.shortVal, c.value);
            } else if (c.type == ueiInt) {
                EXPECT_EQ(key.value.intVal, c.value);
            }
        }
        aPacket_Destroy(&packet);
    }
    uei key = sKey(0x07, 1);
    aPacket* otherModule = sMake(6, {3, 0x07, 0x01});
    EXPECT_FALSE(aUEI_ReplyFilter(otherModule, &key));
    aPacket_Destroy(&otherModule);
}

TEST(UEI, ErrorAndSetReplies) {
    aPacket* error = aUEI_CreateErrorReply(4, cmdSYSTEM, 0xC7, 1, aErrInvalidOption);
    EXPECT_EQ(sData(error), (std::vector<uint8_t>{3, 0xC7, 0x81, aErrInvalidOption}));
    uei key = sKey(0xC7, 1);
    ASSERT_TRUE(aUEI_ReplyFilter(error, &key));
    EXPECT_EQ(key.specifier, 0x81);
    EXPECT_EQ(key.value.error, aErrInvalidOption);
    aPacket_Destroy(&error);

    uei reply = sKey(0xC7, 1);
    reply.type = ueiShort;
    reply.value.shortVal = 0x0102;
    aPacket* packet = aUEI_CreateReply(&reply);
    EXPECT_EQ(sData(packet), (std::vector<uint8_t>{3, 0xC7, 1, 1, 2}));
    aPacket_Destroy(&packet);
}

TEST(UEI, ByteStringReceiver) {
    std::vector<uint8_t> value(30);
    for (size_t i = 0; i < value.size(); i++)
        value[i] = (uint8_t)(i + 1);
    uei sent = sKey(0x0A, 0);
    sent.type = ueiBytes;
    sent.value.bytes.data = value.data();
    sent.value.bytes.length = value.size();
    aPacket* first = aUEI_CreateBytesPacket(&sent, 0);
    aPacket* second = aUEI_CreateBytesPacket(&sent, 1);

    uint8_t buffer[40] = {};
    uint64_t count = 0;
    uei key = sKey(0x0A, 0);
    key.type = ueiBytes;
    key.value.receiver.writePtr = buffer;
    key.value.receiver.sequence = 0;
    key.value.receiver.capacity = sizeof buffer;
    key.value.receiver.count = &count;
    EXPECT_FALSE(aUEI_BytesReplyFilter(second, &key)) << "out of sequence";
    ASSERT_TRUE(aUEI_BytesReplyFilter(first, &key));
    EXPECT_EQ(key.value.receiver.continueFlag, 1);
    key.value.receiver.sequence = 1;
    ASSERT_TRUE(aUEI_BytesReplyFilter(second, &key));
    EXPECT_EQ(key.value.receiver.continueFlag, 0);
    EXPECT_EQ(count, 30u);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 30), value);

    // A chunk larger than the room left becomes an aErrMemory error, no overrun.
    uint8_t small[10] = {};
    uint64_t smallCount = 0;
    uei tight = sKey(0x0A, 0);
    tight.value.receiver.writePtr = small;
    tight.value.receiver.capacity = sizeof small;
    tight.value.receiver.count = &smallCount;
    ASSERT_TRUE(aUEI_BytesReplyFilter(first, &tight));
    EXPECT_TRUE(tight.specifier & 0x80);
    EXPECT_EQ(tight.value.error, aErrMemory);
    EXPECT_EQ(smallCount, 0u);
    aPacket_Destroy(&first);
    aPacket_Destroy(&second);
}

} // namespace
