// The module side of the upgrade command (95): a running firmware that takes a
// loader, the loader that takes the firmware chunk by chunk with running sums,
// and the restarts in between. The module checks what it received against the
// BIRD file it expects and, after the reboot, runs that file's build and version.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ModuleDevice.h"

namespace vzsim {

struct UpgradeFaults {
    bool wrongSumOnce = false;     // the first SUM reply of the firmware phase is wrong
    bool wrongCountOnce = false;   // the first DATA reply echoes a wrong byte count
    bool wrongCountAlways = false; // every DATA reply echoes a wrong byte count
    bool refusePrepare = false;    // every PREPARE is answered with status 1
    bool zeroChunkSize = false;    // PREPARE announces chunks of 0 bytes
    unsigned dropAfterChunks = 0;  // the link drops after this many firmware WRITEs (once)
    unsigned awayAfterChunks = 0;  // as dropAfterChunks, and the module is away for restartMs
    bool neverReturn = false;      // after LOAD the module goes away for good
    bool ignoreReboot = false;     // REBOOT is ignored: the link never drops
};

struct UpgradeConfig {
    bool ueiData = true; // accepts option 10 and announces pooled packets (feature bit 31)
    uint16_t chunkSize = 2048;
    uint32_t loadBase = 0x10000000;
    unsigned restartMs = 1500; // a TCP module is away this long when it restarts
    bool restarts = true;      // false: LOAD and REBOOT keep the link (benchmarks)
    std::string expectedBird;  // BIRD file the module expects; empty: takes any image
    bool report = false;       // say on stderr what the checks found (vzsim)
    UpgradeFaults faults;
};

struct UpgradeStats {
    unsigned inits = 0, prepares = 0, dataPackets = 0, ueiChunks = 0, sums = 0, writes = 0,
             loads = 0, reboots = 0;
    std::vector<uint16_t> writeCounts;
    bool loaderChecked = false, loaderMatches = false;
    bool firmwareChecked = false, firmwareMatches = false;
    std::string note; // why a check failed
};

class UpgradeCommand : public CommandHandler {
  public:
    explicit UpgradeCommand(UpgradeConfig config);

    void handle(ModuleDevice& device, const SimPacket& request,
                std::vector<SimPacket>& replies) override;
    uint8_t ueiStatus(uint8_t option, uint8_t index, uint8_t flags) const override;

    // Read with the model locked.
    const UpgradeStats& stats() const { return stats_; }
    const UpgradeConfig& config() const { return config_; }

  private:
    enum class State { Running, TakingLoader, LoaderRunning };
    struct Expected {
        bool loaded = false;
        bool generic = false;
        uint32_t serialAddress = 0, descriptorAddress = 0;
        uint32_t build = 0, version = 0;
        std::map<uint32_t, std::vector<uint8_t>> loader, firmware;
    };

    void prepare(const std::vector<uint8_t>& d, std::vector<SimPacket>& replies);
    void data(const std::vector<uint8_t>& d, std::vector<SimPacket>& replies);
    void ueiData(const std::vector<uint8_t>& d, std::vector<SimPacket>& replies);
    void take(const uint8_t* bytes, size_t length);
    void sum(std::vector<SimPacket>& replies);
    void write(ModuleDevice& device, const std::vector<uint8_t>& d,
               std::vector<SimPacket>& replies);
    void load(ModuleDevice& device, std::vector<SimPacket>& replies);
    void reboot(ModuleDevice& device);
    bool matches(const std::map<uint32_t, std::vector<uint8_t>>& want,
                 const std::map<uint32_t, std::vector<uint8_t>>& got, const char* what);
    bool restartsItsLink(const ModuleDevice& device) const;

    UpgradeConfig config_;
    Expected expected_;
    UpgradeStats stats_;
    State state_ = State::Running;
    std::map<uint32_t, std::vector<uint8_t>> loader_, firmware_;
    uint32_t blockAddress_ = 0;
    size_t blockOffset_ = 0;     // bytes of the block written so far
    std::vector<uint8_t> chunk_; // bytes taken since the last WRITE
    uint32_t sum_ = 0;
    std::vector<uint8_t> incoming_; // option 10 byte string being reassembled
    uint8_t sequence_ = 0;
    bool sumFaultUsed_ = false, countFaultUsed_ = false, dropUsed_ = false;
};

// "wrong-sum-once", "wrong-count-once", "wrong-count-always", "refuse-prepare",
// "zero-chunk-size", "never-return", "ignore-reboot" or "drop-after=N" into faults.
bool parseUpgradeFault(const std::string& text, UpgradeFaults* faults);

// Serves the upgrade command on the device; with UEI data it also announces
// pooled packets (protocol feature bit 31).
std::shared_ptr<UpgradeCommand> installUpgrade(ModuleDevice& device, const UpgradeConfig& config);

} // namespace vzsim
