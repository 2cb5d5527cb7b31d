#include "ModuleModel.h"

#include <algorithm>

namespace vzsim {

ModuleDevice& ModuleModel::addDevice(const ModuleIdentity& identity) {
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.emplace_back(identity);
    return devices_.back();
}

ModuleDevice* ModuleModel::device(uint8_t address) {
    for (ModuleDevice& d : devices_)
        if (d.address() == address) return &d;
    return nullptr;
}

ModuleDevice* ModuleModel::primary() {
    return devices_.empty() ? nullptr : &devices_.front();
}

void ModuleModel::setFaults(const Faults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_ = faults;
    replyNumber_ = 0;
}

void ModuleModel::setHeartbeatInterval(unsigned intervalMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    heartbeatMs_ = intervalMs;
}

ModelStats ModuleModel::stats() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stats_;
}

std::unique_ptr<ModuleSession> ModuleModel::openSession() {
    return std::make_unique<ModuleSession>(*this);
}

void ModuleSession::receive(const uint8_t* data, size_t length, uint64_t nowMs) {
    std::lock_guard<std::mutex> lock(model_.mutex_);
    for (size_t i = 0; i < length; i++) {
        SimPacket packet;
        unsigned before = assembler_.dropped();
        bool complete = assembler_.add(data[i], &packet);
        model_.stats_.bytesDropped += assembler_.dropped() - before;
        if (complete) handle(packet, nowMs);
    }
}

void ModuleSession::handle(const SimPacket& packet, uint64_t nowMs) {
    ModelStats& stats = model_.stats_;
    stats.packetsIn++;
    ModuleDevice* primary = model_.primary();
    if (!primary || primary->offline()) return;
    if (packet.address == kSyncAddress) {
        stats.syncRequests++;
        if (!packet.data.empty() || !model_.faults_.answerSync) return;
        SimPacket reply;
        reply.address = primary->address();
        queueReply(reply, nowMs, true);
        return;
    }
    if (packet.address == kForceRouteAddress) {
        stats.forceRoutes++;
        if (packet.data.size() == 1) stats.lastForceRoute = packet.data[0];
        return;
    }
    if (packet.data.size() == 2 && packet.data[0] == kCmdHeartbeat) {
        checkHeartbeatReply(packet);
        return;
    }
    ModuleDevice* target = model_.device(packet.address);
    if (!target) return; // nobody at that address
    for (const SimPacket& reply : target->handle(packet))
        queueReply(reply, nowMs, true);
    if (target->takeRestart()) {
        awayMs_ = target->restartAwayMs();
        if (out_.empty())
            close_ = true;
        else
            out_.back().closeAfter = true;
    }
}

void ModuleSession::queueReply(const SimPacket& packet, uint64_t nowMs, bool counted) {
    Faults& faults = model_.faults_;
    bool closeAfter = false;
    if (counted) {
        unsigned number = ++model_.replyNumber_;
        if (faults.dropReplies.count(number)) {
            model_.stats_.repliesDropped++;
            if (faults.closeAfterReplies && number >= faults.closeAfterReplies) close_ = true;
            return;
        }
        model_.stats_.repliesSent++;
        closeAfter = faults.closeAfterReplies && number >= faults.closeAfterReplies;
    }
    // Keep replies in order even when the delay changes between them.
    uint64_t due = nowMs + faults.delayMs;
    if (!out_.empty()) due = std::max(due, out_.back().due);
    out_.push_back({due, packet.wire(), closeAfter});
}

void ModuleSession::checkHeartbeatReply(const SimPacket& packet) {
    ModelStats& stats = model_.stats_;
    if (heartbeatOutstanding_ >= 0 && packet.data[1] == uint8_t(heartbeatOutstanding_ + 2))
        stats.heartbeatReplies++;
    else
        stats.heartbeatBadReplies++;
    heartbeatOutstanding_ = -1;
}

std::vector<uint8_t> ModuleSession::takeDue(uint64_t nowMs) {
    std::lock_guard<std::mutex> lock(model_.mutex_);
    std::vector<uint8_t> bytes;
    ModuleDevice* primary = model_.primary();
    if (model_.heartbeatMs_ && primary && !close_) {
        if (nextHeartbeat_ == 0) nextHeartbeat_ = nowMs + model_.heartbeatMs_;
        if (nowMs >= nextHeartbeat_) {
            if (heartbeatOutstanding_ >= 0) model_.stats_.heartbeatsMissed++;
            SimPacket hb;
            hb.address = primary->address();
            hb.data = {kCmdHeartbeat, heartbeatValue_};
            heartbeatOutstanding_ = heartbeatValue_;
            heartbeatValue_ ^= 1; // alternate "up" (0) and "down" (1)
            model_.stats_.heartbeatsSent++;
            out_.push_back({nowMs, hb.wire(), false});
            nextHeartbeat_ = nowMs + model_.heartbeatMs_;
        }
    }
    while (!out_.empty() && out_.front().due <= nowMs && !close_) {
        Pending& p = out_.front();
        bytes.insert(bytes.end(), p.bytes.begin(), p.bytes.end());
        if (p.closeAfter) close_ = true;
        out_.pop_front();
    }
    return bytes;
}

int ModuleSession::msUntilDue(uint64_t nowMs) {
    std::lock_guard<std::mutex> lock(model_.mutex_);
    uint64_t next = UINT64_MAX;
    if (!out_.empty()) next = out_.front().due;
    if (model_.heartbeatMs_) next = std::min(next, nextHeartbeat_ ? nextHeartbeat_ : nowMs);
    if (next == UINT64_MAX) return -1;
    return next <= nowMs ? 0 : int(std::min<uint64_t>(next - nowMs, 60000));
}

} // namespace vzsim
