// Reader and writer threads of a link.
#include <cstring>
#include <ctime>

#include "aLink_Internal.h"
#include "aStream.h"
#include "aTime.h"
#include "packetfifo.h"

namespace {

// Transports that return aErrNotReady without waiting must not make the
// reader spin: it backs off up to this long between empty reads.
const uint64_t kIdleSleepMaxMs = 10;
// An empty read that took less than this did not wait by itself.
const uint64_t kQuickReadMs = 2;
// A sync in progress is restarted after this long without a byte, and its
// packets are not queued again sooner than kSyncResendMs.
const uint64_t kSyncQuietMs = 250;
const uint64_t kSyncResendMs = 100;
const unsigned long kWriterWaitMs = 100;
const size_t kPoolSize = 4096;

void sLog(aLink* link, int kind, const uint8_t* wire, size_t length) {
    auto logPacket = gLinkHooks.logPacket.load();
    if (!logPacket || !link->packetLogMutex) return;
    aMutex_Lock(link->packetLogMutex);
    if (link->packetLog) logPacket(link->packetLog, kind, wire, length);
    aMutex_Unlock(link->packetLogMutex);
}

void sStartSync(aLink* link) {
    link->status = aLINK_SYNCING;
    link->syncState = kSyncStateStart;
    aPacket_Reset(link->packet);
    uint64_t now = _aLink_NowMs();
    if (link->lastSyncSentMs != 0 && now - link->lastSyncSentMs < kSyncResendMs) {
        // Sync packets are already on their way: just wait for the replies.
        link->syncState = kSyncStateByte1;
        return;
    }
    aPacket* sync = aPacket_CreateWithData(aPACKET_MAGIC_ADDRESS, 0, (const uint8_t*)"");
    aErr result = sync ? aErrNone : aErrMemory;
    for (int i = 0; i < 6 && result == aErrNone; i++)
        result = aPacketFifo_Put(link->sendFifo, sync);
    aPacket_Destroy(&sync);
    link->lastSyncSentMs = now;
    if (result == aErrNone) link->syncState = kSyncStateByte1;
}

void sSyncByte(aLink* link, uint8_t b) {
    switch (link->syncState.load()) {
    case kSyncStateByte1:
        if (b != 0 && !(b & 1)) {
            link->syncAddress = b;
            link->syncState = kSyncStateByte2;
        } else {
            sStartSync(link);
        }
        break;
    case kSyncStateByte2:
        link->syncState = b == 0 ? kSyncStateByte3 : kSyncStateStart;
        break;
    case kSyncStateByte3:
        link->syncState = b == link->syncAddress ? kSyncStateByte4 : kSyncStateStart;
        break;
    case kSyncStateByte4:
        if (b == 0) {
            link->syncState = kSyncStateSynced;
            aPacket_Reset(link->packet);
            link->status = aLINK_RUNNING;
        } else {
            link->syncState = kSyncStateStart;
        }
        break;
    default: // kSyncStateStart, synced, or anything else
        sStartSync(link);
        break;
    }
}

bool sHandleHBBackChannel(aLink* link, const aPacket* packet) {
    if (packet->dataSize != 2 || packet->data[0] != cmdHEARTBEAT) return false;
    uint8_t value = packet->data[1];
    link->heartbeatState = value == 0 ? 2 : value == 1 ? 3 : link->heartbeatState.load();
    const uint8_t reply[2] = {cmdHEARTBEAT, (uint8_t)(value + 2)};
    aPacket* answer = aPacket_CreateWithData(packet->address, 2, reply);
    if (answer) aPacketFifo_Put(link->sendFifo, answer);
    aPacket_Destroy(&answer);
    link->heartbeatState = 0;
    return true;
}

aErr sHandlePacket(aLink* link) {
    aPacket* packet = link->packet;
    uint8_t wire[aPACKET_MAXWIRE];
    size_t length = aPacket_ToWire(packet, wire, sizeof wire);
    sLog(link, aLINK_LOG_RECEIVED, wire, length);

    bool taken = false;
    aMutex_Lock(link->userFilterMutex);
    if (link->userFilter) taken = link->userFilter(packet, link->userFilterRef);
    aMutex_Unlock(link->userFilterMutex);

    aErr result = aErrNone;
    if (!taken && !sHandleHBBackChannel(link, packet))
        result = aPacketFifo_Put(link->receiveFifo, packet);
    aPacket_Reset(packet);
    return result;
}

void sIdle(uint64_t& idleMs) {
    idleMs = idleMs == 0 ? 1 : (idleMs * 2 > kIdleSleepMaxMs ? kIdleSleepMaxMs : idleMs * 2);
    aTime_MSSleep(idleMs);
}

void sEmptyRead(aLink* link, uint64_t started, uint64_t& idleMs) {
    uint64_t now = _aLink_NowMs();
    if (link->status == aLINK_SYNCING) {
        uint64_t quietSince =
            link->lastByteMs > link->lastSyncSentMs ? link->lastByteMs : link->lastSyncSentMs;
        if (link->syncState == kSyncStateSynced || now - quietSince >= kSyncQuietMs)
            sStartSync(link);
    }
    if (now - started < kQuickReadMs) sIdle(idleMs);
}

void sWritePacket(aLink* link, const aPacket* packet, bool log) {
    uint8_t wire[aPACKET_MAXWIRE];
    size_t length = aPacket_ToWire(packet, wire, sizeof wire);
    if (length == 0) return;
    // Logged before it leaves, so the log is complete even if the write hangs.
    if (log) sLog(link, aLINK_LOG_SENT, wire, length);
    // A failed write is not retried; the packet is dropped.
    if (link->stream) aStream_Write(link->stream, wire, length);
}

void sWritePooled(aLink* link, aPacket* first) {
    uint8_t pool[kPoolSize];
    size_t total = aPacket_ToWire(first, pool, sizeof pool);
    if (total == 0) return;
    sLog(link, aLINK_LOG_SENT, pool, total);
    while (total + aPACKET_MAXWIRE <= kPoolSize) {
        aPacket* more = aPacketFifo_Get(link->sendFifo);
        if (!more) break;
        total += aPacket_ToWire(more, pool + total, sizeof pool - total);
        aPacket_Destroy(&more);
    }
    if (link->stream) aStream_Write(link->stream, pool, total);
}

} // namespace

uint64_t _aLink_NowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u;
}

void* sInPipeProcess(void* argument) {
    aLink* link = (aLink*)argument;
    link->heartbeatState = 0;
    link->syncAddress = 1;
    link->syncState = kSyncStateSynced;
    link->lastByteMs = _aLink_NowMs();
    link->lastSyncSentMs = 0;
    link->status = aLINK_RUNNING;
    link->readerStarted = true;
    uint64_t idleMs = 0;
    while (link->running) {
        uint8_t byte = 0;
        uint64_t started = _aLink_NowMs();
        aErr result = link->stream ? aStream_Read(link->stream, &byte, 1) : aErrIO;
        if (result == aErrNotReady) {
            sEmptyRead(link, started, idleMs);
            continue;
        }
        if (result != aErrNone) {
            link->status = aLINK_IOERROR;
            aTime_MSSleep(100);
            continue;
        }
        idleMs = 0;
        link->lastByteMs = _aLink_NowMs();
        if (link->status == aLINK_SYNCING) {
            sSyncByte(link, byte);
            continue;
        }
        if (aPacket_AddByte(link->packet, byte) != aErrNone) {
            // Out of sync with the module: the bad bytes are lost.
            sStartSync(link);
            continue;
        }
        if (aPacket_IsComplete(link->packet) && sHandlePacket(link) != aErrNone)
            link->status = aLINK_PACKETERROR;
    }
    return nullptr;
}

void* sOutPipeProcess(void* argument) {
    aLink* link = (aLink*)argument;
    link->writerStarted = true;
    while (link->running) {
        if (link->sendFifo == 0) {
            // A reset that found no stream leaves the link without queues.
            aTime_MSSleep(100);
            continue;
        }
        // Counted as taken until written, so no caller writes past it.
        aPacket* packet = aPacketFifo_AwaitCounted(link->sendFifo, kWriterWaitMs, &link->taken);
        if (!packet) continue;
        {
            std::lock_guard<std::mutex> write(link->writeLock);
            if (link->pooled)
                sWritePooled(link, packet);
            else
                sWritePacket(link, packet, true);
            link->taken--;
        }
        aPacket_Destroy(&packet);
    }
    // Whatever is still queued (the force-route of a stop) goes out unpooled.
    std::lock_guard<std::mutex> write(link->writeLock);
    for (aPacket* packet; (packet = aPacketFifo_Get(link->sendFifo)) != nullptr;) {
        sWritePacket(link, packet, false);
        aPacket_Destroy(&packet);
    }
    return nullptr;
}

bool _aLink_WriteDirect(aLink* link, const aPacket* packet) {
    if (!link->directWrites || link->pooled || !aVALIDPACKET(packet)) return false;
    if (!link->running || link->status != aLINK_RUNNING) return false;
    std::lock_guard<std::mutex> write(link->writeLock);
    // Checked again under the lock: a stop or reset may have begun, and the
    // writer may hold a packet that must leave first. The queue is looked at
    // before the count: the writer takes a packet and counts it in one step
    // under the queue's lock, so an empty queue means any packet it took is
    // already counted (and it cannot write it while we hold the write lock).
    if (!link->running || !link->stream) return false;
    if (aPacketFifo_GetLength(link->sendFifo) != 0 || link->taken != 0) return false;
    sWritePacket(link, packet, true);
    return true;
}
