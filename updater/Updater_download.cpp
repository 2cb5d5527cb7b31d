// Firmware acquisition and build catalogue: downloads into the local store,
// server and stored build lists, the device token; opening the store and
// loading a stored build for the update and recovery flows.
#include "Updater.h"

#include "BirdFile.h"
#include "KeyValueStore.h"
#include "Log.h"
#include "UpdateServerRequest.h"
#include "UpdaterStore.h"
#include "base64.h"

#include <chrono>
#include <exception>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

namespace {

constexpr auto kInfo = UpdaterDisplayInterface::LEVEL_INFO;
constexpr auto kError = UpdaterDisplayInterface::LEVEL_ERROR;

// Whole text as a 32-bit decimal number; "12a", "" and "-1" are not numbers.
bool sDecimal(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unsigned long long v = std::stoull(text);
    if (v > UINT32_MAX) return false;
    value = (uint32_t)v;
    return true;
}

std::string sBirdName(uint32_t build) {
    return std::to_string(build) + ".bird";
}

// Runs the file request on its own thread so the spinner keeps turning.
bool sFetchWithSpinner(UpdaterDisplayInterface& display, uint32_t serial,
                       const std::string& firmware, const std::string& build,
                       const std::string& server_url, bool no_cal, std::string& fileText) {
    std::promise<bool> result;
    std::future<bool> done = result.get_future();
    std::thread worker([&result, &fileText, serial, firmware, build, server_url, no_cal] {
        bool ok = false;
        try {
            ok = UpdateServerRequest::GetBuild(serial, firmware, build, fileText, server_url,
                                               no_cal);
        } catch (const std::exception&) {
            ok = false;
        }
        result.set_value(ok);
    });
    display.update_spinner(true, "Downloading");
    while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
        display.update_spinner(true, "Downloading");
    display.update_spinner(false, "Downloading");
    bool ok = done.get();
    if (!ok) display.message(kError, "Download failed");
    worker.join();
    return ok;
}

} // namespace

std::unique_ptr<UpdaterStore> Updater::_createUpdaterStore(UpdaterDisplayInterface& display,
                                                           const std::string& store_directory,
                                                           const char* caller) {
    try {
        return std::make_unique<UpdaterStore>(store_directory);
    } catch (const std::runtime_error& e) {
        display.message(kError, "Failed to Create UpdaterStore in: %s - Exception: %s", caller,
                        e.what());
        return nullptr;
    }
}

BirdFile Updater::load_bird(const std::string& verb, const std::string& bird_file, uint32_t serial,
                            uint32_t build, bool download_if_missing) {
    std::unique_ptr<UpdaterStore> store =
        _createUpdaterStore(display, store_directory, "load_bird");
    if (!store) return BirdFile();
    if (!bird_file.empty()) {
        display.message(kInfo, "%s from Birdfile: %s", verb.c_str(), bird_file.c_str());
        return BirdFile(bird_file);
    }
    UpdaterStoreItem item = store->AddDevice(serial);
    display.message(kInfo, "%s firmware with build: %u", verb.c_str(), build);
    try {
        return item.ReadBirdFile(sBirdName(build));
    } catch (const std::runtime_error&) {
        if (!download_if_missing) throw std::runtime_error("Error reading birdfile");
    }
    display.message(kInfo, "Downloading firmware build %u", build);
    Download_Firmware(serial, std::to_string(build), false, false);
    return item.ReadBirdFile(sBirdName(build));
}

bool Updater::_valid_build(uint32_t serial, uint32_t build, const std::string& server_url) {
    BuildList builds;
    if (!UpdateServerRequest::GetBuildList(serial, builds, server_url)) return false;
    for (const auto& entry : builds) {
        uint32_t value = 0;
        // An entry that is no number matches nothing, not even a build of 0.
        if (!sDecimal(entry.first, value)) {
            Log::log(DEBUG_Updater, "Error: Could not convert %s to int.\n", entry.first.c_str());
            continue;
        }
        if (value == build) return true;
    }
    return false;
}

uint32_t Updater::Download_Firmware(uint32_t serial, const std::string& build_text,
                                    bool override_model_check, bool no_cal) {
    uint32_t build = 0;
    if (!build_text.empty() && !sDecimal(build_text, build)) {
        display.message(kError, "Build number '%s' must be an number", build_text.c_str());
        return 0;
    }
    if (serial == 0) {
        display.message(kError, "Serial Number must be non-zero");
        return 0;
    }
    if (!UpdateServerRequest::ping(server_url)) {
        display.message(kError, "Server request failed for %s", server_url.c_str());
        return 0;
    }

    std::unique_ptr<UpdaterStore> store =
        _createUpdaterStore(display, store_directory, "Download_Firmware");
    if (!store) return 0;
    UpdaterStoreItem item;
    if (!store->FindDevice(serial, item)) {
        Log::log(DEBUG_APP, "Could not find device in our update history.\n");
        try {
            item = store->AddDevice(serial);
        } catch (const std::runtime_error&) {
            display.message(kError, "Could not create directory for storing BIRD file");
            return 0;
        }
    }

    std::string latest, firmware;
    if (!UpdateServerRequest::QueryBuild(serial, latest, firmware, server_url)) {
        display.message(kError, "No build information for device");
        return 0;
    }
    if (build_text.empty() && !sDecimal(latest, build)) {
        Log::log(DEBUG_Updater, "Error: Could not convert %s to int.\n", latest.c_str());
        build = 0;
    }
    display.message(kInfo, "Retrieving build %u", build);

    if (override_model_check) {
        display.message(kInfo, "Override specified, skipping validation of build %u", build);
    } else {
        display.message(kInfo, "Validating build %u with server", build);
        if (!_valid_build(serial, build, server_url)) {
            display.message(kError, "No valid build %u", build);
            return 0;
        }
        display.message(kInfo, "Build %u is valid", build);
    }

    std::string fileText;
    sFetchWithSpinner(display, serial, firmware, std::to_string(build), server_url, no_cal,
                      fileText);
    if (fileText.empty()) {
        display.message(kError, "Failed to retrieve a valid BIRD file");
        return 0;
    }

    // Only a file that decodes and loads as a BIRD file may replace what the store holds.
    size_t length = 0;
    std::unique_ptr<uint8_t[]> bytes(base64_decode(fileText.data(), fileText.size(), &length));
    BirdFile check;
    if (!bytes || !check.LoadData(bytes.get(), length)) {
        display.message(kError, "Failed to retrieve a valid BIRD file");
        return 0;
    }
    aErr written = item.WriteFile(sBirdName(build), bytes.get(), length);
    if (written != aErrNone) {
        display.message(kError, "Failed to write file with %d", (int)written);
        return 0;
    }
    item.settings.Add("LATEST_DOWNLOAD", sBirdName(build));
    item.settings.Add("LAST_DOWNLOAD_DATE", KeyValueStore::TimeStamp());
    item.settings.Save();
    return build;
}

BuildList Updater::Get_BuildList(uint32_t serial) {
    BuildList builds;
    if (!UpdateServerRequest::ping(server_url)) {
        display.message(kError, "Server request failed for %s", server_url.c_str());
        return builds;
    }
    if (!UpdateServerRequest::GetBuildList(serial, builds, server_url))
        display.message(kError, "Failed to retrieve builds for %08X", serial);
    return builds;
}

BuildList Updater::Get_BuildListLocal(uint32_t serial) {
    BuildList builds;
    std::unique_ptr<UpdaterStore> store =
        _createUpdaterStore(display, store_directory, "Get_BuildListLocal");
    if (!store) return builds;
    std::vector<UpdaterStoreItem> items;
    store->FindLocalBuilds(serial, items);
    for (const UpdaterStoreItem& item : items) {
        std::string key = item.name.substr(0, item.name.find(".bird"));
        std::string version;
        if (item.IsValid()) {
            std::string path = item.basePath + "/" + item.name;
            bool loaded = false;
            if (BirdFile::VerifyFile(path)) {
                // A file with a good header may still be damaged inside: list it without version.
                try {
                    version = BirdFile(path).GetVersion();
                    loaded = true;
                } catch (const std::runtime_error&) {
                }
            }
            if (!loaded)
                Log::log(DEBUG_Updater, "Could NOT file VERSION in birdfile: %s\n", path.c_str());
            else if (!version.empty())
                Log::log(DEBUG_Updater, "Found VERSION in birdfile: %s - Version: %s\n",
                         path.c_str(), version.c_str());
        }
        builds.emplace(key, version);
    }
    return builds;
}

std::string Updater::Get_JWT(uint32_t serial) {
    std::string token;
    if (!UpdateServerRequest::ping(server_url)) {
        display.message(kError, "Server request failed for %s", server_url.c_str());
        return token;
    }
    if (!UpdateServerRequest::GetDeviceJWT(serial, token, server_url))
        display.message(kError, "Failed to retrieve jwt for %08X", serial);
    return token;
}

void _display_builds(UpdaterDisplayInterface& display, const BuildList& builds, uint32_t serial) {
    if (builds.empty()) {
        display.message(kInfo, "No builds found for device [%08X]", serial);
        return;
    }
    display.message(kInfo, "Build List for device [%08X]:\n", serial);
    display.message(kInfo, "%-15.15s\t%-15.15s", "Build", "Version");
    for (const auto& [build, version] : UpdateServerRequest::SortBuildsByVersion(builds))
        display.message(kInfo, "%-15.15s\t%-15.15s", build.c_str(), version.c_str());
}
