// Host side of a module's upgrade command (95): loader phase, firmware phase in
// chunks with running sums, reboot. One entity per phase, bound to one Module.
#pragma once

#include <cstdint>

#include "Entity.h"
#include "UpdaterDisplayInterface.h"

namespace Vazizori {
namespace Vuviridor {
class Module;
}
} // namespace Vazizori

enum : uint8_t {
    val_UPGRADE_INIT = 0,
    val_UPGRADE_DATA = 1,
    val_UPGRADE_LOAD = 2,
    val_UPGRADE_PREPARE = 3,
    val_UPGRADE_SUM = 4,
    val_UPGRADE_WRITE = 5,
    val_UPGRADE_REBOOT = 6,
    val_UPGRADE_STATUS = 7,
    val_UPGRADE_DATA_UEI = 10,
};

// Data bytes of one DATA packet after the command and option bytes.
#define UPGRADE_DATA_PIECE 26
// Resends of one DATA piece whose byte count came back wrong.
#define UPGRADE_DATA_RESENDS 8
// Longest wait for the link to drop after the reboot request, in rounds of 250 ms.
#define UPGRADE_REBOOT_WAIT_MS 20000
#define UPGRADE_REBOOT_ROUND_MS 250
#define UPGRADE_RECONNECT_TRIES 5
#define UPGRADE_DEFAULT_SERIAL 0xCBFFBBEF

class UpdaterEntity : public Vazizori::Vuviridor::EntityClass {
  public:
    UpdaterEntity() = default;
    ~UpdaterEntity() override = default;

    void init(Vazizori::Vuviridor::Module* module, uint8_t index, bool validate_sums,
              bool no_wait_for_drop);

    aErr LoaderInit();
    aErr TransferPrepare(const uint8_t* block, uint32_t length, uint8_t flags,
                         uint16_t& chunk_size);
    aErr LoaderStart();
    aErr LoaderTransfer(const uint8_t* block, uint32_t length);
    aErr FirmwareTransfer(const uint8_t* block, uint32_t length, uint16_t chunk_size,
                          UpdaterDisplayInterface& display);
    aErr FirmwareWrite(uint32_t count);
    aErr LoaderReboot(UpdaterDisplayInterface& display);

    // A connection that dropped leaves the link refusing every packet until
    // it is made again; this remakes it (bounded tries) when it is not running.
    aErr RestoreLink();

    aErr CheckUEIDataSupport();
    aErr CheckPooledPacketsSupport();

    // Waits up to max_ms for the module's link to drop (a loader that restarts
    // the module); true when it dropped.
    static bool AwaitLinkDrop(Vazizori::Vuviridor::Module& module, uint32_t max_ms);

    // Round trips (requests that waited for a reply) since init.
    uint32_t RoundTrips() const { return round_trips; }

  private:
    aErr _block_transfer(const uint8_t* data, uint32_t length, uint32_t& packets);
    aErr _block_transfer_uei_helper(const uint8_t* data, uint32_t length, uint32_t& packets,
                                    uint32_t& sum);
    aErr _reconnect(uint32_t delay_ms);
    aErr _reconnect_as_before(uint32_t delay_ms);
    // Waits for the reply whose first two data bytes are 95, option.
    aErr _await(uint8_t option, size_t& length, uint8_t* reply);

    Vazizori::Vuviridor::Module* module = nullptr;
    bool validate_sums = true;
    bool no_wait_for_drop = false;
    bool uei_data = false;
    uint32_t round_trips = 0;
};
