// Operations this build does not provide yet. Each says so and fails; each is replaced by
// its own file when it is built.
#include "Updater.h"

bool Updater::Get_Fingerprint(Fingerprint&, std::string, unsigned, std::string, unsigned, bool) {
    _unavailable("Reading a chip fingerprint");
    return false;
}

uint32_t Updater::Download_Firmware(uint32_t, const std::string&, bool, bool) {
    _unavailable("Downloading firmware");
    return 0;
}

std::vector<DeviceInfo> Updater::Discover_Devices(linkType) {
    _unavailable("Discovery");
    return {};
}

std::vector<DeviceInfo> Updater::Discover_QBNetwork_Devices(uint32_t, linkType) {
    _unavailable("Network discovery");
    return {};
}

bool Updater::Update_Firmware(uint32_t, uint32_t, const std::string&, uint8_t, uint32_t, bool) {
    _unavailable("Firmware update");
    return false;
}

bool Updater::Recover_Firmware(const std::string&, uint32_t, uint32_t, uint32_t, const std::string&,
                               bool) {
    _unavailable("Firmware recovery");
    return false;
}

BuildList Updater::Get_BuildList(uint32_t) {
    _unavailable("Listing the server's builds");
    return {};
}

BuildList Updater::Get_BuildListLocal(uint32_t) {
    _unavailable("Listing the stored builds");
    return {};
}

std::string Updater::Get_JWT(uint32_t) {
    _unavailable("Fetching the device token");
    return {};
}

// Lists in map order until the server client's version ordering exists.
void _display_builds(UpdaterDisplayInterface& display, const BuildList& builds, uint32_t serial) {
    const auto info = UpdaterDisplayInterface::LEVEL_INFO;
    if (builds.empty()) {
        display.message(info, "No builds found for device [%08X]", serial);
        return;
    }
    display.message(info, "Build List for device [%08X]:\n", serial);
    display.message(info, "%-15.15s\t%-15.15s", "Build", "Version");
    for (const auto& [build, version] : builds)
        display.message(info, "%-15.15s\t%-15.15s", build.c_str(), version.c_str());
}
