#include "SimPacket.h"

namespace vzsim {

std::vector<uint8_t> SimPacket::wire() const {
    std::vector<uint8_t> bytes;
    bytes.reserve(data.size() + 2);
    bytes.push_back(address);
    bytes.push_back(uint8_t(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

bool PacketAssembler::add(uint8_t byte, SimPacket* out) {
    switch (state_) {
    case State::Address:
        if (byte == 0 || ((byte & 1) && byte != kSyncAddress && byte != kForceRouteAddress)) {
            dropped_++;
            return false;
        }
        packet_.address = byte;
        packet_.data.clear();
        state_ = State::Size;
        return false;
    case State::Size:
        if (byte > kMaxData) {
            dropped_ += 2;
            state_ = State::Address;
            return false;
        }
        size_ = byte;
        if (size_ == 0) break;
        state_ = State::Data;
        return false;
    case State::Data:
        packet_.data.push_back(byte);
        if (packet_.data.size() < size_) return false;
        break;
    }
    state_ = State::Address;
    *out = packet_;
    return true;
}

} // namespace vzsim
