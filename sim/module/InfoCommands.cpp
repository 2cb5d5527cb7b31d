#include "InfoCommands.h"

namespace vzsim {
namespace {
const uint8_t kInfoBuild = 0xFF;
const uint8_t kInfoHasUEI = 1;
const uint8_t kInfoClassQuantity = 4;
const uint8_t kInfoSubClassQuantity = 5;
const uint8_t kInfoEntityGroup = 6;
const uint8_t kErrInvalidEntity = 28;
} // namespace

void InfoCommand::handle(ModuleDevice& device, const SimPacket& request,
                         std::vector<SimPacket>& replies) {
    const std::vector<uint8_t>& d = request.data;
    if (d.size() < 2) return;
    SimPacket reply;
    switch (d[1]) {
    case kInfoBuild: {
        uint32_t build = device.identity().build;
        reply.data = {kCmdInfo,
                      kInfoBuild,
                      uint8_t(build >> 24),
                      uint8_t(build >> 16),
                      uint8_t(build >> 8),
                      uint8_t(build)};
        break;
    }
    case kInfoHasUEI: {
        if (d.size() != 6) return;
        CommandHandler* h = device.handler(d[2]);
        uint8_t status = h ? h->ueiStatus(d[3], d[4], d[5]) : kErrInvalidEntity;
        reply.data = {kCmdInfo, kInfoHasUEI, d[2], d[3], d[4], status};
        break;
    }
    case kInfoClassQuantity: {
        if (d.size() != 3) return;
        CommandHandler* h = device.handler(d[2]);
        reply.data = {kCmdInfo, kInfoClassQuantity, d[2], uint8_t(h ? h->entityCount() : 0)};
        break;
    }
    case kInfoSubClassQuantity:
    case kInfoEntityGroup:
        if (d.size() != 4) return;
        reply.data = {kCmdInfo, d[1], d[2], d[3], 0};
        break;
    default:
        return;
    }
    replies.push_back(reply);
}

void DebugCommand::handle(ModuleDevice&, const SimPacket& request,
                          std::vector<SimPacket>& replies) {
    SimPacket echo;
    echo.data = request.data;
    replies.push_back(echo);
}

} // namespace vzsim
