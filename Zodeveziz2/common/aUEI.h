// UEI encoding: reading and writing entity values inside packets.
// Values travel most significant byte first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "aPacket.h"

typedef enum ueiType {
    ueiVoid = 0,
    ueiByte = 1,
    ueiShort = 2,
    ueiInt = 4,
    ueiBytes = 5,
} ueiType;

// Option byte flags (bits 0-5 hold the option code).
#define aUEI_OPTION_MASK 0x3F
#define aUEI_GET 0x40
#define aUEI_SET 0x80
#define aUEI_SET_REPLY 0xC0
// Index byte flags (bits 0-4 hold the entity index).
#define aUEI_INDEX_MASK 0x1F
#define aUEI_REQUEST 0x20
#define aUEI_STREAM 0x40
#define aUEI_ERROR 0x80

// Byte strings: chunks of up to 24 bytes followed by a sequence byte.
#define aUEI_BYTES_CHUNK 24
#define aUEI_BYTES_CONTINUE 0x80
#define aUEI_BYTES_SEQMASK 0x7F

typedef struct uei {
    uint8_t module;
    uint8_t command;
    uint8_t option;    // as on the wire: code and flags
    uint8_t specifier; // as on the wire; after a reply bit 7 tells an error reply
    union {
        uint8_t byteVal;
        uint16_t shortVal;
        uint32_t intVal;
        uint8_t error; // aErr code of an error reply, whatever the arrangement
        struct {
            const uint8_t* data;
            uint64_t length;
        } bytes; // ueiBytes on sending
        struct {
            uint8_t* writePtr;
            uint8_t sequence;     // expected sequence number
            uint8_t continueFlag; // of the last accepted packet
            uint64_t capacity;    // bytes still free at writePtr
            uint64_t* count;      // caller's running byte count
        } receiver;               // byte-string reassembly
    } value;
    int32_t type; // ueiType
} uei;

void aUEI_StoreShort(uint8_t* buffer, uint16_t value);
void aUEI_StoreInt(uint8_t* buffer, uint32_t value);
uint16_t aUEI_RetrieveShort(const uint8_t* buffer);
uint32_t aUEI_RetrieveInt(const uint8_t* buffer);
// Converts count words in place from wire order to host values.
void aUEI_ModifyIntBuffer(uint32_t* words, size_t count);

uint8_t aUEI_getBytesSequence(const aPacket* packet);
uint8_t aUEI_getBytesContinue(const aPacket* packet); // 1 or 0
bool aUEI_getBytesFullPacket(const aPacket* packet);

bool aUEI_isNotUEIPayload(const aPacket* packet);
bool aUEI_isUEIPayload(const aPacket* packet);
bool aUEI_isStreamPacket(const aPacket* packet);

// Request packet for a scalar record (ueiVoid, ueiByte, ueiShort, ueiInt); null
// for another type.
aPacket* aUEI_CreateRequest(const uei* request);
// The same with a subindex at data byte 3 and the value after it.
aPacket* aUEI_CreateRequestWithSubindex(const uei* request, uint8_t subindex);

// Byte strings (ueiBytes records): number of packets, and packet number n of it.
size_t aUEI_BytesPacketCount(uint64_t length);
aPacket* aUEI_CreateBytesPacket(const uei* request, size_t n);

// Reply packets as a module sends them (used by the device side).
aPacket* aUEI_CreateReply(const uei* reply);
aPacket* aUEI_CreateErrorReply(uint8_t module, uint8_t command, uint8_t option, uint8_t index,
                               aErr code);

// The UEI reply filter: ref is the waiting uei record (module, command, option
// exactly as expected in the reply, specifier = entity index). Decodes the
// reply into the record as it accepts it.
bool aUEI_ReplyFilter(const aPacket* packet, void* ref);
// Byte-string reply filter: ref is a uei record in the receiver arrangement.
// Takes the packet with the expected sequence number and appends its chunk; a
// chunk that does not fit turns the record into an aErrMemory error reply.
bool aUEI_BytesReplyFilter(const aPacket* packet, void* ref);
