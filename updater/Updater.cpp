#include "Updater.h"

#include <cstdio>
#include <cstring>

#include "aDefs.h"

Updater::Updater(const char* server_url_, const char* store_directory_,
                 UpdaterDisplayInterface& display_)
    : server_url(server_url_ ? server_url_ : ""),
      store_directory(store_directory_ ? store_directory_ : ""), display(display_) {}

Updater::~Updater() = default;

void Updater::Set_UEIBytes_Load(bool on) {
    uei_bytes_load = on;
}

void Updater::_unavailable(const char* what) {
    display.message(UpdaterDisplayInterface::LEVEL_ERROR, "%s is not available in this build yet",
                    what);
}

void _display_fingerprint(UpdaterDisplayInterface& display, const Fingerprint& fingerprint) {
    display.message(UpdaterDisplayInterface::LEVEL_INFO, "[ %08X %08X %08X %08X ]",
                    fingerprint.words[0], fingerprint.words[1], fingerprint.words[2],
                    fingerprint.words[3]);
}

void _display_device_list(UpdaterDisplayInterface& display, const std::vector<DeviceInfo>& list,
                          linkType type) {
    const auto info = UpdaterDisplayInterface::LEVEL_INFO;
    const uint32_t kind = static_cast<uint32_t>(type);
    display.message(info, "Discovered Devices: (%s)",
                    kind == 1   ? "USB"
                    : kind == 2 ? "TCPIP"
                                : "Unknown");
    if (list.empty()) {
        display.message(info, "    No devices found.");
        return;
    }
    if (kind == 1)
        display.message(info, "    Device    Module   Router  Model          Firmware Version "
                              "(Build)    Device Name");
    else
        display.message(info, "    Device    Module   Router  Model          Firmware Version "
                              "(Build)   [IP address]       Device Name");

    for (const DeviceInfo& device : list) {
        const linkSpec& lspec = device.spec;
        const char* model = aDefs_GetModelName(lspec.model);
        if (static_cast<uint32_t>(lspec.type) == 2) {
            uint8_t ip[4];
            memcpy(ip, &lspec.ipAddress, sizeof(ip)); // stored in network order
            char address[24];
            snprintf(address, sizeof(address), "[%d.%d.%d.%d]", ip[0], ip[1], ip[2], ip[3]);
            display.message(
                info, "    %08X  %02X       %02X      %-12s %3d.%d.%d (%10u)        %-17s  %s",
                lspec.serialNumber, lspec.module, lspec.router, model, device.version_major,
                device.version_minor, static_cast<int>(device.version_patch), device.build_number,
                address, device.device_name.c_str());
        } else if (device.error != aErrNone) {
            display.message(info,
                            "    %08X  [Error (%d): Is someone else connected to this device?]",
                            lspec.serialNumber, static_cast<int>(device.error));
        } else {
            display.message(
                info, "    %08X  %02X       %02X      %-12s %3d.%d.%d (%10u)         %s",
                lspec.serialNumber, lspec.module, lspec.router, model, device.version_major,
                device.version_minor, static_cast<int>(device.version_patch), device.build_number,
                device.device_name.c_str());
        }
    }
}

void _display_jwt(UpdaterDisplayInterface& display, const std::string& token) {
    // Straight to the console: message() would cut a token longer than its 2048-byte buffer.
    display.info_message(token.c_str());
}
