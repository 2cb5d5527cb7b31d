// The system entity (class 3, index 0): identity values, settings the host
// may change, the name as a byte string, and the chip identifier by subindex.
#pragma once

#include "ModuleDevice.h"

namespace vzsim {

class SystemEntity : public CommandHandler {
  public:
    void handle(ModuleDevice& device, const SimPacket& request,
                std::vector<SimPacket>& replies) override;
    uint8_t ueiStatus(uint8_t option, uint8_t index, uint8_t flags) const override;

    enum class Kind { Byte, Int, Bytes, Call };
    struct Option {
        uint8_t code;
        Kind kind;
        bool get;
        bool set;
    };
    static const Option* find(uint8_t code);

  private:
    void get(ModuleDevice& device, const Option& option, const SimPacket& request,
             std::vector<SimPacket>& replies);
    void set(ModuleDevice& device, const Option& option, const SimPacket& request,
             std::vector<SimPacket>& replies);

    // Reassembly of a byte string being set.
    std::vector<uint8_t> incoming_;
    uint8_t expected_ = 0;
};

} // namespace vzsim
