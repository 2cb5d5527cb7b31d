#include "RouterModel.h"

#include "InfoCommands.h"
#include "SystemEntity.h"

namespace vzsim {
namespace {

const uint8_t kPullup = 1;
const uint8_t kStatusError = 0x80;
const uint8_t kErrTimeout = 18; // nobody acknowledged the address
const uint8_t kErrParam = 2;
const uint8_t kRouteToMe = 20;

// A member's handler that answers only while its router routes the network's
// replies to the host (route-to-me set); otherwise the answer never leaves the
// I2C network.
class RoutedHandler : public CommandHandler {
  public:
    RoutedHandler(std::shared_ptr<CommandHandler> inner, ModuleDevice* router)
        : inner_(std::move(inner)), router_(router) {}
    void handle(ModuleDevice& device, const SimPacket& request,
                std::vector<SimPacket>& replies) override {
        if (router_->values()[kRouteToMe] != 1) return;
        inner_->handle(device, request, replies);
    }
    uint8_t ueiStatus(uint8_t option, uint8_t index, uint8_t flags) const override {
        return inner_->ueiStatus(option, index, flags);
    }
    uint8_t entityCount() const override { return inner_->entityCount(); }

  private:
    std::shared_ptr<CommandHandler> inner_;
    ModuleDevice* router_;
};

} // namespace

// The router sits on its own network too, so its own address answers as well:
// hosts must skip it themselves.
bool RouterI2C::listens(uint8_t address) {
    return model_.device(address & 0xFE) != nullptr;
}

void RouterI2C::handle(ModuleDevice&, const SimPacket& request, std::vector<SimPacket>& replies) {
    const std::vector<uint8_t>& d = request.data;
    if (d.size() < 4) return;
    SimPacket reply;
    reply.data = {d[0], d[1], d[2]};
    if (d[2] == kPullup && d.size() == 4) {
        reply.data.push_back(0);
        reply.data.push_back(0);
        replies.push_back(reply);
        return;
    }
    if (d.size() < 5) return;
    uint8_t length = d[3];
    bool read = d[2] & 1;
    uint8_t status = 0;
    if (d[1] != 0 || (!read && d.size() != size_t(5) + length) || length > 23)
        status = kStatusError | kErrParam;
    else if (!listens(d[2]))
        status = kStatusError | kErrTimeout;
    uint8_t count = read && status == 0 ? length : 0;
    reply.data.push_back(count);
    reply.data.push_back(status);
    reply.data.insert(reply.data.end(), count, 0); // members read as zeros
    replies.push_back(reply);
}

void makeRouter(ModuleModel& model) {
    model.locked([&](ModuleModel& m) {
        if (ModuleDevice* router = m.primary())
            router->setHandler(kCmdI2C, std::make_shared<RouterI2C>(model));
        return 0;
    });
}

ModuleDevice& addRouterMember(ModuleModel& model, ModuleIdentity member, bool routedOnly) {
    ModuleDevice* router = model.locked([](ModuleModel& m) { return m.primary(); });
    member.router = router ? router->address() : 0;
    ModuleDevice& device = model.addDevice(member);
    if (router && routedOnly) {
        model.locked([&](ModuleModel&) {
            device.setHandler(kCmdSystem, std::make_shared<RoutedHandler>(
                                              std::make_shared<SystemEntity>(), router));
            device.setHandler(
                kCmdInfo, std::make_shared<RoutedHandler>(std::make_shared<InfoCommand>(), router));
            device.setHandler(kCmdDebug, std::make_shared<RoutedHandler>(
                                             std::make_shared<DebugCommand>(), router));
            return 0;
        });
    }
    return device;
}

} // namespace vzsim
