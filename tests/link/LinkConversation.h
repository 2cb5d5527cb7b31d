// What every link to the simulated module must carry, whatever the transport:
// UEI gets, set acknowledgements, error replies, byte strings in sequenced
// packets both ways, and heartbeats that are answered and never queued.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ModuleModel.h"
#include "SimLinkHelpers.h"
#include "aLink.h"
#include "aUEI.h"

namespace linkconv {

const uint8_t kLed = 4;      // byte, get and set
const uint8_t kModel = 8;    // byte, get only
const uint8_t kSerial = 9;   // int, get only
const uint8_t kName = 32;    // byte string, get and set
const uint8_t kMissing = 63; // no such option

inline uei sRequest(uint8_t module, uint8_t option, uint8_t index = 0) {
    uei request{};
    request.module = module;
    request.command = cmdSYSTEM;
    request.option = option;
    request.specifier = aUEI_REQUEST | index;
    request.type = ueiVoid;
    return request;
}

inline aErr sPut(uint32_t id, aPacket* packet) {
    if (!packet) return aErrMemory;
    aErr result = aLink_PutPacket(id, packet);
    aPacket_Destroy(&packet);
    return result;
}

// Waits for the reply the key describes; its error code for an error reply.
inline aErr sAwait(uint32_t id, uei* key, aPacketFilter filter = aUEI_ReplyFilter) {
    aPacket* reply = aLink_AwaitFirst(id, filter, key, 1000);
    if (!reply) return aErrTimeout;
    aPacket_Destroy(&reply);
    return (key->specifier & aUEI_ERROR) ? (aErr)key->value.error : aErrNone;
}

inline uei sKey(uint8_t module, uint8_t option, uint8_t index = 0) {
    uei key{};
    key.module = module;
    key.command = cmdSYSTEM;
    key.option = option;
    key.specifier = index;
    return key;
}

// A get of any scalar option; the reply's type tells its size.
inline aErr sGet(uint32_t id, uint8_t module, uint8_t option, uei* reply, uint8_t index = 0) {
    uei request = sRequest(module, aUEI_GET | option, index);
    aErr result = sPut(id, aUEI_CreateRequest(&request));
    if (result != aErrNone) return result;
    *reply = sKey(module, option, index);
    return sAwait(id, reply);
}

// Sends a filled-in set request and waits for its acknowledgement.
inline aErr sSet(uint32_t id, const uei& request) {
    aErr result = sPut(id, aUEI_CreateRequest(&request));
    if (result != aErrNone) return result;
    uei key = sKey(request.module, uint8_t(aUEI_SET_REPLY | (request.option & 0x3F)));
    return sAwait(id, &key);
}

inline aErr sSetByte(uint32_t id, uint8_t module, uint8_t option, uint8_t value) {
    uei request = sRequest(module, aUEI_SET | option);
    request.type = ueiByte;
    request.value.byteVal = value;
    return sSet(id, request);
}

inline aErr sSetInt(uint32_t id, uint8_t module, uint8_t option, uint32_t value) {
    uei request = sRequest(module, aUEI_SET | option);
    request.type = ueiInt;
    request.value.intVal = value;
    return sSet(id, request);
}

inline aErr sSetBytes(uint32_t id, uint8_t module, uint8_t option, const std::string& text) {
    uei request = sRequest(module, aUEI_SET | option);
    request.type = ueiBytes;
    request.value.bytes.data = (const uint8_t*)text.data();
    request.value.bytes.length = text.size();
    for (size_t n = 0; n < aUEI_BytesPacketCount(text.size()); n++) {
        aErr result = sPut(id, aUEI_CreateBytesPacket(&request, n));
        if (result != aErrNone) return result;
    }
    uei key = sKey(module, aUEI_SET_REPLY | option);
    return sAwait(id, &key);
}

// Collects a byte string from its sequenced reply packets.
inline aErr sGetBytes(uint32_t id, uint8_t module, uint8_t option, std::string* text,
                      unsigned* packets) {
    uei request = sRequest(module, aUEI_GET | option);
    aErr result = sPut(id, aUEI_CreateRequest(&request));
    if (result != aErrNone) return result;
    std::vector<uint8_t> buffer(4096);
    uint64_t count = 0;
    uei key = sKey(module, option);
    key.value.receiver.writePtr = buffer.data();
    key.value.receiver.capacity = buffer.size();
    key.value.receiver.count = &count;
    *packets = 0;
    for (;;) {
        result = sAwait(id, &key, aUEI_BytesReplyFilter);
        if (result != aErrNone) return result;
        ++*packets;
        if (!key.value.receiver.continueFlag) break;
        key.value.receiver.sequence = (key.value.receiver.sequence + 1) & aUEI_BYTES_SEQMASK;
    }
    text->assign((const char*)buffer.data(), count);
    return aErrNone;
}

inline bool sIsHeartbeat(const aPacket* packet, void*) {
    return packet->dataSize > 0 && packet->data[0] == cmdHEARTBEAT;
}

// The whole conversation with the module at `module` over a running link.
inline void converse(uint32_t id, vzsim::ModuleModel& model, uint8_t module) {
    const vzsim::ModuleIdentity identity =
        model.locked([](vzsim::ModuleModel& m) { return m.primary()->identity(); });
    SCOPED_TRACE("link " + std::to_string(id));
    uei reply{};
    ASSERT_EQ(sGet(id, module, kSerial, &reply), aErrNone);
    EXPECT_EQ(reply.type, ueiInt);
    EXPECT_EQ(reply.value.intVal, identity.serial);
    ASSERT_EQ(sGet(id, module, kModel, &reply), aErrNone);
    EXPECT_EQ(reply.type, ueiByte);
    EXPECT_EQ(reply.value.byteVal, identity.model);

    // A set is acknowledged and reads back.
    EXPECT_EQ(sSetByte(id, module, kLed, 1), aErrNone);
    ASSERT_EQ(sGet(id, module, kLed, &reply), aErrNone);
    EXPECT_EQ(reply.value.byteVal, 1);

    // Error replies carry their code back.
    EXPECT_EQ(sGet(id, module, kMissing, &reply), aErrInvalidOption);
    EXPECT_EQ(sGet(id, module, kSerial, &reply, 1), aErrInvalidEntity);
    EXPECT_EQ(sSetInt(id, module, kSerial, 1), aErrMode) << "the serial number is read-only";

    // Byte strings both ways, three sequenced packets each.
    const std::string name = "A module with a name that takes three packets.....";
    EXPECT_EQ(sSetBytes(id, module, kName, name), aErrNone);
    std::string got;
    unsigned packets = 0;
    EXPECT_EQ(sGetBytes(id, module, kName, &got, &packets), aErrNone);
    EXPECT_EQ(got, name);
    EXPECT_EQ(packets, 3u);

    // Heartbeats, switched on while the link runs (the next request wakes the
    // module to plan them).
    unsigned before = model.stats().heartbeatReplies;
    model.setHeartbeatInterval(20);
    EXPECT_EQ(sGet(id, module, kSerial, &reply), aErrNone);
    EXPECT_TRUE(sEventually([&] { return model.stats().heartbeatReplies >= before + 4; }));
    model.setHeartbeatInterval(0);
    EXPECT_EQ(model.stats().heartbeatBadReplies, 0u);
    EXPECT_EQ(aLink_DrainPackets(id, sIsHeartbeat, nullptr), 0u) << "heartbeats never queue";
    EXPECT_EQ(aLink_GetStatus(id), aLINK_RUNNING);
}

} // namespace linkconv
