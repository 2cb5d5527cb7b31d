// Link table and link life: create, init, start, stop, sync, reset, destroy.
#include <cstdio>
#include <cstring>
#include <mutex>

#include "aLink_Internal.h"
#include "aStream.h"
#include "aStream_Serial.h"
#include "aStream_Socket.h"
#include "aStream_USB.h"
#include "aTime.h"
#include "packetfifo.h"

aLinkHooks gLinkHooks;
std::atomic<uint32_t> _clientCount{0};

namespace {

struct linkTable {
    linkEntry* head = nullptr;
    uint32_t nextId = 1;
    aMutex* mutex = nullptr;
};

linkTable& _links() {
    static linkTable table;
    static std::once_flag made;
    std::call_once(made, [] { table.mutex = aMutex_Create("aLink_Managed"); });
    return table;
}

class TableLock {
  public:
    TableLock() : table(_links()) { aMutex_Lock(table.mutex); }
    ~TableLock() { aMutex_Unlock(table.mutex); }
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;
    linkTable& table;
};

// Creations run one at a time, so two callers asking for the same module
// cannot both make an entry for it.
std::mutex sCreateSerializer;

const unsigned long kPolls = 200;
const unsigned long kPollMs = 10;
const int kResetAttempts = 20;
const unsigned long kAwaitSliceMs = 100;

linkEntry* sLookupEntryByID(linkTable& table, uint32_t id) {
    for (linkEntry* entry = table.head; entry; entry = entry->next)
        if (entry->id == id) return entry;
    return nullptr;
}

linkEntry* sExtractEntry(linkTable& table, uint32_t id) {
    for (linkEntry** at = &table.head; *at; at = &(*at)->next) {
        if ((*at)->id == id) {
            linkEntry* entry = *at;
            *at = entry->next;
            entry->next = nullptr;
            return entry;
        }
    }
    return nullptr;
}

// The record of an entry whether or not it is initialised.
std::shared_ptr<aLink> sEntryLink(uint32_t id) {
    TableLock lock;
    linkEntry* entry = sLookupEntryByID(lock.table, id);
    return entry ? entry->link : nullptr;
}

void sDestroyFifo(std::atomic<uint64_t>& fifo) {
    uint64_t id = fifo.exchange(0);
    if (id) aPacketFifo_Destroy(&id);
}

aErr sJoin(aThread** thread) {
    if (!*thread) return aErrNone;
    return aThread_Destroy(thread) == 0 ? aErrNone : aErrUnknown;
}

aErr sForceRoute(aLink* link, uint8_t value) {
    aPacket* packet = aPacket_CreateWithData(aPACKET_FORCEROUTE_ADDRESS, 1, &value);
    if (!packet) return aErrMemory;
    aErr result = aPacketFifo_Put(link->sendFifo, packet);
    aPacket_Destroy(&packet);
    return result;
}

void sDestroyLog(aLink* link) {
    if (!link->packetLogMutex) return;
    aMutex_Lock(link->packetLogMutex);
    auto destroy = gLinkHooks.destroyPacketLog.load();
    if (link->packetLog && destroy) destroy(&link->packetLog);
    link->packetLog = nullptr;
    aMutex_Unlock(link->packetLogMutex);
}

// A caller may be writing to the stream directly: it goes under the write lock.
void sDestroyStream(aLink* link) {
    std::lock_guard<std::mutex> write(link->writeLock);
    if (link->stream) aStream_Destroy(&link->stream);
}

void sAllowDirectWrites(uint32_t id) {
    if (std::shared_ptr<aLink> link = sEntryLink(id)) link->directWrites = true;
}

aErr sNewStream(const linkEntry& entry, aStream** stream) {
    switch (entry.type) {
    case TCPIP:
        return aStream_CreateSocket(entry.identifier, (uint16_t)entry.port, stream);
    case USB:
        return aStream_CreateUSB(entry.identifier, stream);
    case SERIAL:
        if (!entry.portName[0]) return aErrParam;
        return aStream_CreateSerial(entry.portName, entry.baudCode, false, 0, 0, stream);
    case AETHER:
        if (auto create = gLinkHooks.createClientStream.load())
            return create(entry.identifier, entry.port, stream);
        return aErrParam;
    default:
        return aErrParam;
    }
}

// Starts a freshly made entry; on failure the entry goes again.
uint32_t sStartOrDestroy(uint32_t id, bool sync) {
    aErr result = aLink_Start(id);
    if (result == aErrNone && sync) result = aLink_Sync(id);
    if (result == aErrNone && sync) result = aLink_ForceRoute(id, 1);
    if (result != aErrNone) {
        aLink_Destroy(&id);
        return 0;
    }
    return id;
}

// Gives a new transport link its stream and starts it; without a stream the
// link is destroyed again.
uint32_t sAttachAndStart(uint32_t id, aStream* stream, bool sync) {
    aLink_Init(id, stream);
    if (!stream) {
        aLink_Destroy(&id);
        return 0;
    }
    sAllowDirectWrites(id);
    sAddUse(id);
    return sStartOrDestroy(id, sync);
}

} // namespace

aLink::~aLink() {
    if (packet) aPacket_Destroy(&packet);
    if (userFilterMutex) aMutex_Destroy(&userFilterMutex);
    if (packetLogMutex) aMutex_Destroy(&packetLogMutex);
}

uint32_t sCreate(uint32_t identifier, uint32_t port, uint32_t type) {
    return sCreate2(identifier, port, 0, type);
}

uint32_t sCreate2(uint32_t identifier, uint32_t port, uint32_t clientIndex, uint32_t type) {
    linkEntry* entry = new (std::nothrow) linkEntry;
    if (!entry) return 0;
    try {
        entry->link = std::make_shared<aLink>();
    } catch (...) {
        delete entry;
        return 0;
    }
    entry->identifier = identifier;
    entry->port = port;
    entry->clientIndex = clientIndex;
    entry->type = type;
    TableLock lock;
    entry->id = lock.table.nextId++;
    entry->next = lock.table.head;
    lock.table.head = entry;
    return entry->id;
}

uint32_t sLookupEntryByIdentifier(uint32_t identifier, uint32_t type, uint32_t port) {
    // Type and, for networked links, port must match too: a serial number can
    // equal an IPv4 address, and one host can serve several modules.
    bool networked = type == TCPIP || type == AETHER;
    TableLock lock;
    for (linkEntry* entry = lock.table.head; entry; entry = entry->next) {
        if (entry->identifier == identifier && entry->type == type &&
            (!networked || entry->port == port))
            return entry->id;
    }
    return 0;
}

uint32_t sLookupEntryByTrident(uint32_t identifier, uint32_t port, uint32_t clientIndex) {
    TableLock lock;
    for (linkEntry* entry = lock.table.head; entry; entry = entry->next) {
        if (entry->identifier == identifier && entry->port == port &&
            entry->clientIndex == clientIndex)
            return entry->id;
    }
    return 0;
}

uint32_t sAddUseByIdentifier(uint32_t identifier, uint32_t type, uint32_t port, bool* shared) {
    bool networked = type == TCPIP || type == AETHER;
    TableLock lock;
    for (linkEntry* entry = lock.table.head; entry; entry = entry->next) {
        if (entry->identifier == identifier && entry->type == type &&
            (!networked || entry->port == port)) {
            if (shared && entry->server) {
                *shared = true;
                return entry->id;
            }
            entry->useCount++;
            return entry->id;
        }
    }
    return 0;
}

bool sAddUse(uint32_t id) {
    TableLock lock;
    linkEntry* entry = sLookupEntryByID(lock.table, id);
    if (!entry) return false;
    entry->useCount++;
    return true;
}

bool _aLink_WithEntry(uint32_t id, void (*fn)(linkEntry* entry, void* ref), void* ref) {
    TableLock lock;
    linkEntry* entry = sLookupEntryByID(lock.table, id);
    if (!entry || !fn) return false;
    fn(entry, ref);
    return true;
}

std::shared_ptr<aLink> sGetLink(uint32_t id) {
    std::shared_ptr<aLink> link = sEntryLink(id);
    if (!link || link->magic != aLINK_MAGIC) return nullptr;
    return link;
}

bool drainAll(const aPacket*, void*) {
    return true;
}

uint32_t aLink_Init(uint32_t id, aStream* stream) {
    std::shared_ptr<aLink> link = sEntryLink(id);
    if (!link) return 0;
    std::lock_guard<std::recursive_mutex> life(link->life);
    // Whatever the record held before goes: a reset clears the user filter,
    // pooled mode and the packet log this way.
    sDestroyLog(link.get());
    sDestroyFifo(link->receiveFifo);
    sDestroyFifo(link->sendFifo);
    link->id = id;
    link->running = false;
    link->status = stream ? aLINK_STOPPED : aLINK_NOSTREAM;
    link->readerThread = nullptr;
    link->writerThread = nullptr;
    link->receiveFifo = aPacketFifo_Create();
    link->sendFifo = aPacketFifo_Create();
    link->readerProc = sInPipeProcess;
    link->writerProc = sOutPipeProcess;
    link->readerStarted = false;
    link->writerStarted = false;
    {
        std::lock_guard<std::mutex> write(link->writeLock);
        link->stream = stream;
        link->taken = 0;
    }
    link->heartbeatState = 0;
    link->syncState = kSyncStateSynced;
    if (link->packet)
        aPacket_Reset(link->packet);
    else
        link->packet = aPacket_Create();
    link->packetLogSize = 0;
    // Made up front, so enabling a log later never races the threads over
    // the mutex itself.
    if (!link->packetLogMutex) {
        char name[64];
        snprintf(name, sizeof name, "LOG_SEMA_%p", (void*)link.get());
        link->packetLogMutex = aMutex_Create(name);
    }
    link->pooled = false;
    if (!link->userFilterMutex) {
        char name[64];
        snprintf(name, sizeof name, "aLink(%p)->userFilterSema", (void*)link.get());
        link->userFilterMutex = aMutex_Create(name);
    }
    aMutex_Lock(link->userFilterMutex);
    link->userFilter = nullptr;
    link->userFilterRef = nullptr;
    aMutex_Unlock(link->userFilterMutex);
    link->magic = aLINK_MAGIC;
    return id;
}

aErr aLink_Start(uint32_t id) {
    std::shared_ptr<aLink> link = sGetLink(id);
    if (!link) return aErrParam;
    std::lock_guard<std::recursive_mutex> life(link->life);
    if (link->magic != aLINK_MAGIC) return aErrParam; // destroyed meanwhile
    if (link->running) return aErrNone;
    link->running = true;
    link->status = aLINK_STARTING;
    link->heartbeatState = 0;
    link->readerStarted = false;
    link->writerStarted = false;
    link->readerThread = aThread_Create(link->readerProc, link.get());
    if (link->readerThread) link->writerThread = aThread_Create(link->writerProc, link.get());
    if (!link->readerThread || !link->writerThread) {
        // Leave no thread behind that could outlive the record.
        link->running = false;
        sJoin(&link->readerThread);
        link->status = link->stream ? aLINK_STOPPED : aLINK_NOSTREAM;
        return aErrResource;
    }
    unsigned long polls = 0;
    while (!(link->readerStarted && link->writerStarted && link->status == aLINK_RUNNING)) {
        if (++polls > kPolls) return aErrIndexRange;
        aTime_MSSleep(kPollMs);
    }
    return sForceRoute(link.get(), 1);
}

aErr aLink_Stop(aLink* link) {
    if (!link) return aErrParam;
    std::lock_guard<std::recursive_mutex> life(link->life);
    uint32_t status = link->status;
    if (status == aLINK_STOPPING || status == aLINK_STOPPED) return aErrNone;
    link->status = aLINK_STOPPING;
    aErr result = aErrNone;
    if (link->readerThread && link->writerThread) result = sForceRoute(link, 0);
    link->running = false;
    // Join whichever thread exists, so none runs on after the record goes.
    if (sJoin(&link->readerThread) != aErrNone) result = aErrUnknown;
    if (sJoin(&link->writerThread) != aErrNone) result = aErrUnknown;
    link->readerStarted = false;
    link->writerStarted = false;
    aPacket_Reset(link->packet);
    link->status = aLINK_STOPPED;
    link->heartbeatState = 0;
    return result;
}

aErr aLink_Destroy(uint32_t* id) {
    if (!id) return aErrParam;
    uint32_t which = *id;
    *id = 0;
    linkEntry* entry = nullptr;
    {
        TableLock lock;
        linkEntry* found = sLookupEntryByID(lock.table, which);
        if (!found) return aErrParam;
        // Counting down and unlinking under one lock: a create cannot add a
        // use to an entry that is about to go.
        if (--found->useCount > 0) return aErrNone;
        entry = sExtractEntry(lock.table, which);
    }
    std::shared_ptr<aLink> link = entry->link;
    std::lock_guard<std::recursive_mutex> life(link->life);
    if (link->userFilterMutex) {
        aMutex_Lock(link->userFilterMutex);
        link->userFilter = nullptr;
        link->userFilterRef = nullptr;
        aMutex_Unlock(link->userFilterMutex);
    }
    if (link->magic == aLINK_MAGIC) aLink_Stop(link.get());
    link->magic = 0;
    auto destroyServer = gLinkHooks.destroyServer.load();
    if (entry->server && destroyServer) destroyServer(&entry->server);
    if (entry->companionId) aLink_Destroy(&entry->companionId);
    sDestroyFifo(link->receiveFifo);
    sDestroyFifo(link->sendFifo);
    sDestroyLog(link.get());
    sDestroyStream(link.get());
    delete entry; // the record itself goes with its last reference
    return aErrNone;
}

aErr aLink_Reset(uint32_t id) {
    std::shared_ptr<aLink> link = sGetLink(id);
    if (!link) return aErrParam;
    linkEntry copy;
    {
        TableLock lock;
        linkEntry* entry = sLookupEntryByID(lock.table, id);
        if (!entry) return aErrParam;
        copy.type = entry->type;
        copy.identifier = entry->identifier;
        copy.port = entry->port;
        memcpy(copy.portName, entry->portName, sizeof copy.portName);
        copy.baudCode = entry->baudCode;
    }
    std::lock_guard<std::recursive_mutex> life(link->life);
    if (link->magic != aLINK_MAGIC) return aErrParam; // destroyed meanwhile
    aLink_Stop(link.get());
    sDestroyFifo(link->receiveFifo);
    sDestroyFifo(link->sendFifo);
    sDestroyStream(link.get());

    aStream* stream = nullptr;
    for (int attempt = 0; attempt < kResetAttempts; attempt++) {
        if (sNewStream(copy, &stream) == aErrNone && stream) break;
        stream = nullptr;
        aTime_MSSleep(100);
    }
    if (stream) {
        aLink_Init(id, stream);
    } else {
        // Started without stream and queues: the reader reports I/O errors
        // until the link is destroyed.
        link->status = aLINK_NOSTREAM;
    }
    return aLink_Start(id);
}

aErr aLink_Sync(uint32_t id) {
    std::shared_ptr<aLink> link = sGetLink(id);
    if (!link) return aErrParam;
    // A stopped link has no reader to sync it; its status must stay "stopped".
    if (!link->running) return aErrNotReady;
    link->status = aLINK_SYNCING;
    aErr result = aErrNotReady;
    for (unsigned long polls = 0; polls < kPolls; polls++) {
        if (link->status == aLINK_RUNNING) {
            result = aErrNone;
            break;
        }
        aTime_MSSleep(kPollMs);
    }
    // No sync traffic and no stale reply survives.
    aPacketFifo_DrainPackets(link->sendFifo, drainAll, nullptr);
    aTime_MSSleep(100);
    aPacketFifo_DrainPackets(link->receiveFifo, drainAll, nullptr);
    return result;
}

aErr aLink_ForceRoute(uint32_t id, uint8_t value) {
    std::shared_ptr<aLink> link = sEntryLink(id);
    if (!link) return aErrNotFound;
    if (link->magic != aLINK_MAGIC) return aErrParam;
    return sForceRoute(link.get(), value);
}

uint32_t aLink_CreateUSB(uint32_t serialNumber) {
    std::lock_guard<std::mutex> serial(sCreateSerializer);
    bool shared = false;
    uint32_t id = sAddUseByIdentifier(serialNumber, USB, 0, &shared);
    // A module shared by a link server is reached as its client.
    if (shared) return 0;
    if (id) return id;
    id = sCreate(serialNumber, 0, USB);
    if (!id) return 0;
    aStream* stream = nullptr;
    if (aStream_CreateUSB(serialNumber, &stream) != aErrNone) stream = nullptr;
    return sAttachAndStart(id, stream, true);
}

uint32_t aLink_CreateTCPIP(uint32_t address, uint32_t port) {
    std::lock_guard<std::mutex> serial(sCreateSerializer);
    uint32_t id = sAddUseByIdentifier(address, TCPIP, port, nullptr);
    if (id) return id;
    id = sCreate(address, port, TCPIP);
    if (!id) return 0;
    aStream* stream = nullptr;
    if (aStream_CreateSocket(address, (uint16_t)port, &stream) != aErrNone) stream = nullptr;
    return sAttachAndStart(id, stream, false);
}

uint32_t aLink_CreateSerial(uint32_t serialNumber, const char* portName, uint32_t baudRate) {
    std::lock_guard<std::mutex> serial(sCreateSerializer);
    uint32_t id = sAddUseByIdentifier(serialNumber, SERIAL, 0, nullptr);
    if (id) return id;
    int code = aStream_SerialBaudCode(baudRate);
    if (code < 0 || !portName || strlen(portName) >= aLINKSPEC_PORTNAME_SIZE) return 0;
    id = sCreate(serialNumber, 0, SERIAL);
    if (!id) return 0;
    struct Params {
        const char* portName;
        uint32_t code;
    } params = {portName, (uint32_t)code};
    _aLink_WithEntry(
        id,
        [](linkEntry* entry, void* ref) {
            Params* p = (Params*)ref;
            strncpy(entry->portName, p->portName, sizeof entry->portName - 1);
            entry->baudCode = p->code;
        },
        &params);
    aStream* stream = nullptr;
    if (aStream_CreateSerial(portName, (uint32_t)code, false, 0, 0, &stream) != aErrNone)
        stream = nullptr;
    return sAttachAndStart(id, stream, false);
}

uint32_t aLink_Create(aStream* stream) {
    if (!stream) return 0;
    uint32_t id = sCreate(aLINK_CALLER_STREAM, 0, linkTypeAny);
    if (!id) {
        aStream_Destroy(&stream);
        return 0;
    }
    aLink_Init(id, stream);
    sAddUse(id);
    return sStartOrDestroy(id, false);
}

uint32_t aLink_GetStatus(uint32_t id) {
    std::shared_ptr<aLink> link = sGetLink(id);
    return link ? link->status.load() : aLINK_NOSTREAM;
}

aErr aLink_PutPacket(uint32_t id, const aPacket* packet) {
    std::shared_ptr<aLink> link = sGetLink(id);
    if (!link) return aErrParam;
    if (_aLink_WriteDirect(link.get(), packet)) return aErrNone;
    return aPacketFifo_Put(link->sendFifo, packet);
}

aPacket* aLink_GetPacket(uint32_t id) {
    std::shared_ptr<aLink> link = sGetLink(id);
    return link ? aPacketFifo_Get(link->receiveFifo) : nullptr;
}

aPacket* aLink_AwaitPacket(uint32_t id, unsigned long timeoutMs) {
    std::shared_ptr<aLink> link = sGetLink(id);
    return link ? aPacketFifo_Await(link->receiveFifo, timeoutMs) : nullptr;
}

aPacket* aLink_GetFirst(uint32_t id, aPacketFilter filter, void* ref) {
    std::shared_ptr<aLink> link = sGetLink(id);
    return link ? aPacketFifo_GetFirst(link->receiveFifo, filter, ref) : nullptr;
}

aPacket* aLink_AwaitFirst(uint32_t id, aPacketFilter filter, void* ref, unsigned long timeoutMs) {
    std::shared_ptr<aLink> link = sGetLink(id);
    if (!link) return nullptr;
    uint64_t start = _aLink_NowMs();
    int64_t cursor = aPACKETFIFO_CURSOR_START; // each packet is offered once per call
    // Waits in slices so that a link that stops running ends the wait soon.
    while (link->running && link->status == aLINK_RUNNING) {
        uint64_t spent = _aLink_NowMs() - start;
        unsigned long left = spent >= timeoutMs ? 0 : (unsigned long)(timeoutMs - spent);
        unsigned long slice = left < kAwaitSliceMs ? left : kAwaitSliceMs;
        aPacket* packet =
            aPacketFifo_AwaitFirstFrom(link->receiveFifo, filter, ref, slice, &cursor);
        if (packet || left == 0) return packet;
    }
    return nullptr;
}

uint32_t aLink_DrainPackets(uint32_t id, aPacketFilter filter, void* ref) {
    std::shared_ptr<aLink> link = sGetLink(id);
    return link ? (uint32_t)aPacketFifo_DrainPackets(link->receiveFifo, filter, ref) : 0;
}

aErr aLink_InstallUserPacketFilter(uint32_t id, aPacketFilter filter, void* ref) {
    std::shared_ptr<aLink> link = sGetLink(id);
    if (!link) return aErrParam;
    aMutex_Lock(link->userFilterMutex);
    link->userFilter = filter;
    link->userFilterRef = filter ? ref : nullptr;
    aMutex_Unlock(link->userFilterMutex);
    return aErrNone;
}

aErr aLink_EnablePooledPackets(uint32_t id, bool pooled) {
    std::shared_ptr<aLink> link = sGetLink(id);
    if (!link) return aErrParam;
    link->pooled = pooled;
    return aErrNone;
}
