#include "aPacket.h"

#include <cstdlib>
#include <cstring>

aPacket* aPacket_Create() {
    aPacket* packet = (aPacket*)calloc(1, sizeof(aPacket));
    if (packet) packet->magic = aPACKET_MAGIC;
    return packet;
}

aPacket* aPacket_CreateWithData(uint8_t address, uint8_t length, const uint8_t* data) {
    if (!data || length > aPACKET_MAXDATA) return nullptr;
    aPacket* packet = aPacket_Create();
    if (!packet) return nullptr;
    packet->address = address;
    packet->dataSize = length;
    memcpy(packet->data, data, length);
    packet->received = (uint8_t)(length + 2);
    return packet;
}

aPacket* aPacket_Copy(const aPacket* packet) {
    // A size above 28 can only come from a damaged record; never copy past data.
    if (!aVALIDPACKET(packet) || packet->dataSize > aPACKET_MAXDATA) return nullptr;
    return aPacket_CreateWithData(packet->address, packet->dataSize, packet->data);
}

aErr aPacket_Destroy(aPacket** packet) {
    if (!packet || !*packet) return aErrParam;
    (*packet)->magic = 0;
    free(*packet);
    *packet = nullptr;
    return aErrNone;
}

static aErr sGetDataByte(const aPacket* packet, uint8_t* out, uint8_t position, uint8_t mask) {
    if (!out) return aErrParam;
    if (!aVALIDPACKET(packet) || packet->dataSize <= position) return aErrPacket;
    *out = packet->data[position] & mask;
    return aErrNone;
}

aErr aPacket_GetCmd(const aPacket* packet, uint8_t* out) {
    return sGetDataByte(packet, out, 0, 0xFF);
}

aErr aPacket_GetOption(const aPacket* packet, uint8_t* out) {
    return sGetDataByte(packet, out, 1, 0x3F);
}

aErr aPacket_GetIndex(const aPacket* packet, uint8_t* out) {
    return sGetDataByte(packet, out, 2, 0x1F);
}

aErr aPacket_Reset(aPacket* packet) {
    if (!aVALIDPACKET(packet)) return aErrParam;
    packet->received = 0;
    packet->address = 0;
    packet->dataSize = 0;
    memset(packet->data, 0, sizeof(packet->data));
    return aErrNone;
}

aErr aPacket_AddByte(aPacket* packet, uint8_t byte) {
    if (!aVALIDPACKET(packet)) return aErrParam;
    // Saturate so a caller that never resets cannot wrap the counter back into range.
    if (packet->received < 0xFF) packet->received++;
    if (packet->received > aPACKET_MAXWIRE) return aErrOverrun;
    if (packet->address == 0) {
        if (byte == 0 || (byte & 1)) return aErrPacket;
        packet->address = byte;
        return aErrNone;
    }
    if (packet->dataSize == 0) {
        // A bad size stays stored so the record never looks complete; the
        // received cap keeps later bytes inside data.
        packet->dataSize = byte;
        if (byte > aPACKET_MAXDATA) return aErrPacket;
        return aErrNone;
    }
    if (packet->received > packet->dataSize + 2) return aErrPacket;
    packet->data[packet->received - 3] = byte;
    return aErrNone;
}

bool aPacket_IsComplete(const aPacket* packet) {
    return aVALIDPACKET(packet) && packet->dataSize <= aPACKET_MAXDATA &&
           packet->received == packet->dataSize + 2;
}

size_t aPacket_ToWire(const aPacket* packet, uint8_t* buffer, size_t size) {
    if (!aVALIDPACKET(packet) || !buffer || packet->dataSize > aPACKET_MAXDATA) return 0;
    size_t total = (size_t)packet->dataSize + 2;
    if (size < total) return 0;
    buffer[0] = packet->address;
    buffer[1] = packet->dataSize;
    memcpy(buffer + 2, packet->data, packet->dataSize);
    return total;
}
