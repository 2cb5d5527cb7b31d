// Shared pieces of the update tests: BIRD files for simulated modules, a store
// directory, the settings a device's entry holds, and the tool's output lines.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "BirdFixtures.h"
#include "BirdWriter.h"
#include "ModuleModel.h"
#include "UpgradeCommand.h"
#include "aDefs.h"

namespace updatetest {

constexpr uint32_t kSerial = 0x40F5849A;
constexpr const char* kSerialText = "40F5849A";
constexpr uint8_t kModel = 19; // "Power Base+"

struct BirdSpec {
    uint32_t build = 2000;
    std::string version = "1.3.0";
    uint32_t serial = kSerial; // serial number in the information block
    uint8_t model = kModel;
    bool generic = false; // a serial-number offsets block: the serial is patched in
    size_t firmwareBytes = 5000;
};

// One loader block and two firmware blocks; a generic image carries serial 0
// and the addresses where the module's serial number goes.
inline std::vector<uint8_t> ModuleBird(const BirdSpec& lspec) {
    BirdWriter writer;
    writer.Info(lspec.build, lspec.version, lspec.generic ? 0 : lspec.serial,
                aDefs_GetModelName(lspec.model));
    if (lspec.generic) writer.SerialOffsets(0x8010, 0x8100);
    writer.Loader(0x10000000, FirmwareImage(700, lspec.build))
        .Firmware(0x8000, FirmwareImage(lspec.firmwareBytes, lspec.build + 1))
        .Firmware(0x20000, FirmwareImage(lspec.firmwareBytes / 2, lspec.build + 2));
    return writer.Build();
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
}

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The value of KEY in a settings file's "KEY=value" lines; empty when absent.
inline std::string SettingsValue(const std::string& text, const std::string& key) {
    for (const std::string& line : Lines(text))
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    return "";
}

// True when the lines hold the wanted ones in this order (others may be between).
inline bool InOrder(const std::vector<std::string>& lines, const std::vector<std::string>& wanted) {
    size_t at = 0;
    for (const std::string& line : lines)
        if (at < wanted.size() && line == wanted[at]) at++;
    return at == wanted.size();
}

inline size_t Count(const std::vector<std::string>& lines, const std::string& wanted) {
    size_t n = 0;
    for (const std::string& line : lines)
        n += line == wanted;
    return n;
}

// The upgrade handler of one simulated device and what it saw.
struct Upgrade {
    vzsim::ModuleModel* model = nullptr;
    std::shared_ptr<vzsim::UpgradeCommand> handler;
    vzsim::ModuleDevice* device = nullptr;

    vzsim::UpgradeStats stats() const {
        return model->locked([&](vzsim::ModuleModel&) { return handler->stats(); });
    }
    vzsim::ModuleIdentity identity() const {
        return model->locked([&](vzsim::ModuleModel&) { return device->identity(); });
    }
};

inline Upgrade InstallUpgrade(vzsim::ModuleModel& model, vzsim::ModuleDevice& device,
                              const vzsim::UpgradeConfig& config) {
    Upgrade u;
    u.model = &model;
    u.device = &device;
    u.handler =
        model.locked([&](vzsim::ModuleModel&) { return vzsim::installUpgrade(device, config); });
    return u;
}

} // namespace updatetest
