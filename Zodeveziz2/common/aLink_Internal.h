// Link record, link table and hooks shared by the link engine and the parts
// built on its table (link server and client links, packet log). Not for
// applications: they use aLink.h.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "aLink.h"
#include "aMutex.h"
#include "aThread.h"

#define aLINK_MAGIC 0xCEED
#define aLINK_CALLER_STREAM 0xFFFFFFFFu

enum : uint32_t {
    kSyncStateSynced = 0,
    kSyncStateStart = 1,
    kSyncStateByte1 = 2,
    kSyncStateByte2 = 3,
    kSyncStateByte3 = 4,
    kSyncStateByte4 = 5,
};

// Packet log kinds.
enum : int { aLINK_LOG_SENT = 1, aLINK_LOG_RECEIVED = 2 };

struct aPacketLog;
struct aServer;

typedef struct aLink {
    std::atomic<uint16_t> magic{0};
    uint32_t id = 0;
    std::atomic<bool> running{false};
    std::atomic<uint32_t> status{aLINK_NOSTREAM};
    std::atomic<uint64_t> receiveFifo{0};
    aPacket* packet = nullptr; // reader only
    std::atomic<uint64_t> sendFifo{0};
    aThread* readerThread = nullptr;
    aThread* writerThread = nullptr;
    aThreadFunction readerProc = nullptr;
    aThreadFunction writerProc = nullptr;
    std::atomic<bool> readerStarted{false};
    std::atomic<bool> writerStarted{false};
    aStream* stream = nullptr;
    std::atomic<uint32_t> heartbeatState{0};
    std::atomic<uint32_t> syncState{kSyncStateSynced};
    uint8_t syncAddress = 1;
    aPacketLog* packetLog = nullptr; // set and cleared only under packetLogMutex
    uint32_t packetLogSize = 0;
    aMutex* packetLogMutex = nullptr; // lives as long as the record
    aPacketFilter userFilter = nullptr;
    void* userFilterRef = nullptr;
    aMutex* userFilterMutex = nullptr;
    std::atomic<bool> pooled{false};
    // Every stream write happens under this lock, the writer's and a caller's.
    std::mutex writeLock;
    // Packets the writer took from the send FIFO and has not written yet.
    std::atomic<int> taken{0};
    // A caller's packet may go straight to the stream when nothing is queued
    // before it: saves waking the writer on every request. Only on our own
    // transports (TCPIP, USB, SERIAL), never on a caller's stream.
    std::atomic<bool> directWrites{false};
    // Reader pacing (monotonic ms): last byte seen, last sync packets queued.
    uint64_t lastByteMs = 0;
    uint64_t lastSyncSentMs = 0;
    // Serialises init, start, stop, reset and destroy of one link.
    std::recursive_mutex life;

    aLink() = default;
    // Mutexes and the assembly record live as long as the last reference, so
    // a thread that still holds the record after a destroy finds it invalid
    // rather than freed.
    ~aLink();
    aLink(const aLink&) = delete;
    aLink& operator=(const aLink&) = delete;
} aLink;

typedef struct linkEntry {
    uint32_t id = 0;
    uint32_t companionId = 0;
    aServer* server = nullptr;
    uint32_t identifier = 0;
    uint32_t port = 0;
    uint32_t clientIndex = 0;
    uint32_t type = 0;
    int16_t useCount = 0;
    std::shared_ptr<aLink> link;
    linkEntry* next = nullptr;
    // Kept so a serial link can be reset.
    char portName[aLINKSPEC_PORTNAME_SIZE] = {};
    uint32_t baudCode = 0;
} linkEntry;

// Hooks filled in by the parts that build on the table; null when absent.
// Atomic, so they may be set while links run.
struct aLinkHooks {
    // Records wire bytes in a packet log (called under packetLogMutex).
    std::atomic<void (*)(aPacketLog* log, int kind, const uint8_t* wire, size_t length)> logPacket{
        nullptr};
    std::atomic<void (*)(aPacketLog** log)> destroyPacketLog{nullptr};
    std::atomic<void (*)(aServer** server)> destroyServer{nullptr};
    // Client stream to a link server, for resetting AETHER links.
    std::atomic<aErr (*)(uint32_t address, uint32_t port, aStream** stream)> createClientStream{
        nullptr};
};
extern aLinkHooks gLinkHooks;
extern std::atomic<uint32_t> _clientCount;

// Table operations. Each holds the table mutex ("aLink_Managed") only while it
// walks or changes the list.
uint32_t sCreate(uint32_t identifier, uint32_t port, uint32_t type);
uint32_t sCreate2(uint32_t identifier, uint32_t port, uint32_t clientIndex, uint32_t type);
// Returns the id of the newest entry matching, 0 for none.
uint32_t sLookupEntryByIdentifier(uint32_t identifier, uint32_t type, uint32_t port);
uint32_t sLookupEntryByTrident(uint32_t identifier, uint32_t port, uint32_t clientIndex);
// Adds a use to an existing entry under one lock; false when there is none.
bool sAddUse(uint32_t id);
// Finds the newest entry like sLookupEntryByIdentifier and adds a use under the
// same lock. With shared given, an entry that has a server gets no use and
// sets *shared.
uint32_t sAddUseByIdentifier(uint32_t identifier, uint32_t type, uint32_t port, bool* shared);
// Runs fn on the entry with the table locked; false when there is no entry.
// fn must not block or call back into the table.
bool _aLink_WithEntry(uint32_t id, void (*fn)(linkEntry* entry, void* ref), void* ref);
// Shared reference to a live link record (magic set): it stays valid while
// held, even when the link is destroyed meanwhile. Null for none.
std::shared_ptr<aLink> sGetLink(uint32_t id);

// Reader and writer threads; the argument is the link record.
void* sInPipeProcess(void* link);
void* sOutPipeProcess(void* link);
// Writes packet at once on the caller's thread when the link allows it and
// nothing is queued or being written before it; false to queue it instead.
bool _aLink_WriteDirect(aLink* link, const aPacket* packet);
// Monotonic milliseconds.
uint64_t _aLink_NowMs();
