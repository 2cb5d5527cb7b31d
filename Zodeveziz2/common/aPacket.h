// One module packet: the record the whole link layer passes around.
// Wire form: address byte, size byte, then exactly size data bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "aError.h"

#define aPACKET_MAGIC 0xBEEF
#define aPACKET_MAXDATA 28
#define aPACKET_MAXWIRE (aPACKET_MAXDATA + 2)

// Odd addresses that carry link-level messages instead of module traffic.
#define aPACKET_MAGIC_ADDRESS 0xAD
#define aPACKET_FORCEROUTE_ADDRESS 0xAF

// Command codes: the first data byte of a module packet.
enum : uint8_t {
    cmdHEARTBEAT = 0,
    cmdSYSTEM = 3,
    cmdSLOT = 4,
    cmdI2C = 8,
    cmdDEBUG = 23,
    cmdINFO = 73,
    cmdSTREAM = 93,
    cmdFACTORY = 94,
    cmdUPGRADE = 95,
    cmdFORCEROUTE = 175,
};

typedef struct aPacket {
    uint16_t magic;
    uint8_t received; // stream bytes accepted so far, address and size included
    uint8_t address;
    uint8_t dataSize; // 0 to 28
    uint8_t data[aPACKET_MAXDATA];
} aPacket;

// Packet filter: returns true when it takes the packet; may decode it into ref.
// Runs with a queue locked: must not block.
typedef bool (*aPacketFilter)(const aPacket* packet, void* ref);

inline bool aVALIDPACKET(const aPacket* packet) {
    return packet != nullptr && packet->magic == aPACKET_MAGIC;
}

aPacket* aPacket_Create();
// Null for a null data pointer (even for length 0) or a length above 28.
aPacket* aPacket_CreateWithData(uint8_t address, uint8_t length, const uint8_t* data);
aPacket* aPacket_Copy(const aPacket* packet);
aErr aPacket_Destroy(aPacket** packet);

aErr aPacket_GetCmd(const aPacket* packet, uint8_t* out);
aErr aPacket_GetOption(const aPacket* packet, uint8_t* out);
aErr aPacket_GetIndex(const aPacket* packet, uint8_t* out);

aErr aPacket_Reset(aPacket* packet);
// Feeds one stream byte; after any error the caller resets the record.
aErr aPacket_AddByte(aPacket* packet, uint8_t byte);
bool aPacket_IsComplete(const aPacket* packet);

// Wire form of a complete packet into buffer; returns the byte count, 0 when the
// packet is invalid or the buffer too small.
size_t aPacket_ToWire(const aPacket* packet, uint8_t* buffer, size_t size);
