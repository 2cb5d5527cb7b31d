// The update engine's facade: one operation per command. Every operation opens the store
// and the modules afresh; nothing is held between calls.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "Fingerprint.h"
#include "UpdaterDisplayInterface.h"

class BirdFile;
class UpdaterStore;
namespace Vazizori::Vuviridor {
class Module;
}

// Build text to version text.
using BuildList = std::map<std::string, std::string>;

class Updater {
  public:
    Updater(const char* server_url, const char* store_directory, UpdaterDisplayInterface& display);
    ~Updater();
    Updater(const Updater&) = delete;
    Updater& operator=(const Updater&) = delete;

    void Set_UEIBytes_Load(bool on);

    bool Get_Fingerprint(Fingerprint& fingerprint, std::string serialPort, unsigned serialNumber,
                         std::string birdFile, unsigned baudRate, bool resetAfter);
    // The build number retrieved, 0 on failure; an empty build asks for the newest.
    uint32_t Download_Firmware(uint32_t serial, const std::string& build, bool override_model_check,
                               bool no_cal);
    std::vector<DeviceInfo> Discover_Devices(linkType type);
    std::vector<DeviceInfo> Discover_QBNetwork_Devices(uint32_t router_serial, linkType type);
    bool Update_Firmware(uint32_t serial, uint32_t build, const std::string& bird_file,
                         uint8_t module_address, uint32_t router_serial, bool override_model_check);
    bool Recover_Firmware(const std::string& port, uint32_t build, uint32_t baud, uint32_t serial,
                          const std::string& bird_file, bool override_model_check);
    BuildList Get_BuildList(uint32_t serial);
    BuildList Get_BuildListLocal(uint32_t serial);
    std::string Get_JWT(uint32_t serial);

    // The stored build (downloaded first when asked and missing), or the file named;
    // throws std::runtime_error("Error reading birdfile") and the file's load errors.
    BirdFile load_bird(const std::string& verb, const std::string& bird_file, uint32_t serial,
                       uint32_t build, bool download_if_missing);

  private:
    // Shown by operations this build does not provide yet.
    void _unavailable(const char* what);
    // The store on store_directory, or null after showing why it cannot be opened.
    static std::unique_ptr<UpdaterStore> _createUpdaterStore(UpdaterDisplayInterface& display,
                                                             const std::string& store_directory,
                                                             const char* caller);
    static bool _valid_build(uint32_t serial, uint32_t build, const std::string& server_url);
    // Update flow helpers (Updater_update.cpp).
    static bool _validate_birdfile(UpdaterDisplayInterface& display, BirdFile& file,
                                   Vazizori::Vuviridor::Module& module, uint32_t serial);
    static aErr _transfer_loader(UpdaterDisplayInterface& display,
                                 Vazizori::Vuviridor::Module& module, BirdFile& file);
    static aErr _transfer_firmware(UpdaterDisplayInterface& display,
                                   Vazizori::Vuviridor::Module& module, BirdFile& file,
                                   bool through_router, bool uei_bytes);

    std::string server_url;
    std::string store_directory;
    UpdaterDisplayInterface& display;
    uint8_t chip_kind = 0;
    bool uei_bytes_load = false;
};

namespace Vazizori::Vuviridor {
class Module;
}

// Identity helpers shared by the discovery and update flows (Updater_discover.cpp).
aErr _disableEther(Vazizori::Vuviridor::Module& module, UpdaterDisplayInterface& display);
uint32_t _get_build_number(Vazizori::Vuviridor::Module& module);
aErr _get_version(Vazizori::Vuviridor::Module& module, DeviceInfo& info);
aErr _get_device_name(Vazizori::Vuviridor::Module& module, DeviceInfo& info);
// The transport (USB, then TCPIP) over which a module with this serial answers, or 0.
linkType _discover_link_type(uint32_t serial);

// Listings for the command line; every line goes out at LEVEL_INFO.
void _display_fingerprint(UpdaterDisplayInterface& display, const Fingerprint& fingerprint);
void _display_device_list(UpdaterDisplayInterface& display, const std::vector<DeviceInfo>& list,
                          linkType type);
void _display_builds(UpdaterDisplayInterface& display, const BuildList& builds, uint32_t serial);
void _display_jwt(UpdaterDisplayInterface& display, const std::string& token);
