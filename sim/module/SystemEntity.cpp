#include "SystemEntity.h"

#include <chrono>
#include <cstdio>

namespace vzsim {
namespace {

// aErr codes the module sends back.
const uint8_t kErrSize = 14;
const uint8_t kErrMode = 7;
const uint8_t kErrInvalidEntity = 28;
const uint8_t kErrInvalidOption = 29;
const uint8_t kErrPacket = 24;

using K = SystemEntity::Kind;
const SystemEntity::Option sOptions[] = {
    {1, K::Byte, true, false},  // module address
    {2, K::Byte, true, true},   // router address
    {3, K::Byte, true, true},   // heartbeat interval
    {4, K::Byte, true, true},   // LED
    {6, K::Byte, true, true},   // boot slot
    {7, K::Int, true, false},   // firmware version
    {8, K::Byte, true, false},  // model
    {9, K::Int, true, false},   // serial number
    {10, K::Call, false, true}, // save
    {11, K::Call, false, true}, // reset
    {12, K::Int, true, false},  // input voltage
    {13, K::Byte, true, false}, // hardware offset
    {14, K::Byte, true, false}, // base address
    {15, K::Byte, true, true},  // software offset
    {16, K::Byte, true, false}, // router address setting
    {20, K::Byte, false, true}, // route to me
    {21, K::Int, true, false},  // input current
    {22, K::Int, true, false},  // uptime
    {23, K::Int, true, false},  // maximum temperature
    {27, K::Int, true, false},  // temperature
    {28, K::Int, true, false},  // minimum temperature
    {32, K::Bytes, true, true}, // name
    {38, K::Byte, true, true},  // link interface
    {39, K::Int, true, false},  // chip identifier word, by subindex
    {40, K::Int, true, false},  // hardware version
    {41, K::Int, true, false},  // errors
    {43, K::Int, true, false},  // build
    {45, K::Int, true, false},  // protocol features
};

const auto sStart = std::chrono::steady_clock::now();

uint32_t sValue(ModuleDevice& device, uint8_t code, uint8_t subindex) {
    const ModuleIdentity& id = device.identity();
    switch (code) {
    case 1:
        return id.address;
    case 2:
        return device.routerAddress();
    case 7:
        return id.version;
    case 8:
        return id.model;
    case 9:
        return id.serial;
    case 12:
        return 5000;
    case 14:
        return id.address;
    case 16:
        return device.routerAddress();
    case 22:
        return (uint32_t)std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::steady_clock::now() - sStart)
            .count();
    case 23:
        return 41000;
    case 27:
        return 30000;
    case 28:
        return 18000;
    case 39:
        return subindex < 4 ? id.chipId[subindex] : 0;
    case 40:
        return id.hardwareVersion;
    case 43:
        return id.build;
    case 45:
        return id.protocolFeatures;
    default: {
        auto it = device.values().find(code);
        return it == device.values().end() ? 0 : it->second;
    }
    }
}

} // namespace

const SystemEntity::Option* SystemEntity::find(uint8_t code) {
    for (const Option& o : sOptions)
        if (o.code == code) return &o;
    return nullptr;
}

uint8_t SystemEntity::ueiStatus(uint8_t option, uint8_t index, uint8_t flags) const {
    if (index != 0) return kErrInvalidEntity;
    const Option* o = find(option);
    if (!o) return kErrInvalidOption;
    if ((flags & 0x40) && !o->get) return kErrMode;
    if ((flags & 0x80) && !o->set) return kErrMode;
    return 0;
}

void SystemEntity::handle(ModuleDevice& device, const SimPacket& request,
                          std::vector<SimPacket>& replies) {
    const std::vector<uint8_t>& d = request.data;
    if (d.size() < 3) return; // too short to say what it wants: no answer
    uint8_t code = d[1] & 0x3F;
    bool isGet = d[1] & 0x40, isSet = d[1] & 0x80;
    uint8_t index = d[2] & 0x1F;
    // Replies to a get carry the bare option code, to a set option | 0xC0.
    uint8_t replyOption = isSet ? uint8_t(code | 0xC0) : code;
    if (isGet == isSet) {
        replies.push_back(ueiError(d[0], replyOption, index, kErrInvalidOption));
        return;
    }
    if (index != 0) {
        replies.push_back(ueiError(d[0], replyOption, index, kErrInvalidEntity));
        return;
    }
    const Option* o = find(code);
    if (!o) {
        replies.push_back(ueiError(d[0], replyOption, index, kErrInvalidOption));
        return;
    }
    if ((isGet && !o->get) || (isSet && !o->set)) {
        replies.push_back(ueiError(d[0], replyOption, index, kErrMode));
        return;
    }
    if (isGet)
        get(device, *o, request, replies);
    else
        set(device, *o, request, replies);
}

void SystemEntity::get(ModuleDevice& device, const Option& option, const SimPacket& request,
                       std::vector<SimPacket>& replies) {
    const std::vector<uint8_t>& d = request.data;
    uint8_t subindex = d.size() >= 4 ? d[3] : 0;
    switch (option.kind) {
    case Kind::Byte:
        replies.push_back(
            ueiReplyByte(d[0], option.code, 0, uint8_t(sValue(device, option.code, 0))));
        break;
    case Kind::Int:
        replies.push_back(ueiReplyInt(d[0], option.code, 0, sValue(device, option.code, subindex)));
        break;
    case Kind::Bytes: {
        const std::string& name = device.identity().name;
        std::vector<uint8_t> bytes(name.begin(), name.end());
        for (SimPacket& p : ueiReplyBytes(d[0], option.code, 0, bytes))
            replies.push_back(p);
        break;
    }
    case Kind::Call:
        break;
    }
}

void SystemEntity::set(ModuleDevice& device, const Option& option, const SimPacket& request,
                       std::vector<SimPacket>& replies) {
    const std::vector<uint8_t>& d = request.data;
    uint8_t ack = uint8_t(option.code | 0xC0);
    switch (option.kind) {
    case Kind::Call:
        if (d.size() != 3) break;
        if (option.code == 11) device.requestRestart();
        replies.push_back(ueiReply(d[0], ack, 0));
        return;
    case Kind::Byte:
        if (d.size() != 4) break;
        if (option.code == 2)
            device.identity().router = d[3];
        else
            device.values()[option.code] = d[3];
        replies.push_back(ueiReply(d[0], ack, 0));
        return;
    case Kind::Int:
        if (d.size() != 7) break;
        device.values()[option.code] =
            uint32_t(d[3]) << 24 | uint32_t(d[4]) << 16 | uint32_t(d[5]) << 8 | d[6];
        replies.push_back(ueiReply(d[0], ack, 0));
        return;
    case Kind::Bytes: {
        if (d.size() < 4) break;
        uint8_t sequence = d.back();
        if ((sequence & 0x7F) == 0) {
            incoming_.clear();
            expected_ = 0;
        }
        if ((sequence & 0x7F) != expected_) {
            fprintf(stderr,
                    "vzsim: %08X byte string for option %u: packet %u came where %u was due\n",
                    device.identity().serial, option.code, sequence & 0x7F, expected_);
            incoming_.clear();
            expected_ = 0;
            replies.push_back(ueiError(d[0], ack, 0, kErrPacket));
            return;
        }
        incoming_.insert(incoming_.end(), d.begin() + 3, d.end() - 1);
        expected_ = uint8_t((expected_ + 1) & 0x7F);
        if (sequence & 0x80) return; // more to come
        device.identity().name.assign(incoming_.begin(), incoming_.end());
        incoming_.clear();
        expected_ = 0;
        replies.push_back(ueiReply(d[0], ack, 0));
        return;
    }
    }
    replies.push_back(ueiError(d[0], ack, 0, kErrSize));
}

} // namespace vzsim
