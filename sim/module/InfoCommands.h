// Direct module queries: cmdINFO (build, UEI presence, entity counts) and the
// cmdDEBUG echo.
#pragma once

#include "ModuleDevice.h"

namespace vzsim {

class InfoCommand : public CommandHandler {
  public:
    void handle(ModuleDevice& device, const SimPacket& request,
                std::vector<SimPacket>& replies) override;
};

class DebugCommand : public CommandHandler {
  public:
    void handle(ModuleDevice& device, const SimPacket& request,
                std::vector<SimPacket>& replies) override;
};

} // namespace vzsim
