// Packets as the simulated module sees them: the host also sends to the odd
// link-level addresses 0xAD (sync) and 0xAF (force route), so the module side
// assembles packets with its own, more permissive rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vzsim {

constexpr uint8_t kSyncAddress = 0xAD;
constexpr uint8_t kForceRouteAddress = 0xAF;
constexpr size_t kMaxData = 28;

// Command codes (first data byte).
constexpr uint8_t kCmdHeartbeat = 0;
constexpr uint8_t kCmdSystem = 3;
constexpr uint8_t kCmdI2C = 8;
constexpr uint8_t kCmdDebug = 23;
constexpr uint8_t kCmdInfo = 73;
constexpr uint8_t kCmdUpgrade = 95;

struct SimPacket {
    uint8_t address = 0;
    std::vector<uint8_t> data;

    std::vector<uint8_t> wire() const;
};

// Rebuilds packets from host bytes. A byte that cannot start a packet (zero, or
// odd but not a link-level address) and a size above 28 are dropped, so the
// assembler finds the next packet as the host resynchronises.
class PacketAssembler {
  public:
    // Returns true when the byte completed a packet (then in *out).
    bool add(uint8_t byte, SimPacket* out);
    unsigned dropped() const { return dropped_; }

  private:
    enum class State { Address, Size, Data } state_ = State::Address;
    SimPacket packet_;
    size_t size_ = 0;
    unsigned dropped_ = 0;
};

} // namespace vzsim
