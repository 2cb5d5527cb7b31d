#include "packetfifo.h"

#include <atomic>
#include <ctime>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <pthread.h>

namespace {

struct aPacketDeleter {
    void operator()(aPacket* packet) const { aPacket_Destroy(&packet); }
};
typedef std::unique_ptr<aPacket, aPacketDeleter> PacketPtr;

class SerialPacket {
  public:
    SerialPacket(int64_t id, PacketPtr packet) : id(id), packet(std::move(packet)) {}
    int64_t getId() const { return id; }
    const aPacket* getPacket() const { return packet.get(); }

  private:
    int64_t id;
    PacketPtr packet;
};

struct packetFifo {
    std::deque<SerialPacket> packets;
    pthread_cond_t condition;
    pthread_mutex_t mutex;
    std::atomic<bool> active{true};
    std::atomic<int64_t> windowStart{0};
    std::atomic<int64_t> nextId{0};

    packetFifo() {
        pthread_mutex_init(&mutex, nullptr);
        // Deadlines on the monotonic clock: a change of the time of day must not
        // shorten or stretch a wait.
        pthread_condattr_t attributes;
        pthread_condattr_init(&attributes);
        pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
        pthread_cond_init(&condition, &attributes);
        pthread_condattr_destroy(&attributes);
    }
    ~packetFifo() {
        pthread_cond_destroy(&condition);
        pthread_mutex_destroy(&mutex);
    }
    packetFifo(const packetFifo&) = delete;
    packetFifo& operator=(const packetFifo&) = delete;
};

class FifoLock {
  public:
    explicit FifoLock(packetFifo& fifo) : fifo(fifo) { pthread_mutex_lock(&fifo.mutex); }
    ~FifoLock() { pthread_mutex_unlock(&fifo.mutex); }

  private:
    packetFifo& fifo;
};

std::map<uint64_t, std::shared_ptr<packetFifo>> gpPacketFifoDictionary;
std::mutex gpPacketFifoDictionaryMutex;
std::atomic<uint64_t> gpSequentialId{1};

std::shared_ptr<packetFifo> sGetFifo(uint64_t id) {
    std::lock_guard<std::mutex> lock(gpPacketFifoDictionaryMutex);
    auto found = gpPacketFifoDictionary.find(id);
    if (found == gpPacketFifoDictionary.end()) return nullptr;
    return found->second;
}

std::shared_ptr<packetFifo> sExtractFifo(uint64_t id) {
    std::lock_guard<std::mutex> lock(gpPacketFifoDictionaryMutex);
    auto found = gpPacketFifoDictionary.find(id);
    if (found == gpPacketFifoDictionary.end()) return nullptr;
    std::shared_ptr<packetFifo> fifo = std::move(found->second);
    gpPacketFifoDictionary.erase(found);
    return fifo;
}

// Both run with the FIFO locked.
void clearAndSyncWindow(packetFifo& fifo) {
    fifo.packets.clear();
    fifo.windowStart = fifo.nextId.load();
}

void syncWindow(packetFifo& fifo) {
    fifo.windowStart = fifo.packets.empty() ? fifo.nextId.load() : fifo.packets.front().getId();
}

template <typename Iterator> void eraseAndSyncWindow(packetFifo& fifo, Iterator at) {
    fifo.packets.erase(at);
    syncWindow(fifo);
}

aPacket* _stealPacketFromFifo(packetFifo& fifo, std::deque<SerialPacket>::iterator at) {
    aPacket* copy = aPacket_Copy(at->getPacket());
    if (copy) eraseAndSyncWindow(fifo, at);
    return copy;
}

timespec sDeadline(unsigned long timeoutMs) {
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += (time_t)(timeoutMs / 1000);
    deadline.tv_nsec += (long)(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec++;
        deadline.tv_nsec -= 1000000000L;
    }
    return deadline;
}

// Returns false once the deadline has passed.
bool sWait(packetFifo& fifo, const timespec& deadline) {
    return pthread_cond_timedwait(&fifo.condition, &fifo.mutex, &deadline) == 0;
}

bool _waitUntilNotEmpty(packetFifo& fifo, const timespec& deadline) {
    while (fifo.packets.empty() && fifo.active) {
        if (!sWait(fifo, deadline)) break;
    }
    return !fifo.packets.empty();
}

// Scans only packets not yet offered during this call (ids above last).
std::deque<SerialPacket>::iterator sScanNew(packetFifo& fifo, aPacketFilter filter, void* ref,
                                            int64_t& last) {
    for (auto it = fifo.packets.begin(); it != fifo.packets.end(); ++it) {
        if (it->getId() - last <= 0) continue;
        last = it->getId();
        if (filter(it->getPacket(), ref)) return it;
    }
    return fifo.packets.end();
}

std::deque<SerialPacket>::iterator _waitUntilProcIsSatisfied(packetFifo& fifo, aPacketFilter filter,
                                                             void* ref, const timespec& deadline,
                                                             int64_t& last) {
    for (;;) {
        auto found = sScanNew(fifo, filter, ref, last);
        if (found != fifo.packets.end() || !fifo.active) return found;
        if (!sWait(fifo, deadline)) return sScanNew(fifo, filter, ref, last);
    }
}

} // namespace

uint64_t aPacketFifo_Create() {
    try {
        auto fifo = std::make_shared<packetFifo>();
        uint64_t id = gpSequentialId++;
        if (id == 0) id = gpSequentialId++;
        std::lock_guard<std::mutex> lock(gpPacketFifoDictionaryMutex);
        gpPacketFifoDictionary[id] = std::move(fifo);
        return id;
    } catch (...) {
        return 0;
    }
}

aErr aPacketFifo_Destroy(uint64_t* id) {
    if (!id) return aErrParam;
    try {
        std::shared_ptr<packetFifo> fifo = sExtractFifo(*id);
        if (!fifo) return aErrNotFound;
        {
            FifoLock lock(*fifo);
            clearAndSyncWindow(*fifo);
            fifo->active = false;
        }
        pthread_cond_broadcast(&fifo->condition);
        *id = 0;
        return aErrNone;
    } catch (...) {
        return aErrUnknown;
    }
}

size_t aPacketFifo_GetLength(uint64_t id) {
    std::shared_ptr<packetFifo> fifo = sGetFifo(id);
    if (!fifo) return 0;
    FifoLock lock(*fifo);
    return fifo->packets.size();
}

aErr aPacketFifo_Put(uint64_t id, const aPacket* packet) {
    std::shared_ptr<packetFifo> fifo = sGetFifo(id);
    if (!fifo || !aVALIDPACKET(packet)) return aErrParam;
    {
        FifoLock lock(*fifo);
        PacketPtr copy(aPacket_Copy(packet));
        if (!copy) return aErrParam;
        try {
            fifo->packets.emplace_back(fifo->nextId.load(), std::move(copy));
        } catch (const std::bad_alloc&) {
            return aErrResource;
        }
        fifo->nextId++;
        syncWindow(*fifo);
        if (fifo->packets.size() > aPACKETFIFO_CAPACITY) {
            clearAndSyncWindow(*fifo);
            return aErrNone;
        }
    }
    pthread_cond_broadcast(&fifo->condition);
    return aErrNone;
}

aPacket* aPacketFifo_Get(uint64_t id) {
    std::shared_ptr<packetFifo> fifo = sGetFifo(id);
    if (!fifo) return nullptr;
    FifoLock lock(*fifo);
    if (fifo->packets.empty()) return nullptr;
    return _stealPacketFromFifo(*fifo, fifo->packets.begin());
}

aPacket* aPacketFifo_Await(uint64_t id, unsigned long timeoutMs) {
    return aPacketFifo_AwaitCounted(id, timeoutMs, nullptr);
}

aPacket* aPacketFifo_AwaitCounted(uint64_t id, unsigned long timeoutMs, std::atomic<int>* taken) {
    std::shared_ptr<packetFifo> fifo = sGetFifo(id);
    if (!fifo) return nullptr;
    timespec deadline = sDeadline(timeoutMs);
    FifoLock lock(*fifo);
    if (!_waitUntilNotEmpty(*fifo, deadline)) return nullptr;
    aPacket* packet = _stealPacketFromFifo(*fifo, fifo->packets.begin());
    if (packet && taken) ++*taken;
    return packet;
}

aPacket* aPacketFifo_GetFirst(uint64_t id, aPacketFilter filter, void* ref) {
    std::shared_ptr<packetFifo> fifo = sGetFifo(id);
    if (!fifo || !filter) return nullptr;
    FifoLock lock(*fifo);
    for (auto it = fifo->packets.begin(); it != fifo->packets.end(); ++it) {
        if (filter(it->getPacket(), ref)) return _stealPacketFromFifo(*fifo, it);
    }
    return nullptr;
}

aPacket* aPacketFifo_AwaitFirst(uint64_t id, aPacketFilter filter, void* ref,
                                unsigned long timeoutMs) {
    int64_t cursor = aPACKETFIFO_CURSOR_START;
    return aPacketFifo_AwaitFirstFrom(id, filter, ref, timeoutMs, &cursor);
}

aPacket* aPacketFifo_AwaitFirstFrom(uint64_t id, aPacketFilter filter, void* ref,
                                    unsigned long timeoutMs, int64_t* cursor) {
    std::shared_ptr<packetFifo> fifo = sGetFifo(id);
    if (!fifo || !filter || !cursor) return nullptr;
    timespec deadline = sDeadline(timeoutMs);
    FifoLock lock(*fifo);
    int64_t last = *cursor == aPACKETFIFO_CURSOR_START ? fifo->windowStart - 1 : *cursor;
    auto found = _waitUntilProcIsSatisfied(*fifo, filter, ref, deadline, last);
    *cursor = last;
    if (found == fifo->packets.end()) return nullptr;
    return _stealPacketFromFifo(*fifo, found);
}

size_t aPacketFifo_DrainPackets(uint64_t id, aPacketFilter filter, void* ref) {
    std::shared_ptr<packetFifo> fifo = sGetFifo(id);
    if (!fifo || !filter) return 0;
    FifoLock lock(*fifo);
    size_t before = fifo->packets.size();
    for (auto it = fifo->packets.begin(); it != fifo->packets.end();) {
        if (filter(it->getPacket(), ref))
            it = fifo->packets.erase(it);
        else
            ++it;
    }
    syncWindow(*fifo);
    return before - fifo->packets.size();
}
