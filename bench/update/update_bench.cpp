// The firmware phase of an update over TCP loopback to the simulated module,
// 256 KiB of firmware in chunks of 2048 bytes: the plain path (26-byte DATA
// packets), whole chunks as UEI byte strings (-m), and UEI byte strings with
// pooled packets. Counters: round trips per update, the link engine's measured
// loopback round-trip time, the floor (round trips x round-trip time) and the
// update's wall time as a multiple of that floor.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>

#include <chrono>
#include <random>
#include <vector>

#include "Module.h"
#include "TcpFrontEnd.h"
#include "UpdaterEntity.h"
#include "UpgradeCommand.h"

using Vazizori::Vuviridor::aEtherConfig;
using Vazizori::Vuviridor::Link;
using Vazizori::Vuviridor::Module;

namespace {

constexpr size_t kImageBytes = 256 * 1024;
constexpr uint16_t kChunk = 2048;
constexpr int kRttSamples = 300;

class NullDisplay : public UpdaterDisplayInterface {
  public:
    void display_progress(bool) override {}
    void update_progress(double, const char*) override {}
    void update_spinner(bool, const char*) override {}
    void info_message(const char*) override {}
    void error_message(const char*) override {}
};

// A simulated module whose loader runs and keeps its link, reached directly.
struct LoaderOnLoopback {
    vzsim::ModuleModel model{vzsim::ModuleIdentity{}};
    vzsim::TcpFrontEnd front{model};
    Module module{2, 0};
    bool ready = false;

    LoaderOnLoopback() {
        vzsim::UpgradeConfig config;
        config.chunkSize = kChunk;
        config.restarts = false;
        model.locked([&](vzsim::ModuleModel& m) {
            vzsim::installUpgrade(*m.primary(), config);
            return 0;
        });
        std::string error;
        if (!front.start("127.0.0.1", 0, &error)) return;
        aEtherConfig direct;
        direct.enabled = false;
        direct.fallback = false;
        module.setConfig(direct);
        linkSpec lspec{};
        lspec.type = TCPIP;
        lspec.serialNumber = model.primary()->identity().serial;
        lspec.ipAddress = htonl(INADDR_LOOPBACK);
        lspec.ipPort = front.port();
        if (module.connectFromSpec(lspec) != aErrNone) return;
        UpdaterEntity loader;
        loader.init(&module, 0, true, false);
        ready = loader.LoaderInit() == aErrNone && loader.LoaderStart() == aErrNone;
    }
    ~LoaderOnLoopback() { module.disconnect(); }

    // Mean time of one request and its reply through the link engine: a full
    // DATA packet and its byte-count echo, the plain path's own exchange. The
    // next PREPARE drops the bytes it leaves in the module.
    double roundTripUs() {
        Link* link = module.getLink();
        uint8_t request[1 + UPGRADE_DATA_PIECE] = {val_UPGRADE_DATA};
        const uint8_t match[2] = {cmdUPGRADE, val_UPGRADE_DATA};
        uint8_t reply[aPACKET_MAXDATA];
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kRttSamples; i++) {
            size_t length = sizeof(match);
            link->sendPacket(module.getModuleAddress(), cmdUPGRADE, sizeof(request), request);
            link->receivePacket(module.getModuleAddress(), match, &length, reply);
        }
        std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
        return spent.count() / kRttSamples;
    }
};

std::vector<uint8_t> sBlock() {
    std::mt19937 random(7);
    std::vector<uint8_t> block(4 + kImageBytes);
    block[0] = 0, block[1] = 0, block[2] = 0x80, block[3] = 0; // target address 0x8000
    for (size_t i = 4; i < block.size(); i++)
        block[i] = (uint8_t)random();
    return block;
}

enum Path { PLAIN = 0, UEI = 1, UEI_POOLED = 2 };

void BM_FirmwareUpdate256K(benchmark::State& state) {
    const Path path = (Path)state.range(0);
    LoaderOnLoopback sim;
    if (!sim.ready) {
        state.SkipWithError("no loader on the simulated module");
        return;
    }
    UpdaterEntity entity;
    entity.init(&sim.module, 0, true, false);
    if (path != PLAIN && entity.CheckUEIDataSupport() != aErrNone) {
        state.SkipWithError("module refused UEI byte strings");
        return;
    }
    if (path == UEI_POOLED && entity.CheckPooledPacketsSupport() != aErrNone) {
        state.SkipWithError("no pooled packets");
        return;
    }
    std::vector<uint8_t> block = sBlock();
    NullDisplay display;
    double wallMs = 0, rttUs = 0;
    uint32_t roundTrips = 0;
    for (auto _ : state) {
        // Measured next to each update, so both see the same machine load.
        state.PauseTiming();
        rttUs += sim.roundTripUs();
        state.ResumeTiming();
        const uint32_t before = entity.RoundTrips();
        auto start = std::chrono::steady_clock::now();
        uint16_t chunk = 0;
        aErr error = entity.TransferPrepare(block.data(), (uint32_t)block.size(), 0, chunk);
        if (error == aErrNone)
            error = entity.FirmwareTransfer(block.data(), (uint32_t)block.size(), chunk, display);
        std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
        if (error != aErrNone) {
            state.SkipWithError("firmware transfer failed");
            return;
        }
        wallMs += spent.count();
        roundTrips = entity.RoundTrips() - before;
    }
    rttUs /= (double)state.iterations();
    const double perUpdateMs = wallMs / (double)state.iterations();
    const double floorMs = roundTrips * rttUs / 1000.0;
    state.counters["round_trips"] = roundTrips;
    state.counters["rtt_us"] = rttUs;
    state.counters["floor_ms"] = floorMs;
    state.counters["x_floor"] = perUpdateMs / floorMs;
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)kImageBytes);
    state.SetLabel(path == PLAIN ? "plain" : path == UEI ? "uei" : "uei+pooled");
}
BENCHMARK(BM_FirmwareUpdate256K)
    ->Arg(PLAIN)
    ->Arg(UEI)
    ->Arg(UEI_POOLED)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

} // namespace
