// Entry point: scan the command line, then run the fixed command sequence.
#include <cstdio>
#include <string>

#include "BuildPath.h"
#include "CLI_Display.h"
#include "CommandLine.h"
#include "Log.h"
#include "Parameters.h"
#include "Updater.h"
#include "Usage.h"
#include "aDirectory.h"

namespace {

const auto INFO = UpdaterDisplayInterface::LEVEL_INFO;
const auto ERROR = UpdaterDisplayInterface::LEVEL_ERROR;

constexpr uint32_t kDefaultSerialNumber = 0xCBFFBBEF;

// Empty or non-numeric build text means "choose one" (0).
uint32_t sBuildNumber(const std::string& text) {
    if (text.empty()) return 0;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
        if (value > 0xFFFFFFFFull) return 0;
    }
    return static_cast<uint32_t>(value);
}

// Resolves and creates the store directory; false when the run must end.
bool sStoreDirectory(UpdaterDisplayInterface& display, Parameters& params) {
    if (params.store_directory.empty()) {
        char home[2048];
        const aErr err = aDirectory_GetHomeDirectory(home, sizeof(home));
        if (err != aErrNone) {
            Log::log(DEBUG_APP, "Updater: FailedaDirectory_GetHomeDirectory()==> %d\n",
                     static_cast<int>(err));
            return false;
        }
        params.home_directory = home;
        params.store_directory = BuildPath(home, ".vazizori");
    }
    params.store_directory = BuildPath(params.store_directory, "updater");
    if (aDirectory_Ensure(params.store_directory.c_str(), 0755) != aErrNone) {
        display.message(ERROR, "Could not find updater directory at %s",
                        params.store_directory.c_str());
        return false;
    }
    return true;
}

// Steps 9.3 to 9.5: a listing that needs a serial number.
int sMissingSerial(UpdaterDisplayInterface& display, const char* text) {
    display.message(ERROR, "%s", text);
    _display_usage(false, false);
    return 1;
}

int sRun(CLI_Display& display, Parameters& params) {
    if (!sStoreDirectory(display, params)) return 1;

    Updater updater(params.server_url.c_str(), params.store_directory.c_str(), display);
    int status = 0;

    if (params.commands.IsSet(CMD_FINGERPRINT)) {
        if (params.serial_port.empty()) {
            display.message(ERROR, "Must specify the serial port used for connecting");
            return 1;
        }
        Fingerprint fingerprint;
        if (updater.Get_Fingerprint(fingerprint, params.serial_port, kDefaultSerialNumber,
                                    params.bird_file, params.baud_rate, true)) {
            _display_fingerprint(display, fingerprint);
        } else {
            display.message(ERROR, "Got no response from chip");
            status = 1;
        }
    }

    if (params.commands.IsSet(CMD_GET_FIRMWARE)) {
        if (params.serial == 0) {
            display.message(ERROR, "-G must specify a specific device via -d");
            display.message(ERROR, "--help for usage information");
            return 1;
        }
        display.message(INFO, "Retrieving firmware for device with serial number %08X",
                        params.serial);
        if (params.build.empty()) {
            display.message(INFO, "No build specified");
            display.message(INFO, "Using Latest build");
        } else {
            display.message(INFO, "Retrieving firmware build %s", params.build.c_str());
        }
        const uint32_t build = updater.Download_Firmware(params.serial, params.build,
                                                         params.override_model_check, false);
        if (build == 0) {
            status = 1;
        } else {
            params.build = std::to_string(build);
            status = 0;
        }
    }

    if (params.commands.IsSet(CMD_DISCOVER)) {
        const uint32_t kind =
            params.transport_given && params.transport != TRANSPORT_RECOVER ? params.transport : 0;
        std::vector<DeviceInfo> devices;
        linkType shown;
        if (params.router_serial == 0) {
            display.message(INFO, "Searching for Vuviridor devices");
            shown = static_cast<linkType>(kind ? kind : 1);
            devices = updater.Discover_Devices(shown);
        } else {
            display.message(INFO, "Searching for Vuviridor Network devices connected to %08X",
                            params.router_serial);
            shown = static_cast<linkType>(kind);
            devices = updater.Discover_QBNetwork_Devices(params.router_serial, shown);
        }
        _display_device_list(display, devices, shown);
        return 0;
    }

    if (params.commands.IsSet(CMD_UPDATE)) {
        const uint32_t build = sBuildNumber(params.build);
        updater.Set_UEIBytes_Load(params.uei_bytes_load);
        bool done;
        if (params.transport == TRANSPORT_RECOVER) {
            done =
                updater.Recover_Firmware(params.serial_port, build, params.baud_rate, params.serial,
                                         params.bird_file, params.override_model_check);
        } else {
            if (params.serial == 0) {
                display.message(ERROR, "Must specify the specific device to be updated");
                return 1;
            }
            done = updater.Update_Firmware(params.serial, build, params.bird_file,
                                           params.module_address, params.router_serial,
                                           params.override_model_check);
        }
        return done ? 0 : 1;
    }

    if (params.commands.IsSet(CMD_LIST_BUILDS)) {
        if (params.serial == 0)
            return sMissingSerial(display,
                                  "Error must supply a serial number for the List Builds command");
        const BuildList builds = updater.Get_BuildList(params.serial);
        _display_builds(display, builds, params.serial);
        return 0;
    }

    if (params.commands.IsSet(CMD_LIST_LOCAL_BUILDS)) {
        if (params.serial == 0)
            return sMissingSerial(
                display, "Error must supply a serial number for the List Local Builds command");
        const BuildList builds = updater.Get_BuildListLocal(params.serial);
        _display_builds(display, builds, params.serial);
        return 0;
    }

    if (params.commands.IsSet(CMD_GET_JWT)) {
        if (params.serial == 0)
            return sMissingSerial(display,
                                  "Error must supply a serial number for the Get JWT command");
        const std::string token = updater.Get_JWT(params.serial);
        _display_jwt(display, token);
        return 0;
    }

    return status;
}

} // namespace

int main(int argc, char** argv) {
    Log::SetOutput(stderr);
    Parameters params;
    CLI_Display display;

    if (_get_params(display, argc, argv, &params) != 0) {
        _display_app_version(display);
        _display_copyright(display);
        _display_usage(false, false);
        return 1;
    }

    _display_app_version(display);
    if (params.commands.IsSet(CMD_HELP) || !params.commands.IsSet(CMD_ANY_COMMAND)) {
        _display_copyright(display);
        _display_usage(params.show_extended_usage, params.show_full_usage);
        return 0;
    }
    return sRun(display, params);
}
