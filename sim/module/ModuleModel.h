// The simulated module as the host's link sees it: one or more devices (the
// first is the one at the end of the link; later ones sit behind it as on a
// router's I2C network), sync and force-route handling, optional heartbeats,
// and switches that make it misbehave for tests. Front ends open one session
// per connection and only move bytes in and out of it.
#pragma once

#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "ModuleDevice.h"
#include "SimPacket.h"

namespace vzsim {

struct Faults {
    std::set<unsigned> dropReplies; // reply numbers (from 1, since the faults were set) not sent
    unsigned delayMs = 0;           // every reply leaves this much later
    unsigned closeAfterReplies = 0; // the link drops after this many replies; 0 = never
    bool answerSync = true;         // false: sync packets go unanswered
};

struct ModelStats {
    unsigned packetsIn = 0;
    unsigned syncRequests = 0;
    unsigned forceRoutes = 0;
    int lastForceRoute = -1;
    unsigned repliesSent = 0;
    unsigned repliesDropped = 0;
    unsigned heartbeatsSent = 0;
    unsigned heartbeatReplies = 0;    // [0, n + 2] as expected
    unsigned heartbeatBadReplies = 0; // any other heartbeat answer
    unsigned heartbeatsMissed = 0;    // a new one went out before the answer came
    unsigned bytesDropped = 0;        // bytes that could not start a packet
};

class ModuleSession;

class ModuleModel {
  public:
    ModuleModel() = default;
    explicit ModuleModel(const ModuleIdentity& identity) { addDevice(identity); }

    // The first device added answers sync packets.
    ModuleDevice& addDevice(const ModuleIdentity& identity);
    ModuleDevice* device(uint8_t address);
    ModuleDevice* primary();

    void setFaults(const Faults& faults); // also restarts the reply count
    // Heartbeats from the module every intervalMs; 0 switches them off.
    void setHeartbeatInterval(unsigned intervalMs);
    ModelStats stats();

    std::unique_ptr<ModuleSession> openSession();

    // Runs f with the model locked (to inspect or change devices while
    // sessions run).
    template <class F> auto locked(F&& f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(*this);
    }

  private:
    friend class ModuleSession;
    std::mutex mutex_;
    std::list<ModuleDevice> devices_;
    Faults faults_;
    unsigned replyNumber_ = 0;
    unsigned heartbeatMs_ = 0;
    ModelStats stats_;
};

class ModuleSession {
  public:
    explicit ModuleSession(ModuleModel& model) : model_(model) {}

    // Bytes from the host.
    void receive(const uint8_t* data, size_t length, uint64_t nowMs);
    // Bytes due to the host by now (heartbeats included).
    std::vector<uint8_t> takeDue(uint64_t nowMs);
    // Milliseconds until something is due, -1 when nothing is planned.
    int msUntilDue(uint64_t nowMs);
    // The link should drop now (fault, or a module restart).
    bool closeRequested() const { return close_; }
    // How long the module stays away after that close (a restart), 0 for none.
    unsigned awayMs() const { return awayMs_; }

  private:
    void handle(const SimPacket& packet, uint64_t nowMs);
    void queueReply(const SimPacket& packet, uint64_t nowMs, bool counted);
    void checkHeartbeatReply(const SimPacket& packet);

    struct Pending {
        uint64_t due;
        std::vector<uint8_t> bytes;
        bool closeAfter;
    };
    ModuleModel& model_;
    PacketAssembler assembler_;
    std::deque<Pending> out_;
    bool close_ = false;
    unsigned awayMs_ = 0;
    uint64_t nextHeartbeat_ = 0;
    int heartbeatOutstanding_ = -1; // value sent, awaiting its answer
    uint8_t heartbeatValue_ = 0;
};

} // namespace vzsim
