// Thread-safe packet queues addressed by identifier. Every operation hands out
// its own copies: the caller owns what it gets and releases it with
// aPacket_Destroy.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "aPacket.h"

// More queued packets than this empties the queue.
#define aPACKETFIFO_CAPACITY 1000

// Identifier of a new, empty FIFO; 0 when it cannot be made.
uint64_t aPacketFifo_Create();
// Wakes every waiter, releases the queue and sets *id to 0.
aErr aPacketFifo_Destroy(uint64_t* id);
size_t aPacketFifo_GetLength(uint64_t id);
// Queues a copy of packet; the caller keeps its own.
aErr aPacketFifo_Put(uint64_t id, const aPacket* packet);
aPacket* aPacketFifo_Get(uint64_t id);
// Waits on the monotonic clock; null on time-out, unknown identifier or destruction.
aPacket* aPacketFifo_Await(uint64_t id, unsigned long timeoutMs);
// As aPacketFifo_Await, and *taken grows by one under the FIFO's lock as the
// packet leaves: a reader of the length and then *taken never misses a packet
// on its way between the queue and its taker.
aPacket* aPacketFifo_AwaitCounted(uint64_t id, unsigned long timeoutMs, std::atomic<int>* taken);
aPacket* aPacketFifo_GetFirst(uint64_t id, aPacketFilter filter, void* ref);
// Offers each packet to the filter at most once per call.
aPacket* aPacketFifo_AwaitFirst(uint64_t id, aPacketFilter filter, void* ref,
                                unsigned long timeoutMs);
// The same, continuing a search across several calls: *cursor starts as
// aPACKETFIFO_CURSOR_START and remembers which packets were offered already.
#define aPACKETFIFO_CURSOR_START INT64_MIN
aPacket* aPacketFifo_AwaitFirstFrom(uint64_t id, aPacketFilter filter, void* ref,
                                    unsigned long timeoutMs, int64_t* cursor);
// Removes and destroys every packet the filter takes; returns how many.
size_t aPacketFifo_DrainPackets(uint64_t id, aPacketFilter filter, void* ref);
