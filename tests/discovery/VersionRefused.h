// A module whose firmware version query fails: its system entity answers
// every get of the version option with an error reply, the rest as usual.
#pragma once

#include <vector>

#include "ModuleDevice.h"
#include "SystemEntity.h"

class VersionRefused : public vzsim::CommandHandler {
  public:
    void handle(vzsim::ModuleDevice& device, const vzsim::SimPacket& request,
                std::vector<vzsim::SimPacket>& replies) override {
        const auto& d = request.data;
        if (d.size() >= 3 && (d[1] & 0x3F) == kVersion && (d[1] & 0x40)) {
            replies.push_back(vzsim::ueiError(d[0], kVersion, 0, kInvalidOption));
            return;
        }
        system.handle(device, request, replies);
    }
    vzsim::SystemEntity system;

  private:
    static const uint8_t kVersion = 7;
    static const uint8_t kInvalidOption = 29;
};
