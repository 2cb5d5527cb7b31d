// A router module: the model's first device, with modules behind it on its I2C
// network (the model's later devices). The host reaches them through the
// router's link after setting the router's route-to-me option; an I2C write
// probe succeeds only at an address where a module (the router included)
// listens.
#pragma once

#include "ModuleModel.h"

namespace vzsim {

// The router's I2C bus entity (class 8, index 0).
class RouterI2C : public CommandHandler {
  public:
    explicit RouterI2C(ModuleModel& model) : model_(model) {}
    // Runs with the model locked (from the session).
    void handle(ModuleDevice& device, const SimPacket& request,
                std::vector<SimPacket>& replies) override;

  private:
    bool listens(uint8_t address);
    ModuleModel& model_;
};

// Turns the model's first device into a router; later devices are its members.
void makeRouter(ModuleModel& model);
// A member behind the router: its router address is the router's. With
// routedOnly it answers only while the router's route-to-me option is set (for
// tests of hosts that must set it); otherwise it always answers.
ModuleDevice& addRouterMember(ModuleModel& model, ModuleIdentity member, bool routedOnly = false);

} // namespace vzsim
