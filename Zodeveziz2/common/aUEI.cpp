#include "aUEI.h"

#include <cstring>

void aUEI_StoreShort(uint8_t* buffer, uint16_t value) {
    buffer[0] = (uint8_t)(value >> 8);
    buffer[1] = (uint8_t)value;
}

void aUEI_StoreInt(uint8_t* buffer, uint32_t value) {
    buffer[0] = (uint8_t)(value >> 24);
    buffer[1] = (uint8_t)(value >> 16);
    buffer[2] = (uint8_t)(value >> 8);
    buffer[3] = (uint8_t)value;
}

uint16_t aUEI_RetrieveShort(const uint8_t* buffer) {
    return (uint16_t)((buffer[0] << 8) | buffer[1]);
}

uint32_t aUEI_RetrieveInt(const uint8_t* buffer) {
    return ((uint32_t)buffer[0] << 24) | ((uint32_t)buffer[1] << 16) | ((uint32_t)buffer[2] << 8) |
           (uint32_t)buffer[3];
}

void aUEI_ModifyIntBuffer(uint32_t* words, size_t count) {
    if (!words) return;
    for (size_t i = 0; i < count; i++) {
        uint8_t raw[4];
        memcpy(raw, &words[i], 4);
        words[i] = aUEI_RetrieveInt(raw);
    }
}

// The sequence byte is the last data byte; an empty packet has none.
static uint8_t sLastByte(const aPacket* packet) {
    if (!aVALIDPACKET(packet) || packet->dataSize == 0 || packet->dataSize > aPACKET_MAXDATA)
        return 0;
    return packet->data[packet->dataSize - 1];
}

uint8_t aUEI_getBytesSequence(const aPacket* packet) {
    return sLastByte(packet) & aUEI_BYTES_SEQMASK;
}

uint8_t aUEI_getBytesContinue(const aPacket* packet) {
    return (sLastByte(packet) & aUEI_BYTES_CONTINUE) ? 1 : 0;
}

bool aUEI_getBytesFullPacket(const aPacket* packet) {
    return aVALIDPACKET(packet) && (packet->dataSize == 27 || packet->dataSize == 28);
}

bool aUEI_isNotUEIPayload(const aPacket* packet) {
    if (!aVALIDPACKET(packet)) return false;
    switch (packet->data[0]) {
    case 0:
    case 1:
    case 2:
    case 4:
    case 8:
    case 9:
    case 23:
    case 24:
    case 73:
    case 94:
    case 95:
    case 173:
    case 175:
        return true;
    default:
        return false;
    }
}

bool aUEI_isUEIPayload(const aPacket* packet) {
    // A missing or empty packet carries no command, so it is no UEI payload either.
    if (!aVALIDPACKET(packet) || packet->dataSize == 0) return false;
    return !aUEI_isNotUEIPayload(packet);
}

bool aUEI_isStreamPacket(const aPacket* packet) {
    return aUEI_isUEIPayload(packet) && packet->dataSize > 4 && (packet->data[1] & 0xC0) == 0 &&
           (packet->data[2] & aUEI_STREAM) != 0;
}

// Value bytes of a scalar type; -1 for a type that is not scalar.
static int sValueLength(int32_t type) {
    switch (type) {
    case ueiVoid:
        return 0;
    case ueiByte:
        return 1;
    case ueiShort:
        return 2;
    case ueiInt:
        return 4;
    default:
        return -1;
    }
}

static void sStoreValue(const uei* record, uint8_t* at) {
    switch (record->type) {
    case ueiByte:
        at[0] = record->value.byteVal;
        break;
    case ueiShort:
        aUEI_StoreShort(at, record->value.shortVal);
        break;
    case ueiInt:
        aUEI_StoreInt(at, record->value.intVal);
        break;
    default:
        break;
    }
}

static aPacket* sCreateScalar(const uei* record, uint8_t specifier, const uint8_t* subindex) {
    if (!record) return nullptr;
    int length = sValueLength(record->type);
    if (length < 0) return nullptr;
    uint8_t data[aPACKET_MAXDATA] = {record->command, record->option, specifier};
    uint8_t size = 3;
    if (subindex) data[size++] = *subindex;
    sStoreValue(record, data + size);
    size = (uint8_t)(size + length);
    return aPacket_CreateWithData(record->module, size, data);
}

aPacket* aUEI_CreateRequest(const uei* request) {
    return request ? sCreateScalar(request, request->specifier, nullptr) : nullptr;
}

aPacket* aUEI_CreateRequestWithSubindex(const uei* request, uint8_t subindex) {
    return request ? sCreateScalar(request, request->specifier, &subindex) : nullptr;
}

aPacket* aUEI_CreateReply(const uei* reply) {
    return aUEI_CreateRequest(reply);
}

aPacket* aUEI_CreateErrorReply(uint8_t module, uint8_t command, uint8_t option, uint8_t index,
                               aErr code) {
    uint8_t data[4] = {command, option, (uint8_t)(aUEI_ERROR | (index & aUEI_INDEX_MASK)),
                       (uint8_t)code};
    return aPacket_CreateWithData(module, 4, data);
}

size_t aUEI_BytesPacketCount(uint64_t length) {
    if (length == 0) return 1;
    return (size_t)((length + aUEI_BYTES_CHUNK - 1) / aUEI_BYTES_CHUNK);
}

aPacket* aUEI_CreateBytesPacket(const uei* request, size_t n) {
    if (!request || request->type != ueiBytes) return nullptr;
    uint64_t length = request->value.bytes.length;
    size_t count = aUEI_BytesPacketCount(length);
    if (n >= count || (length > 0 && !request->value.bytes.data)) return nullptr;
    uint64_t offset = (uint64_t)n * aUEI_BYTES_CHUNK;
    size_t chunk = length == 0 ? 0
                               : (size_t)(length - offset < aUEI_BYTES_CHUNK ? length - offset
                                                                             : aUEI_BYTES_CHUNK);
    uint8_t data[aPACKET_MAXDATA] = {request->command, request->option, request->specifier};
    if (chunk) memcpy(data + 3, request->value.bytes.data + offset, chunk);
    uint8_t sequence = (uint8_t)(n & aUEI_BYTES_SEQMASK);
    if (n + 1 < count) sequence |= aUEI_BYTES_CONTINUE;
    data[3 + chunk] = sequence;
    return aPacket_CreateWithData(request->module, (uint8_t)(chunk + 4), data);
}

// Common part of both reply filters. Stream values (index bit 6) are unsolicited
// and never count as replies.
static bool sMatchesKey(const aPacket* packet, const uei* key) {
    if (!aVALIDPACKET(packet) || !key || packet->dataSize < 3 || packet->dataSize > aPACKET_MAXDATA)
        return false;
    uint8_t index = packet->data[2];
    if ((index & (aUEI_STREAM | aUEI_ERROR)) == aUEI_STREAM) return false;
    return packet->address == key->module && packet->data[0] == key->command &&
           packet->data[1] == key->option && (index & aUEI_INDEX_MASK) == key->specifier;
}

static bool sTakeError(const aPacket* packet, uei* key) {
    if (!(packet->data[2] & aUEI_ERROR)) return false;
    key->specifier = packet->data[2];
    // An error reply without its code byte is still an error.
    key->value.error = packet->dataSize >= 4 ? packet->data[3] : (uint8_t)aErrUnknown;
    return true;
}

bool aUEI_ReplyFilter(const aPacket* packet, void* ref) {
    uei* key = (uei*)ref;
    if (!sMatchesKey(packet, key)) return false;
    if (sTakeError(packet, key)) return true;
    const uint8_t* value = packet->data + 3;
    switch (packet->dataSize) {
    case 3:
        key->type = ueiVoid;
        break;
    case 4:
        key->type = ueiByte;
        key->value.byteVal = value[0];
        break;
    case 5:
        key->type = ueiShort;
        key->value.shortVal = aUEI_RetrieveShort(value);
        break;
    case 7:
        key->type = ueiInt;
        key->value.intVal = aUEI_RetrieveInt(value);
        break;
    default:
        break;
    }
    return true;
}

bool aUEI_BytesReplyFilter(const aPacket* packet, void* ref) {
    uei* key = (uei*)ref;
    if (!sMatchesKey(packet, key)) return false;
    if (sTakeError(packet, key)) return true;
    if (packet->dataSize < 4) return false;
    uint8_t last = packet->data[packet->dataSize - 1];
    if ((last & aUEI_BYTES_SEQMASK) != key->value.receiver.sequence) return false;
    size_t chunk = (size_t)packet->dataSize - 4;
    if (chunk > key->value.receiver.capacity || (chunk && !key->value.receiver.writePtr)) {
        key->specifier = (uint8_t)(packet->data[2] | aUEI_ERROR);
        key->value.error = (uint8_t)aErrMemory;
        return true;
    }
    if (chunk) memcpy(key->value.receiver.writePtr, packet->data + 3, chunk);
    key->value.receiver.writePtr += chunk;
    key->value.receiver.capacity -= chunk;
    if (key->value.receiver.count) *key->value.receiver.count += chunk;
    key->value.receiver.continueFlag = (last & aUEI_BYTES_CONTINUE) ? 1 : 0;
    return true;
}
