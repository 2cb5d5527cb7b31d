// The link engine: turns a byte stream to one module into two packet queues,
// with a reader thread (reassembly, sync, heartbeats) and a writer thread.
// Links live in a process-wide table and are named by identifiers from 1 up;
// one link may have several users (use count).
#pragma once

#include <cstdint>

#include "aError.h"
#include "aLinkSpec.h"
#include "aPacket.h"

struct aStream;
struct aLink;

// Link status.
enum : uint32_t {
    aLINK_STOPPED = 0,
    aLINK_STARTING = 1,
    aLINK_RUNNING = 2,
    aLINK_STOPPING = 3,
    aLINK_SYNCING = 4,
    aLINK_NOSTREAM = 5,
    aLINK_IOERROR = 6,
    aLINK_PACKETERROR = 8,
};

// Creation returns a link identifier, 0 for any failure (nothing is left behind).
uint32_t aLink_CreateUSB(uint32_t serialNumber);
// address in network byte order, port in host order.
uint32_t aLink_CreateTCPIP(uint32_t address, uint32_t port);
uint32_t aLink_CreateSerial(uint32_t serialNumber, const char* portName, uint32_t baudRate);
// Link over a stream the caller made; the link owns it from now on (also on failure).
uint32_t aLink_Create(aStream* stream);

uint32_t aLink_Init(uint32_t id, aStream* stream);
aErr aLink_Start(uint32_t id);
aErr aLink_Stop(aLink* link);
// Drops one use and destroys the link with the last; always zeroes *id.
aErr aLink_Destroy(uint32_t* id);
aErr aLink_Reset(uint32_t id);
aErr aLink_Sync(uint32_t id);
aErr aLink_ForceRoute(uint32_t id, uint8_t value);

uint32_t aLink_GetStatus(uint32_t id);
aErr aLink_PutPacket(uint32_t id, const aPacket* packet);
aPacket* aLink_GetPacket(uint32_t id);
aPacket* aLink_AwaitPacket(uint32_t id, unsigned long timeoutMs);
aPacket* aLink_GetFirst(uint32_t id, aPacketFilter filter, void* ref);
// Gives up at once, and as soon as the link stops running or leaves status 2.
aPacket* aLink_AwaitFirst(uint32_t id, aPacketFilter filter, void* ref, unsigned long timeoutMs);
uint32_t aLink_DrainPackets(uint32_t id, aPacketFilter filter, void* ref);
// The filter runs on the reader thread and must not block; null removes it.
aErr aLink_InstallUserPacketFilter(uint32_t id, aPacketFilter filter, void* ref);
aErr aLink_EnablePooledPackets(uint32_t id, bool pooled);

// Filter that takes every packet.
bool drainAll(const aPacket* packet, void* ref);
