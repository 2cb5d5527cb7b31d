// UEI requests and replies, raw command packets and the module address query.
#include <cstring>

#include "LinkImpl.h"

namespace Vazizori {
namespace Vuviridor {

namespace {

struct PacketMatch {
    const uint8_t* bytes;
    size_t length;
};

bool sLeadingBytesFilter(const aPacket* packet, void* ref) {
    const PacketMatch* match = static_cast<const PacketMatch*>(ref);
    return packet->dataSize >= match->length &&
           memcmp(packet->data, match->bytes, match->length) == 0;
}

bool sEmptyPacketFilter(const aPacket* packet, void*) {
    return packet->dataSize == 0;
}

// The reply filter's match without decoding, so one key serves a whole drain.
bool sUEIMatchFilter(const aPacket* packet, void* ref) {
    const uei* key = static_cast<const uei*>(ref);
    return packet->address == key->module && packet->dataSize >= 3 &&
           packet->data[0] == key->command && packet->data[1] == key->option &&
           (packet->data[2] & aUEI_INDEX_MASK) == key->specifier;
}

uint32_t sReplyWait(const uei* reply) {
    if (reply->type == ueiBytes && reply->value.bytes.length > LINK_LARGE_BYTES)
        return LINK_LARGE_REPLY_WAIT_MS;
    return LINK_REPLY_WAIT_MS;
}

} // namespace

aErr Link::getModuleAddress(uint8_t* address) {
    if (address == nullptr) return aErrParam;
    *address = 0;
    if (!isConnected()) return aErrNotReady;
    uint8_t none = 0;
    aErr error = state->put(aPacket_CreateWithData(aPACKET_MAGIC_ADDRESS, 0, &none));
    if (error != aErrNone) return aErrNotReady;
    aPacket* reply =
        aLink_AwaitFirst(state->linkId, sEmptyPacketFilter, nullptr, LINK_REPLY_WAIT_MS);
    if (reply == nullptr) return aErrNotReady;
    *address = reply->address;
    aPacket_Destroy(&reply);
    return aErrNone;
}

aErr Link::sendUEI(const uei& request) {
    aErr error = state->checkExchange(request.module);
    if (error != aErrNone) return error;
    if (request.type != ueiBytes) return state->put(aUEI_CreateRequest(&request));
    size_t count = aUEI_BytesPacketCount(request.value.bytes.length);
    for (size_t n = 0; n < count && error == aErrNone; ++n)
        error = state->put(aUEI_CreateBytesPacket(&request, n));
    return error;
}

aErr Link::sendUEI(const uei& request, uint8_t subindex) {
    aErr error = state->checkExchange(request.module);
    if (error != aErrNone) return error;
    return state->put(aUEI_CreateRequestWithSubindex(&request, subindex));
}

aErr Link::receiveUEI(uint8_t module, uint8_t command, uint8_t option, uint8_t index, uei* reply) {
    return receiveUEI(module, command, option, index, reply, aUEI_ReplyFilter);
}

aErr Link::receiveUEI(uint8_t module, uint8_t, uint8_t, uint8_t, uei* reply, PacketFilter filter) {
    aErr error = state->checkExchange(module);
    if (error != aErrNone) return error;
    if (reply == nullptr || filter == nullptr) return aErrParam;
    aPacket* packet = aLink_AwaitFirst(state->linkId, filter, reply, sReplyWait(reply));
    if (packet == nullptr) return aErrTimeout;
    aPacket_Destroy(&packet);
    return aErrNone;
}

aErr Link::dropMatchingUEIPackets(uint8_t module, uint8_t command, uint8_t option, uint8_t index) {
    if (state->linkId == 0) return aErrNone;
    uei key = {};
    key.module = module;
    key.command = command;
    key.option = option;
    key.specifier = index;
    aLink_DrainPackets(state->linkId, sUEIMatchFilter, &key);
    return aErrNone;
}

aErr Link::sendPacket(uint8_t module, uint8_t command, size_t length, const uint8_t* data) {
    if (!isConnected()) return aErrConnection;
    if (length >= aPACKET_MAXDATA) return aErrParam;
    if (module == 0 || (module & 1)) return aErrPacket;
    if (length > 0 && data == nullptr) return aErrParam;
    uint8_t bytes[aPACKET_MAXDATA];
    bytes[0] = command;
    if (length > 0) memcpy(bytes + 1, data, length);
    // A packet that never reached the queue is reported, not taken for sent.
    return state->put(aPacket_CreateWithData(module, static_cast<uint8_t>(length + 1), bytes));
}

aErr Link::receivePacket(uint8_t module, const uint8_t* match, size_t* length, uint8_t* buffer) {
    aErr error = state->checkExchange(module);
    if (error != aErrNone) return error;
    if (length == nullptr || buffer == nullptr || *length > aPACKET_MAXDATA ||
        (*length > 0 && match == nullptr))
        return aErrParam;
    PacketMatch key = {match, *length};
    aPacket* packet =
        aLink_AwaitFirst(state->linkId, sLeadingBytesFilter, &key, LINK_REPLY_WAIT_MS);
    if (packet == nullptr) return aErrTimeout;
    *length = packet->dataSize;
    memcpy(buffer, packet->data, packet->dataSize);
    aPacket_Destroy(&packet);
    return aErrNone;
}

} // namespace Vuviridor
} // namespace Vazizori
