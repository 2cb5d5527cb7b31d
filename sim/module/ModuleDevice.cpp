#include "ModuleDevice.h"

#include "InfoCommands.h"
#include "SystemEntity.h"

namespace vzsim {

uint8_t CommandHandler::ueiStatus(uint8_t, uint8_t, uint8_t) const {
    return 29; // aErrInvalidOption
}

ModuleDevice::ModuleDevice(const ModuleIdentity& identity) : identity_(identity) {
    setHandler(kCmdSystem, std::make_shared<SystemEntity>());
    setHandler(kCmdInfo, std::make_shared<InfoCommand>());
    setHandler(kCmdDebug, std::make_shared<DebugCommand>());
}

void ModuleDevice::setHandler(uint8_t command, std::shared_ptr<CommandHandler> handler) {
    if (handler)
        handlers_[command] = std::move(handler);
    else
        handlers_.erase(command);
}

CommandHandler* ModuleDevice::handler(uint8_t command) const {
    auto it = handlers_.find(command);
    return it == handlers_.end() ? nullptr : it->second.get();
}

std::vector<SimPacket> ModuleDevice::handle(const SimPacket& request) {
    std::vector<SimPacket> replies;
    if (request.data.empty()) return replies;
    if (CommandHandler* h = handler(request.data[0])) h->handle(*this, request, replies);
    for (SimPacket& p : replies)
        p.address = identity_.address;
    return replies;
}

bool ModuleDevice::takeRestart() {
    bool r = restart_;
    restart_ = false;
    return r;
}

SimPacket ueiReply(uint8_t command, uint8_t option, uint8_t index) {
    SimPacket p;
    p.data = {command, option, index};
    return p;
}

SimPacket ueiReplyByte(uint8_t command, uint8_t option, uint8_t index, uint8_t value) {
    SimPacket p = ueiReply(command, option, index);
    p.data.push_back(value);
    return p;
}

SimPacket ueiReplyInt(uint8_t command, uint8_t option, uint8_t index, uint32_t value) {
    SimPacket p = ueiReply(command, option, index);
    for (int shift = 24; shift >= 0; shift -= 8)
        p.data.push_back(uint8_t(value >> shift));
    return p;
}

SimPacket ueiError(uint8_t command, uint8_t option, uint8_t index, uint8_t code) {
    return ueiReplyByte(command, option, uint8_t(0x80 | (index & 0x1F)), code);
}

std::vector<SimPacket> ueiReplyBytes(uint8_t command, uint8_t option, uint8_t index,
                                     const std::vector<uint8_t>& bytes) {
    std::vector<SimPacket> packets;
    size_t offset = 0, n = 0;
    do {
        size_t chunk = bytes.size() - offset < 24 ? bytes.size() - offset : 24;
        SimPacket p = ueiReply(command, option, index);
        p.data.insert(p.data.end(), bytes.begin() + offset, bytes.begin() + offset + chunk);
        offset += chunk;
        uint8_t sequence = uint8_t(n++ & 0x7F);
        if (offset < bytes.size()) sequence |= 0x80;
        p.data.push_back(sequence);
        packets.push_back(std::move(p));
    } while (offset < bytes.size());
    return packets;
}

} // namespace vzsim
