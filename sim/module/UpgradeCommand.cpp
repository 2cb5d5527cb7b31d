#include "UpgradeCommand.h"

#include <cstdio>
#include <stdexcept>

#include "BirdFile.h"
#include "SimConfig.h"

namespace vzsim {
namespace {

enum : uint8_t {
    kInit = 0,
    kData = 1,
    kLoad = 2,
    kPrepare = 3,
    kSum = 4,
    kWrite = 5,
    kReboot = 6,
    kStatus = 7,
    kDataUEI = 10,
};
const uint8_t kErrPacket = 24;
const uint8_t kErrInvalidOption = 29;
const uint8_t kErrMode = 7;

SimPacket sStatus(uint8_t status, std::vector<uint8_t> more = {}) {
    SimPacket p;
    p.data.reserve(3 + more.size());
    p.data.push_back(kCmdUpgrade);
    p.data.push_back(kStatus);
    p.data.push_back(status);
    for (uint8_t b : more)
        p.data.push_back(b);
    return p;
}

uint32_t sWord(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Puts the module's own serial number where a generic image wants it, as the
// module expects to receive it: little-endian at the serial address, the hex
// digits as UTF-16LE low bytes at the descriptor address.
void sPatch(std::map<uint32_t, std::vector<uint8_t>>& firmware, uint32_t serialAddress,
            uint32_t descriptorAddress, uint32_t serial) {
    char digits[9];
    snprintf(digits, sizeof(digits), "%08X", serial);
    for (auto& [address, image] : firmware) {
        uint64_t end = uint64_t(address) + image.size();
        if (serialAddress && serialAddress >= address && serialAddress + 4ull <= end)
            for (int i = 0; i < 4; i++)
                image[serialAddress - address + i] = uint8_t(serial >> (8 * i));
        if (descriptorAddress && descriptorAddress >= address && descriptorAddress + 16ull <= end)
            for (int i = 0; i < 8; i++)
                image[descriptorAddress - address + 2 * i] = uint8_t(digits[i]);
    }
}

} // namespace

UpgradeCommand::UpgradeCommand(UpgradeConfig config) : config_(std::move(config)) {
    if (config_.expectedBird.empty()) return;
    try {
        BirdFile file(config_.expectedBird);
        for (const BirdBlock& b : file.blocks) {
            if ((b.type != BirdFile::BLOCK_LOADER && b.type != BirdFile::BLOCK_FIRMWARE) ||
                b.length < 4)
                continue;
            auto& into = b.type == BirdFile::BLOCK_LOADER ? expected_.loader : expected_.firmware;
            into[b.address].assign(b.data + 4, b.data + b.length);
        }
        expected_.generic = file.hasSerialBlock;
        expected_.serialAddress = file.serialNumberOffset;
        expected_.descriptorAddress = file.descriptorOffset;
        expected_.build = file.GetBuild();
        if (!parseVersion(file.GetVersion(), &expected_.version)) expected_.version = 0;
        expected_.loaded = true;
    } catch (const std::exception& e) {
        stats_.note = "cannot read " + config_.expectedBird + ": " + e.what();
    }
}

uint8_t UpgradeCommand::ueiStatus(uint8_t option, uint8_t index, uint8_t flags) const {
    if (option != kDataUEI || !config_.ueiData) return kErrInvalidOption;
    if (index != 0) return 28; // aErrInvalidEntity
    if (flags & 0x40) return kErrMode;
    return 0;
}

bool UpgradeCommand::restartsItsLink(const ModuleDevice& device) const {
    // A module behind a router restarts on its own network; the router's link stays.
    return config_.restarts &&
           (device.identity().router == 0 || device.identity().router == device.address());
}

void UpgradeCommand::handle(ModuleDevice& device, const SimPacket& request,
                            std::vector<SimPacket>& replies) {
    const std::vector<uint8_t>& d = request.data;
    if (d.size() < 2) return;
    if (d[1] & 0x80) {
        ueiData(d, replies);
        return;
    }
    switch (d[1]) {
    case kInit: {
        stats_.inits++;
        state_ = State::TakingLoader;
        loader_.clear();
        firmware_.clear();
        chunk_.clear();
        sum_ = 0;
        SimPacket p;
        uint32_t base = config_.loadBase;
        p.data = {kCmdUpgrade,        kInit,        uint8_t(base >> 24), uint8_t(base >> 16),
                  uint8_t(base >> 8), uint8_t(base)};
        replies.push_back(p);
        return;
    }
    case kPrepare:
        prepare(d, replies);
        return;
    case kData:
        data(d, replies);
        return;
    case kSum:
        sum(replies);
        return;
    case kWrite:
        write(device, d, replies);
        return;
    case kLoad:
        load(device, replies);
        return;
    case kReboot:
        reboot(device);
        return;
    default:
        return;
    }
}

void UpgradeCommand::prepare(const std::vector<uint8_t>& d, std::vector<SimPacket>& replies) {
    stats_.prepares++;
    if (d.size() != 7 || state_ == State::Running || config_.faults.refusePrepare) {
        replies.push_back(sStatus(1, {0, 0}));
        return;
    }
    blockAddress_ = sWord(&d[3]);
    blockOffset_ = 0;
    chunk_.clear();
    sum_ = 0;
    // A block sent again starts over.
    (state_ == State::TakingLoader ? loader_ : firmware_)[blockAddress_].clear();
    uint16_t size = config_.faults.zeroChunkSize ? 0 : config_.chunkSize;
    replies.push_back(sStatus(0, {uint8_t(size >> 8), uint8_t(size)}));
}

void UpgradeCommand::take(const uint8_t* bytes, size_t length) {
    for (size_t i = 0; i < length; i++)
        sum_ += bytes[i];
    if (state_ == State::TakingLoader) {
        // The loader lands where PREPARE said; there is no WRITE for it.
        auto& block = loader_[blockAddress_];
        block.insert(block.end(), bytes, bytes + length);
    } else {
        chunk_.insert(chunk_.end(), bytes, bytes + length);
    }
}

void UpgradeCommand::data(const std::vector<uint8_t>& d, std::vector<SimPacket>& replies) {
    stats_.dataPackets++;
    uint8_t count = uint8_t(d.size() - 2);
    SimPacket p;
    bool miscount =
        config_.faults.wrongCountAlways || (config_.faults.wrongCountOnce && !countFaultUsed_);
    if (miscount) {
        countFaultUsed_ = true;
        p.data = {kCmdUpgrade, kData, uint8_t(count - 1)};
        replies.push_back(p);
        return;
    }
    if (state_ != State::Running) take(d.data() + 2, count);
    p.data = {kCmdUpgrade, kData, state_ == State::Running ? uint8_t(0) : count};
    replies.push_back(p);
}

void UpgradeCommand::ueiData(const std::vector<uint8_t>& d, std::vector<SimPacket>& replies) {
    uint8_t option = d[1] & 0x3F;
    uint8_t ack = uint8_t(option | 0xC0);
    if (d.size() < 4 || option != kDataUEI || !config_.ueiData || (d[1] & 0x40)) {
        if (d.size() >= 3) replies.push_back(ueiError(kCmdUpgrade, ack, d[2], kErrInvalidOption));
        return;
    }
    uint8_t sequence = d.back();
    if ((sequence & 0x7F) == 0) {
        incoming_.clear();
        sequence_ = 0;
    }
    if ((sequence & 0x7F) != sequence_) {
        incoming_.clear();
        sequence_ = 0;
        replies.push_back(ueiError(kCmdUpgrade, ack, 0, kErrPacket));
        return;
    }
    incoming_.insert(incoming_.end(), d.begin() + 3, d.end() - 1);
    sequence_ = uint8_t((sequence_ + 1) & 0x7F);
    if (sequence & 0x80) return; // more to come
    stats_.ueiChunks++;
    if (state_ == State::Running) {
        replies.push_back(ueiError(kCmdUpgrade, ack, 0, kErrMode));
        return;
    }
    take(incoming_.data(), incoming_.size());
    incoming_.clear();
    sequence_ = 0;
    replies.push_back(ueiReply(kCmdUpgrade, ack, 0));
}

void UpgradeCommand::sum(std::vector<SimPacket>& replies) {
    stats_.sums++;
    uint32_t s = sum_;
    if (config_.faults.wrongSumOnce && !sumFaultUsed_ && state_ == State::LoaderRunning) {
        sumFaultUsed_ = true;
        s += 1;
    }
    sum_ = 0;
    replies.push_back(sStatus(state_ == State::Running ? 1 : 0,
                              {uint8_t(s >> 24), uint8_t(s >> 16), uint8_t(s >> 8), uint8_t(s)}));
}

void UpgradeCommand::write(ModuleDevice& device, const std::vector<uint8_t>& d,
                           std::vector<SimPacket>& replies) {
    stats_.writes++;
    uint16_t count = d.size() == 4 ? uint16_t(d[2] << 8 | d[3]) : 0;
    stats_.writeCounts.push_back(count);
    if (state_ != State::LoaderRunning || count == 0 || count != chunk_.size()) {
        chunk_.clear();
        replies.push_back(sStatus(1));
        return;
    }
    auto& block = firmware_[blockAddress_];
    block.insert(block.end(), chunk_.begin(), chunk_.end());
    blockOffset_ += count;
    chunk_.clear();
    replies.push_back(sStatus(0));
    const UpgradeFaults& f = config_.faults;
    unsigned dropAfter = f.dropAfterChunks ? f.dropAfterChunks : f.awayAfterChunks;
    if (dropAfter && !dropUsed_ && stats_.writes >= dropAfter) {
        dropUsed_ = true;
        // The answer goes out, then the connection drops; a module that is
        // away also refuses new connections for a while.
        device.requestRestart(f.awayAfterChunks ? config_.restartMs : 0);
    }
}

bool UpgradeCommand::matches(const std::map<uint32_t, std::vector<uint8_t>>& want,
                             const std::map<uint32_t, std::vector<uint8_t>>& got,
                             const char* what) {
    for (const auto& [address, bytes] : want) {
        auto it = got.find(address);
        if (it == got.end()) {
            stats_.note = std::string(what) + " block missing";
            return false;
        }
        if (it->second != bytes) {
            size_t at = 0;
            while (at < bytes.size() && at < it->second.size() && bytes[at] == it->second[at])
                at++;
            char text[128];
            snprintf(text, sizeof(text), "%s block %08X differs at byte %zu (%zu of %zu bytes)",
                     what, address, at, it->second.size(), bytes.size());
            stats_.note = text;
            return false;
        }
    }
    return true;
}

void UpgradeCommand::load(ModuleDevice& device, std::vector<SimPacket>& replies) {
    stats_.loads++;
    SimPacket p;
    p.data = {kCmdUpgrade, kLoad};
    if (state_ != State::TakingLoader) return; // nothing to start: no answer
    if (expected_.loaded) {
        stats_.loaderChecked = true;
        stats_.loaderMatches = matches(expected_.loader, loader_, "loader");
    }
    state_ = State::LoaderRunning;
    chunk_.clear();
    firmware_.clear();
    replies.push_back(p);
    // The loader takes over the module: its link drops and comes back.
    if (restartsItsLink(device)) device.requestRestart(config_.restartMs);
    if (config_.faults.neverReturn) device.goOffline();
}

void UpgradeCommand::reboot(ModuleDevice& device) {
    stats_.reboots++;
    if (state_ != State::LoaderRunning || config_.faults.ignoreReboot) return;
    state_ = State::Running;
    if (expected_.loaded) {
        auto want = expected_.firmware;
        if (expected_.generic)
            sPatch(want, expected_.serialAddress, expected_.descriptorAddress,
                   device.identity().serial);
        stats_.firmwareChecked = true;
        stats_.firmwareMatches = matches(want, firmware_, "firmware");
        // Only a whole, correct image runs; anything else leaves the old firmware.
        if (stats_.firmwareMatches) {
            device.identity().build = expected_.build;
            if (expected_.version) device.identity().version = expected_.version;
        }
    }
    if (config_.report) {
        if (!stats_.firmwareChecked)
            fprintf(stderr, "vzsim: %08X rebooting; no expected image to check against\n",
                    device.identity().serial);
        else if (stats_.firmwareMatches)
            fprintf(stderr, "vzsim: %08X firmware image verified; now running build %u\n",
                    device.identity().serial, device.identity().build);
        else
            fprintf(stderr, "vzsim: %08X firmware image rejected (%s); old firmware stays\n",
                    device.identity().serial, stats_.note.c_str());
    }
    if (restartsItsLink(device)) device.requestRestart(config_.restartMs);
}

bool parseUpgradeFault(const std::string& text, UpgradeFaults* faults) {
    struct {
        const char* prefix;
        unsigned UpgradeFaults::*field;
    } const counted[] = {{"drop-after=", &UpgradeFaults::dropAfterChunks},
                         {"away-after=", &UpgradeFaults::awayAfterChunks}};
    for (const auto& c : counted) {
        std::string prefix = c.prefix;
        if (text.rfind(prefix, 0) != 0) continue;
        uint32_t n = 0;
        if (!parseNumber(text.substr(prefix.size()), &n) || n == 0) return false;
        faults->*c.field = n;
        return true;
    }
    struct {
        const char* name;
        bool UpgradeFaults::*field;
    } const names[] = {{"wrong-sum-once", &UpgradeFaults::wrongSumOnce},
                       {"wrong-count-once", &UpgradeFaults::wrongCountOnce},
                       {"wrong-count-always", &UpgradeFaults::wrongCountAlways},
                       {"refuse-prepare", &UpgradeFaults::refusePrepare},
                       {"zero-chunk-size", &UpgradeFaults::zeroChunkSize},
                       {"never-return", &UpgradeFaults::neverReturn},
                       {"ignore-reboot", &UpgradeFaults::ignoreReboot}};
    for (const auto& n : names)
        if (text == n.name) {
            faults->*n.field = true;
            return true;
        }
    return false;
}

std::shared_ptr<UpgradeCommand> installUpgrade(ModuleDevice& device, const UpgradeConfig& config) {
    auto handler = std::make_shared<UpgradeCommand>(config);
    device.setHandler(kCmdUpgrade, handler);
    if (config.ueiData)
        device.identity().protocolFeatures |= 0x80000000u;
    else
        device.identity().protocolFeatures &= ~0x80000000u;
    return handler;
}

} // namespace vzsim
