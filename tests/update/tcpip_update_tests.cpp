// The update command of the real Updater executable against simulated modules
// reached over TCP/IP, inside a network namespace of this process's own (the
// tool runs as a child and inherits it). The modules check the loader and
// firmware bytes they receive against the BIRD file they expect.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "DiscoveryResponder.h"
#include "LocalUpdateServer.h"
#include "NetNamespace.h"
#include "SimulatedTcpipModule.h"
#include "RouterModel.h"
#include "RunTool.h"
#include "SimConfig.h"
#include "TcpFrontEnd.h"
#include "UpdateSupport.h"

using namespace updatetest;

namespace {

int gNamespace = NETNS_SKIP;

vzsim::ModuleIdentity sIdentity(uint32_t serial, uint8_t address, uint32_t build) {
    vzsim::ModuleIdentity id;
    id.serial = serial;
    id.address = address;
    id.model = kModel;
    id.version = 0x2F010200;
    id.build = build;
    id.name = "Bench";
    return id;
}

class TcpipUpdate : public ::testing::Test {
  protected:
    void SetUp() override {
        if (gNamespace != 0) GTEST_SKIP() << "no network namespace here";
    }

    // A module with the upgrade command that expects `bird`.
    Upgrade module(const std::string& bird, vzsim::UpgradeConfig config = {}) {
        sim = std::make_unique<TcpipModule>(sIdentity(kSerial, 2, 1000));
        config.expectedBird = bird;
        Upgrade u = InstallUpgrade(sim->model, *sim->model.primary(), config);
        sim->start();
        return u;
    }
    std::string bird(const BirdSpec& lspec, const std::string& name = "2000.bird") {
        std::string path = files / name;
        WriteBytes(path, ModuleBird(lspec));
        return path;
    }
    ToolResult run(std::vector<std::string> args, const std::string& url = "") {
        std::vector<std::string> argv = {UPDATER_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        for (std::string a : {"-i", home.path().c_str(), "-u",
                              url.empty() ? "http://127.0.0.1:1/cgi/u" : url.c_str()})
            argv.push_back(a);
        return RunTool(argv, {"HOME=" + home.path()});
    }
    std::string settingsPath() const {
        return home.path() + "/updater/" + kSerialText + "/.settings";
    }
    std::string settings() const { return ReadText(settingsPath()); }
    // An entry from an earlier transfer, to see that failures leave it alone.
    void earlierTransfer() {
        WriteBytes(settingsPath(), {});
        std::ofstream(settingsPath()) << "LATEST_TRANSFER=1000.bird\n"
                                      << "LAST_TRANSFER_DATE=Mon Dec  7 10:00:00 2026\n";
    }

    ScratchDir home, files;
    std::unique_ptr<TcpipModule> sim;
};

// The three ways a chunk can travel: whole as a UEI byte string (the default,
// with pooled packets), in 26-byte DATA packets when -m is off, and in DATA
// packets when the module does not offer option 10.
struct DataPath {
    const char* name;
    std::vector<std::string> options;
    bool moduleOffersUEI;
    bool expectUEI;
};

void PrintTo(const DataPath& path, std::ostream* os) {
    *os << path.name;
}

class UpdateFromFile : public TcpipUpdate, public ::testing::WithParamInterface<DataPath> {};

TEST_P(UpdateFromFile, SendsLoaderAndFirmwareAndRecordsTheTransfer) {
    const DataPath& path = GetParam();
    std::string file = bird({});
    vzsim::UpgradeConfig config;
    config.ueiData = path.moduleOffersUEI;
    config.chunkSize = 1024;
    Upgrade upgrade = module(file, config);

    std::vector<std::string> args = {"-U", "-d", kSerialText, "-f", file};
    args.insert(args.end(), path.options.begin(), path.options.end());
    ToolResult result = run(args);
    ASSERT_EQ(0, result.status) << result.out << result.err;

    std::vector<std::string> lines = Lines(result.out);
    EXPECT_TRUE(InOrder(lines, {"Updating from Birdfile: " + file, "Transferring loader to device",
                                "Transferring loader block 1 of 1, 704 bytes",
                                "Transferred 1 blocks, 704 total bytes", "Starting Load on Device",
                                "Transferring firmware block 1 of 2, 5004 bytes",
                                "Transferring firmware block 2 of 2, 2504 bytes",
                                "Transferred 2 blocks, 7508 total bytes"}))
        << result.out;
    EXPECT_EQ(0u, lines.back().rfind("Update time: ", 0)) << result.out;

    vzsim::UpgradeStats stats = upgrade.stats();
    EXPECT_TRUE(stats.loaderMatches) << stats.note;
    EXPECT_TRUE(stats.firmwareMatches) << stats.note;
    EXPECT_EQ(2000u, upgrade.identity().build);
    EXPECT_EQ(0x2F010300u, upgrade.identity().version);
    // Chunks of 1024 and the rest, each written with its own count.
    std::vector<uint16_t> counts = {1024, 1024, 1024, 1024, 904, 1024, 1024, 452};
    EXPECT_EQ(counts, stats.writeCounts);
    if (path.expectUEI) {
        // The loader always goes in DATA packets; each firmware chunk is one byte string.
        EXPECT_EQ(8u, stats.ueiChunks);
        EXPECT_EQ(27u, stats.dataPackets);
    } else {
        EXPECT_EQ(0u, stats.ueiChunks);
        EXPECT_EQ(27u + 4 * 40 + 35 + 2 * 40 + 18, stats.dataPackets) << "26-byte pieces";
    }
    EXPECT_EQ(file, SettingsValue(settings(), "LATEST_TRANSFER"));
    EXPECT_FALSE(SettingsValue(settings(), "LAST_TRANSFER_DATE").empty());
}

INSTANTIATE_TEST_SUITE_P(DataPaths, UpdateFromFile,
                         ::testing::Values(DataPath{"UEIBytes", {}, true, true},
                                           DataPath{"PlainPackets", {"-m", "0"}, true, false},
                                           DataPath{"ModuleWithoutUEIBytes", {}, false, false}),
                         [](const ::testing::TestParamInfo<DataPath>& info) {
                             return std::string(info.param.name);
                         });

// The server's newest build is taken when the store holds it; afterwards the
// discover command shows the module running it.
TEST_F(TcpipUpdate, StoredBuildNamedByTheServer) {
    ScratchDir served;
    std::vector<uint8_t> bytes = ModuleBird({});
    WriteBytes(served / (std::string(kSerialText) + "/2000.bird"), bytes);
    served.write(std::string(kSerialText) + "/.server", "latest=2000\n");
    std::string stored = home.path() + "/updater/" + kSerialText + "/2000.bird";
    WriteBytes(stored, bytes);
    LocalUpdateServer server(served.path());
    Upgrade upgrade = module(stored);

    ToolResult result = run({"-U", "-d", kSerialText}, server.url());
    ASSERT_EQ(0, result.status) << result.out << result.err;
    EXPECT_TRUE(InOrder(Lines(result.out), {"Updating firmware with build: 2000",
                                            "Transferred 2 blocks, 7508 total bytes"}))
        << result.out;
    EXPECT_EQ("2000.bird", SettingsValue(settings(), "LATEST_TRANSFER"));
    EXPECT_TRUE(upgrade.stats().firmwareMatches) << upgrade.stats().note;

    ToolResult listing = run({"-D", "-t", "TCPIP"});
    EXPECT_NE(std::string::npos, listing.out.find("40F5849A  02       02      Power Base+    "
                                                  "1.3.0 (      2000)"))
        << listing.out;
}

// Without a server the store's record of the last download names the build.
TEST_F(TcpipUpdate, LatestDownloadWhenTheServerIsAway) {
    std::string stored = home.path() + "/updater/" + kSerialText + "/2000.bird";
    WriteBytes(stored, ModuleBird({}));
    std::ofstream(settingsPath()) << "LATEST_DOWNLOAD=2000.bird\n";
    Upgrade upgrade = module(stored);
    ToolResult result = run({"-U", "-d", kSerialText});
    ASSERT_EQ(0, result.status) << result.out << result.err;
    EXPECT_TRUE(InOrder(Lines(result.out), {"Updating with the Latest Download",
                                            "Updating firmware with build: 2000"}))
        << result.out;
    EXPECT_EQ("2000.bird", SettingsValue(settings(), "LATEST_TRANSFER"));
    EXPECT_EQ("2000.bird", SettingsValue(settings(), "LATEST_DOWNLOAD"));
    EXPECT_EQ(2000u, upgrade.identity().build);
}

// The main job: download the newest build, then update the module with it.
TEST_F(TcpipUpdate, DownloadThenUpdate) {
    ScratchDir served;
    WriteBytes(served / (std::string(kSerialText) + "/2000.bird"), ModuleBird({}));
    served.write(std::string(kSerialText) + "/.server", "latest=2000\n");
    LocalUpdateServer server(served.path());
    Upgrade upgrade = module(served / (std::string(kSerialText) + "/2000.bird"));

    ToolResult result = run({"-G", "-U", "-d", kSerialText}, server.url());
    ASSERT_EQ(0, result.status) << result.out << result.err;
    EXPECT_TRUE(InOrder(Lines(result.out),
                        {"Retrieving build 2000", "Build 2000 is valid",
                         "Updating firmware with build: 2000", "Starting Load on Device"}))
        << result.out;
    EXPECT_EQ("2000.bird", SettingsValue(settings(), "LATEST_DOWNLOAD"));
    EXPECT_EQ("2000.bird", SettingsValue(settings(), "LATEST_TRANSFER"));
    EXPECT_EQ(2000u, upgrade.identity().build);
}

// A generic image leaves the file with serial number 0; the module receives
// its own serial number at the image's serial address and descriptor.
TEST_F(TcpipUpdate, GenericImageGetsTheSerialNumber) {
    BirdSpec lspec;
    lspec.generic = true;
    std::string file = bird(lspec);
    Upgrade upgrade = module(file);
    ToolResult result = run({"-U", "-d", kSerialText, "-f", file});
    ASSERT_EQ(0, result.status) << result.out << result.err;
    vzsim::UpgradeStats stats = upgrade.stats();
    EXPECT_TRUE(stats.firmwareChecked);
    EXPECT_TRUE(stats.firmwareMatches) << stats.note;
    EXPECT_EQ(2000u, upgrade.identity().build);
}

// A file for another device is refused before anything is sent.
TEST_F(TcpipUpdate, FileForAnotherDeviceIsRefused) {
    BirdSpec lspec;
    lspec.serial = 0x11111111;
    std::string file = bird(lspec);
    Upgrade upgrade = module(file);
    earlierTransfer();
    std::string before = settings();
    ToolResult result = run({"-U", "-d", kSerialText, "-f", file});
    EXPECT_EQ(1, result.status);
    EXPECT_NE(std::string::npos, result.err.find("Birdfile failed validation")) << result.err;
    EXPECT_EQ(0u, upgrade.stats().inits);
    EXPECT_EQ(before, settings());
}

// Through a router: the member's address is found on the router's network,
// the member is updated over the router's link and routing is switched off
// again afterwards.
TEST_F(TcpipUpdate, ModuleBehindARouter) {
    const uint32_t router = 0xD272031D;
    std::string file = bird({});
    sim = std::make_unique<TcpipModule>(sIdentity(router, 4, 500));
    vzsim::ModuleDevice& member =
        vzsim::addRouterMember(sim->model, sIdentity(kSerial, 0x40, 1000));
    vzsim::makeRouter(sim->model);
    vzsim::UpgradeConfig config;
    config.expectedBird = file;
    Upgrade upgrade = InstallUpgrade(sim->model, member, config);
    sim->start();

    ToolResult result = run({"-U", "-d", kSerialText, "-r", "D272031D", "-f", file});
    ASSERT_EQ(0, result.status) << result.out << result.err;
    vzsim::UpgradeStats stats = upgrade.stats();
    EXPECT_TRUE(stats.loaderMatches) << stats.note;
    EXPECT_TRUE(stats.firmwareMatches) << stats.note;
    EXPECT_EQ(2000u, upgrade.identity().build);
    EXPECT_EQ(0u,
              sim->model.locked([](vzsim::ModuleModel& m) { return m.primary()->values()[20]; }));
}

// Faults of the module: what the tool shows, whether it succeeds, and that a
// failure leaves the device's settings as they were.
struct FaultCase {
    const char* name;
    const char* fault;
    bool succeeds;
    std::vector<std::string> expectedLines; // on stdout, in this order
    std::string error;                      // on stderr when it fails
    int retries;                            // highest "  Retry %d" shown
    bool retriesAtMost = false;             // fewer may be shown (a race decides)
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class UpdateFaults : public TcpipUpdate, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(UpdateFaults, EndAsExpected) {
    const FaultCase& c = GetParam();
    std::string file = bird({});
    vzsim::UpgradeConfig config;
    ASSERT_TRUE(vzsim::parseUpgradeFault(c.fault, &config.faults));
    config.chunkSize = 1024;
    Upgrade upgrade = module(file, config);
    earlierTransfer();
    std::string before = settings();

    ToolResult result = run({"-U", "-d", kSerialText, "-f", file});
    std::vector<std::string> lines = Lines(result.out);
    EXPECT_EQ(c.succeeds ? 0 : 1, result.status) << result.out << result.err;
    EXPECT_TRUE(InOrder(lines, c.expectedLines)) << result.out;
    for (int r = 1; r <= 4; r++) {
        unsigned shown = Count(lines, "  Retry " + std::to_string(r));
        if (c.retriesAtMost)
            EXPECT_LE(shown, r <= c.retries ? 1u : 0u) << r << "\n" << result.out;
        else
            EXPECT_EQ(r <= c.retries ? 1u : 0u, shown) << r << "\n" << result.out;
    }
    if (c.succeeds) {
        EXPECT_TRUE(upgrade.stats().firmwareMatches) << upgrade.stats().note;
        EXPECT_EQ(file, SettingsValue(settings(), "LATEST_TRANSFER"));
    } else {
        EXPECT_NE(std::string::npos, result.err.find(c.error)) << result.err;
        EXPECT_EQ(before, settings());
        EXPECT_EQ(1000u, upgrade.identity().build);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Module, UpdateFaults,
    ::testing::Values(
        // The block whose sum was wrong goes again.
        FaultCase{"WrongSumOnce",
                  "wrong-sum-once",
                  true,
                  {"Transferring firmware block 1 of 2, 5004 bytes", "  Retry 1",
                   "Transferring firmware block 2 of 2, 2504 bytes"},
                  "",
                  1},
        // A miscounted piece is resent at once; no block retry.
        FaultCase{"WrongCountOnce", "wrong-count-once", true, {"Starting Load on Device"}, "", 0},
        // The connection drops after two chunks; the stream reconnects, mostly
        // before the next chunk leaves (nothing lost), else the block goes again.
        FaultCase{"DroppedConnection",
                  "drop-after=2",
                  true,
                  {"Transferring firmware block 1 of 2, 5004 bytes"},
                  "",
                  1,
                  true},
        // The module also refuses connections for a while: the stream's one
        // reconnect fails, so the block goes again on a link made afresh.
        FaultCase{"AwayAfterADrop",
                  "away-after=2",
                  true,
                  {"Transferring firmware block 1 of 2, 5004 bytes", "  Retry 1",
                   "Transferring firmware block 2 of 2, 2504 bytes"},
                  "",
                  1},
        FaultCase{
            "PrepareRefused",
            "refuse-prepare",
            false,
            {"Transferring loader block 1 of 1, 704 bytes", "Transferred 0 blocks, 0 total bytes"},
            "Firmware update failed [29, aErrInvalidOption]",
            0},
        // Resends of a miscounted piece are bounded.
        FaultCase{"CountAlwaysWrong",
                  "wrong-count-always",
                  false,
                  {"Transferred 0 blocks, 0 total bytes"},
                  "Firmware update failed [24, aErrPacket]",
                  0},
        // A chunk size of 0 is refused; the block is tried five times.
        FaultCase{"ZeroChunkSize",
                  "zero-chunk-size",
                  false,
                  {"Transferring firmware block 1 of 2, 5004 bytes", "  Retry 4",
                   "Transferred 0 blocks, 0 total bytes"},
                  "Firmware update failed [13, aErrRange]",
                  4},
        // A module that never lets its link go after the reboot request: the wait
        // for the drop is bounded (20 s).
        FaultCase{"RebootIgnored",
                  "ignore-reboot",
                  false,
                  {"Transferred 2 blocks, 7508 total bytes"},
                  "The module did not restart after the reboot request",
                  0}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// vzsim takes the upgrade settings from its JSON file as from its flags.
TEST(SimulatorUpgradeConfig, JsonKeysAndFaultNames) {
    std::vector<vzsim::SimModuleConfig> modules;
    std::string error;
    ASSERT_TRUE(vzsim::parseConfig(
        R"({"serial": "40F5849A", "tcp": 0, "upgrade": {"firmware": "new.bird", "ueiData": false,
            "chunkSize": 512, "faults": {"wrongSumOnce": true, "neverReturn": true,
            "ignoreReboot": true, "dropAfterChunks": 3}}})",
        &modules, &error))
        << error;
    ASSERT_EQ(1u, modules.size());
    const vzsim::UpgradeConfig& up = modules[0].upgrade;
    EXPECT_EQ("new.bird", up.expectedBird);
    EXPECT_FALSE(up.ueiData);
    EXPECT_EQ(512, up.chunkSize);
    EXPECT_TRUE(up.faults.wrongSumOnce);
    EXPECT_TRUE(up.faults.neverReturn);
    EXPECT_TRUE(up.faults.ignoreReboot);
    EXPECT_EQ(3u, up.faults.dropAfterChunks);
    EXPECT_FALSE(up.faults.refusePrepare);

    vzsim::UpgradeFaults faults;
    for (const char* name :
         {"wrong-sum-once", "wrong-count-once", "wrong-count-always", "refuse-prepare",
          "zero-chunk-size", "never-return", "ignore-reboot", "drop-after=2"})
        EXPECT_TRUE(vzsim::parseUpgradeFault(name, &faults)) << name;
    EXPECT_EQ(2u, faults.dropAfterChunks);
    EXPECT_FALSE(vzsim::parseUpgradeFault("drop-after=0", &faults));
    EXPECT_FALSE(vzsim::parseUpgradeFault("wrong-sum", &faults));
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    gNamespace = NetNamespace_Enter();
    return RUN_ALL_TESTS();
}
