// A module whose system entity refuses one option: every get or set of it is
// answered with an error reply, the rest as usual (a failing version query, a
// router that will not route to this host).
#pragma once

#include <vector>

#include "ModuleDevice.h"
#include "SystemEntity.h"

class OptionRefused : public vzsim::CommandHandler {
  public:
    static constexpr uint8_t kVersion = 7;
    static constexpr uint8_t kRouteToMe = 20;

    explicit OptionRefused(uint8_t option) : option_(option) {}
    void handle(vzsim::ModuleDevice& device, const vzsim::SimPacket& request,
                std::vector<vzsim::SimPacket>& replies) override {
        const auto& d = request.data;
        if (d.size() >= 3 && (d[1] & 0x3F) == option_) {
            // A get's error carries the bare option, a set's its set-reply form.
            uint8_t replyOption = (d[1] & 0x80) ? uint8_t(option_ | 0xC0) : option_;
            replies.push_back(vzsim::ueiError(d[0], replyOption, 0, kInvalidOption));
            return;
        }
        system.handle(device, request, replies);
    }
    vzsim::SystemEntity system;

  private:
    static constexpr uint8_t kInvalidOption = 29;
    uint8_t option_;
};
