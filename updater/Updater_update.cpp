// The update command: choose the BIRD file, connect to the module directly or
// through a router, check file and module, run the loader and firmware phases
// of the upgrade protocol and record the transfer once it succeeded.
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BirdFile.h"
#include "KeyValueStore.h"
#include "Log.h"
#include "Module.h"
#include "SystemClass.h"
#include "UpdateServerRequest.h"
#include "Updater.h"
#include "UpdaterEntity.h"
#include "UpdaterStore.h"
#include "aDefs.h"
#include "aTime.h"

using Vazizori::Vuviridor::Module;
using Vazizori::Vuviridor::SystemClass;

namespace {

constexpr auto kInfo = UpdaterDisplayInterface::LEVEL_INFO;
constexpr auto kError = UpdaterDisplayInterface::LEVEL_ERROR;

// Tries to find a module again after its loader took the link down.
constexpr int kRediscoverTries = 15;
constexpr unsigned kRediscoverPauseMs = 1000;
// How long a module that answered the loader start may take to drop its link.
constexpr unsigned kLoaderSettleMs = 1000;
constexpr int kFirmwareAttempts = 5;

bool sDecimal(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (v > UINT32_MAX) return false;
    value = (uint32_t)v;
    return true;
}

std::string sBirdName(uint32_t build) {
    return std::to_string(build) + ".bird";
}

// Connects over USB, then TCP/IP when no USB module has that serial number.
aErr sConnectDirect(Module& module, uint32_t serial) {
    aErr error = module.connect(USB, serial);
    if (error == aErrNotFound) error = module.connect(TCPIP, serial);
    return error;
}

// The transport a module was reached by; USB when it cannot be told.
linkType sLinkType(const Module& module) {
    linkSpec lspec{};
    if (module.getLinkSpecifier(&lspec) != aErrNone) return USB;
    return lspec.type == TCPIP ? TCPIP : USB;
}

// Switches a router's routing to this host off again when the update ends.
struct RouteToMe {
    Module* router = nullptr;
    RouteToMe() = default;
    RouteToMe(const RouteToMe&) = delete;
    RouteToMe& operator=(const RouteToMe&) = delete;
    ~RouteToMe() {
        if (!router || !router->isConnected()) return;
        SystemClass system;
        system.init(router, 0);
        system.routeToMe(0);
    }
};

} // namespace

bool Updater::Update_Firmware(uint32_t serial, uint32_t build, const std::string& bird_file_in,
                              uint8_t module_address, uint32_t router_serial,
                              bool override_model_check) {
    std::string bird_file = bird_file_in;
    if (serial == 0) {
        display.message(kError, "Update command must specify the specific device");
        return false;
    }
    std::unique_ptr<UpdaterStore> store =
        _createUpdaterStore(display, store_directory, "Update_Firmware");
    if (!store) return false;
    UpdaterStoreItem entry;
    store->FindDevice(serial, entry);
    const uint64_t start = aTime_GetMSTicks();

    if (bird_file.empty() && build == 0) {
        std::string build_text, firmware;
        UpdateServerRequest::QueryBuild(serial, build_text, firmware, server_url);
        if (!build_text.empty() && !sDecimal(build_text, build)) {
            Log::log(DEBUG_Updater, "Error: Could not convert %s to int.\n", build_text.c_str());
            build = 0;
        }
        if (build != 0) {
            try {
                if (!entry.IsValid()) throw std::runtime_error("no entry");
                entry.ReadBirdFile(sBirdName(build));
            } catch (const std::runtime_error&) {
                display.message(kInfo, "New firmware is available.  Updater will proceed if valid "
                                       "firmware is found locally.");
                build = 0;
            }
        }
        if (build == 0 && entry.IsValid()) {
            build = (uint32_t)entry.settings.GetInt("LATEST_DOWNLOAD");
            if (build != 0) display.message(kInfo, "Updating with the Latest Download");
        }
        if (build == 0 && entry.IsValid()) {
            build = (uint32_t)entry.settings.GetInt("LATEST_TRANSFER");
            if (build != 0) display.message(kInfo, "Updating with the Latest Transfer");
        }
        if (build == 0) {
            display.message(kError, "Could not find valid build for this device.");
            return false;
        }
    }

    BirdFile file;
    try {
        file = load_bird("Updating", bird_file, serial, build, false);
    } catch (const std::runtime_error&) {
        display.message(kError, "Failed to load bird file");
        return false;
    }
    if (file.hasSerialBlock) {
        Log::log(DEBUG_Updater, "Setting serial number into firmware... ");
        if (!file.ReplaceSerialNumber(serial)) {
            Log::log(DEBUG_Updater, "Error: Unable to modify serial number in bird.\n");
            // A log line alone would leave the user with a bare exit status.
            display.message(kError, "Unable to set serial number [%08X] into the firmware", serial);
            return false;
        }
        Log::log(DEBUG_Updater, " Serial Number inserted into firmware.\n");
    }

    Module target(module_address, 0);
    // The router stays until the end so that routing can be switched off again.
    std::unique_ptr<Module> router;
    RouteToMe routing;
    aErr error = _disableEther(target, display);
    if (error == aErrNone && router_serial == 0) {
        error = sConnectDirect(target, serial);
        if (error != aErrNone)
            display.message(kError, "Failed to connect to module [%08X]", serial);
    } else if (error == aErrNone) {
        if (module_address == 0) {
            std::vector<DeviceInfo> members =
                Discover_QBNetwork_Devices(router_serial, (linkType)0);
            if (members.empty()) {
                display.message(kError, "Unable to find modules on Network");
                return false;
            }
            for (const DeviceInfo& member : members)
                if (member.spec.serialNumber == serial && member.network_address != 0)
                    module_address = (uint8_t)member.network_address;
            if (module_address == 0) {
                display.message(kError,
                                "Module address required for indirect firmware update, could not "
                                "find serial number [0x%08X] on network",
                                serial);
                return false;
            }
            target.setModuleAddress(module_address);
        }
        router = std::make_unique<Module>(0, 0);
        _disableEther(*router, display);
        if (sConnectDirect(*router, router_serial) != aErrNone) {
            display.message(kError, "Failed to connect to link module [%08X]", router_serial);
            return false;
        }
        // The network search switched routing to this host off when it was done;
        // without it the module's answers never leave the router's network.
        SystemClass routerSystem;
        routerSystem.init(router.get(), 0);
        if ((error = routerSystem.routeToMe(1)) != aErrNone)
            display.message(kError, "Error %d on route to me", error);
        else
            routing.router = router.get();
        if (error == aErrNone) error = target.connectThroughLinkModule(router.get());
        if (error != aErrNone)
            display.message(kError, "Failed to connect to module [%08X]", serial);
    }

    if (error != aErrNone) {
        // What went wrong was shown already.
        Log::log(DEBUG_Updater, "Failed _transfer_firmware(): %d\n", error);
        return false;
    }
    {
        if (!override_model_check && !_validate_birdfile(display, file, target, serial)) {
            display.message(kError, "Birdfile failed validation");
            return false;
        }
        const linkType reached = sLinkType(target);
        error = _transfer_loader(display, target, file);
        // A loader that takes the link down does so right after its answer; going
        // on before the drop shows would send the firmware into a closing link.
        if (error == aErrNone && router_serial == 0)
            UpdaterEntity::AwaitLinkDrop(target, kLoaderSettleMs);
        if (error == aErrNone && !target.isConnected()) {
            // Look for it where it was: a TCP/IP module does not come back on USB.
            target.disconnect();
            for (int attempt = 0; attempt < kRediscoverTries; attempt++) {
                if (target.discoverAndConnect(reached, serial) == aErrNone && target.isConnected())
                    break;
                target.disconnect();
                aTime_MSSleep(kRediscoverPauseMs);
            }
        }
        if (error == aErrNone)
            error = _transfer_firmware(display, target, file, router_serial != 0, uei_bytes_load);
    }

    if (error != aErrNone) {
        Log::log(DEBUG_Updater, "Failed _transfer_firmware(): %d\n", error);
        // The phases mostly log; the user must not be left with a bare exit status.
        display.message(kError, "Firmware update failed [%d, %s]", error,
                        aError_GetErrorText(error));
        return false;
    }

    if (bird_file.empty()) bird_file = sBirdName(build);
    try {
        // A file given with -f may be for a device the store has not seen yet.
        if (!entry.IsValid()) entry = store->AddDevice(serial);
        entry.settings.Add("LATEST_TRANSFER", bird_file);
        entry.settings.Add("LAST_TRANSFER_DATE", KeyValueStore::TimeStamp());
        entry.settings.Save();
    } catch (const std::runtime_error& e) {
        display.message(kError, "Could not record the transfer: %s", e.what());
    }
    Log::log(DEBUG_Updater, "Updating device firmware: \n");
    display.message(kInfo, "Update time: %.4f sec", (double)(aTime_GetMSTicks() - start) / 1000.0);
    return true;
}

bool Updater::_validate_birdfile(UpdaterDisplayInterface& display, BirdFile& file, Module& module,
                                 uint32_t serial) {
    if (file.blockCount == 0) return false;
    if (!file.hasSerialBlock && !file.ValidateSerialNumber(serial)) return false;
    Log::log(DEBUG_Updater, "UpdateFirmware() Connecting to device\n");
    SystemClass system;
    system.init(&module, 0);
    uint32_t connected = 0;
    aErr error = system.getSerialNumber(&connected);
    if (error != aErrNone || connected != serial) {
        Log::log(DEBUG_Updater, "Bird serial number and connected device don't match (%d).\n",
                 error);
        return false;
    }
    uint8_t model = 0;
    error = system.getModel(&model);
    const char* name = aDefs_GetModelName(model);
    // A model that could not be read is no match either.
    if (error != aErrNone || !file.ValidateModel(name)) {
        display.message(kError, "Connected device model and Bird file model do not match [%s] (%d)",
                        name, error);
        return false;
    }
    return true;
}

aErr Updater::_transfer_loader(UpdaterDisplayInterface& display, Module& module, BirdFile& file) {
    UpdaterEntity entity;
    entity.init(&module, 0, true, false);
    aErr error = entity.LoaderInit();
    if (error != aErrNone) {
        Log::log(DEBUG_Updater, "Error starting loader [%d, %s].\n", error,
                 aError_GetErrorText(error));
        return error;
    }
    display.message(kInfo, "Transferring loader to device");
    std::vector<BirdBlock> blocks = file.FindBlocks(BirdFile::BLOCK_LOADER);
    display.display_progress(true);
    int sent = 0;
    uint32_t bytes = 0;
    // Any block that failed fails the phase: starting half a loader is worse than none.
    aErr failed = aErrNone;
    for (size_t i = 0; i < blocks.size(); i++) {
        const BirdBlock& block = blocks[i];
        display.message(kInfo, "Transferring loader block %d of %d, %d bytes", (int)(i + 1),
                        (int)blocks.size(), (int)block.length);
        uint16_t chunk = 0;
        error = entity.TransferPrepare(block.data, block.length, block.flags, chunk);
        if (error != aErrNone && error != aErrTimeout) {
            Log::log(DEBUG_Updater, "Error Preparing transfer [%d, %s].\n", error,
                     aError_GetErrorText(error));
            failed = error;
            break;
        }
        error = entity.LoaderTransfer(block.data, block.length);
        if (error != aErrNone) {
            Log::log(DEBUG_Updater, "Error loader transfer [%d, %s].\n", error,
                     aError_GetErrorText(error));
            if (failed == aErrNone) failed = error;
            continue;
        }
        sent++;
        bytes += block.length;
    }
    display.message(kInfo, "Transferred %d blocks, %d total bytes", sent, (int)bytes);
    display.display_progress(false);
    if (failed != aErrNone) return failed;

    display.message(kInfo, "Starting Load on Device");
    error = entity.LoaderStart();
    if (error == aErrTimeout) {
        Log::log(DEBUG_Updater,
                 "Timeout on LoaderStart. Usually indicates this is an iMX Load ignore err.\n");
        return aErrNone;
    }
    if (error != aErrNone)
        display.message(kError, "Error starting loader [%d, %s]", error,
                        aError_GetErrorText(error));
    return error;
}

aErr Updater::_transfer_firmware(UpdaterDisplayInterface& display, Module& module, BirdFile& file,
                                 bool through_router, bool uei_bytes) {
    UpdaterEntity entity;
    entity.init(&module, 0, true, through_router);
    if (uei_bytes && entity.CheckUEIDataSupport() == aErrNone) entity.CheckPooledPacketsSupport();
    Log::log(DEBUG_Updater, "Transferring firmware to device %s\n", file.path.c_str());
    std::vector<BirdBlock> blocks = file.FindBlocks(BirdFile::BLOCK_FIRMWARE);
    aErr error = aErrNone;
    int sent = 0;
    uint32_t bytes = 0;
    for (size_t i = 0; i < blocks.size(); i++) {
        const BirdBlock& block = blocks[i];
        for (int attempt = 0; attempt < kFirmwareAttempts; attempt++) {
            display.message(kInfo, "Transferring firmware block %u of %u, %d bytes",
                            (unsigned)(i + 1), (unsigned)blocks.size(), (int)block.length);
            if (attempt > 0) {
                display.message(kInfo, "  Retry %d", attempt);
                // Without this, a link that broke during the last attempt
                // would make every retry fail at once.
                entity.RestoreLink();
            }
            uint16_t chunk = 0;
            error = entity.TransferPrepare(block.data, block.length, block.flags, chunk);
            if (error != aErrNone) {
                Log::log(DEBUG_Updater, "Error firmware transfer init: [%d, %s].\n", error,
                         aError_GetErrorText(error));
                break;
            }
            error = entity.FirmwareTransfer(block.data, block.length, chunk, display);
            if (error == aErrNone) break;
            Log::log(DEBUG_Updater, "Error firmware transfer [%d, %s].\n", error,
                     aError_GetErrorText(error));
        }
        if (error != aErrNone) {
            Log::log(DEBUG_Updater, "Error firmware transfer block failed.\n");
            break;
        }
        sent++;
        bytes += block.length;
    }
    display.message(kInfo, "Transferred %d blocks, %d total bytes", sent, (int)bytes);
    if (error != aErrNone) return error;
    error = entity.LoaderReboot(display);
    if (error == aErrTimeout)
        display.message(kError, "The module did not restart after the reboot request");
    return error;
}
