// One simulated module: its identity, its system entity values and the
// handlers that answer its commands. Handlers are looked up by command code, so
// further entities (an upgrade state machine, an I2C bus behind a router) are
// added with setHandler without touching the link side.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "SimPacket.h"

namespace vzsim {

struct ModuleIdentity {
    uint32_t serial = 0x40F5849A;
    uint8_t model = 0x13;
    uint8_t address = 2;           // even, non-zero
    uint8_t router = 0;            // router address; 0 = the module's own address
    uint32_t version = 0x2F010200; // packed 8/8/8 form, 1.2.0
    uint32_t build = 1000;
    uint32_t hardwareVersion = 1;
    uint32_t protocolFeatures = 0;
    uint32_t chipId[4] = {0x11111111, 0x22222222, 0x33333333, 0x44444444};
    std::string name = "Simulated module";
};

class ModuleDevice;

class CommandHandler {
  public:
    virtual ~CommandHandler() = default;
    // A request addressed to the device whose command this handler serves.
    // Appends the answers (address filled in by the device).
    virtual void handle(ModuleDevice& device, const SimPacket& request,
                        std::vector<SimPacket>& replies) = 0;
    // cmdINFO capability status of one UEI of this handler's class: 0 when
    // implemented with that access, else an error code.
    virtual uint8_t ueiStatus(uint8_t option, uint8_t index, uint8_t flags) const;
    // Number of entities of this handler's class.
    virtual uint8_t entityCount() const { return 1; }
};

class ModuleDevice {
  public:
    explicit ModuleDevice(const ModuleIdentity& identity);

    const ModuleIdentity& identity() const { return identity_; }
    ModuleIdentity& identity() { return identity_; }
    uint8_t address() const { return identity_.address; }
    uint8_t routerAddress() const {
        return identity_.router ? identity_.router : identity_.address;
    }

    void setHandler(uint8_t command, std::shared_ptr<CommandHandler> handler);
    CommandHandler* handler(uint8_t command) const;

    // Answers one request; packets for commands nobody serves get no answer.
    std::vector<SimPacket> handle(const SimPacket& request);

    // Set by handlers when the module is about to restart (system reset, and
    // later the upgrade's reboot): the link drops after the answers went out.
    bool takeRestart();
    void requestRestart() {
        restart_ = true;
        awayMs_ = 0;
    }
    // A restart during which the module is away for awayMs (a TCP module stops
    // listening meanwhile).
    void requestRestart(unsigned awayMs) {
        restart_ = true;
        awayMs_ = awayMs;
    }
    unsigned restartAwayMs() const { return awayMs_; }
    // The module went away for good: it answers nothing and, on USB, does not
    // come back after its next restart.
    void goOffline() { offline_ = true; }
    bool offline() const { return offline_; }

    // Live values of the system entity that are not part of the identity.
    std::map<uint8_t, uint32_t>& values() { return values_; }

  private:
    ModuleIdentity identity_;
    std::map<uint8_t, std::shared_ptr<CommandHandler>> handlers_;
    std::map<uint8_t, uint32_t> values_;
    bool restart_ = false;
    bool offline_ = false;
    unsigned awayMs_ = 0;
};

// UEI reply builders (values most significant byte first).
SimPacket ueiReply(uint8_t command, uint8_t option, uint8_t index);
SimPacket ueiReplyByte(uint8_t command, uint8_t option, uint8_t index, uint8_t value);
SimPacket ueiReplyInt(uint8_t command, uint8_t option, uint8_t index, uint32_t value);
SimPacket ueiError(uint8_t command, uint8_t option, uint8_t index, uint8_t code);
// A byte string as sequenced packets of up to 24 bytes.
std::vector<SimPacket> ueiReplyBytes(uint8_t command, uint8_t option, uint8_t index,
                                     const std::vector<uint8_t>& bytes);

} // namespace vzsim
