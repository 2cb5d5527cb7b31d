// The update command over USB, the default transport, against a simulated
// module on an emulated device (umockdev). The module leaves the bus when its
// loader starts and comes back under the same serial number, then leaves again
// on the reboot and returns running the new build. The tool runs as a child
// under the preload library and is served by this process's emulated device.
#include <gtest/gtest.h>

#include <umockdev.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "EmulatedUsbBus.h"
#include "LocalUpdateServer.h"
#include "RunTool.h"
#include "UpdateSupport.h"
#include "UsbFrontEnd.h"
#include "aStream_USBDevice.h"

using namespace updatetest;

namespace {

class UsbUpdate : public EmulatedUsbBus {
  protected:
    void unplugAll() override {
        device.reset();
        model.reset();
    }
    Upgrade plug(const std::string& bird, vzsim::UpgradeConfig config = {}) {
        vzsim::ModuleIdentity id;
        id.serial = kSerial;
        id.model = kModel;
        id.build = 1000;
        id.version = 0x2F010200;
        id.name = "Bench";
        model = std::make_unique<vzsim::ModuleModel>(id);
        config.expectedBird = bird;
        Upgrade u = InstallUpgrade(*model, *model->primary(), config);
        device = std::make_unique<vzsim::UsbFrontEnd>(testbed, *model);
        std::string error;
        EXPECT_TRUE(device->plug(&error)) << error;
        return u;
    }
    ToolResult run(std::vector<std::string> args) {
        std::vector<std::string> argv = {UPDATER_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        for (std::string a : {"-i", home.path().c_str(), "-u", "http://127.0.0.1:1/cgi/u"})
            argv.push_back(a);
        return runOnBus(argv, home.path());
    }
    std::string bird() {
        std::string path = files / "2000.bird";
        WriteBytes(path, ModuleBird({}));
        return path;
    }
    std::string settings() const {
        return ReadText(home.path() + "/updater/" + kSerialText + "/.settings");
    }

    std::unique_ptr<vzsim::ModuleModel> model;
    std::unique_ptr<vzsim::UsbFrontEnd> device;
    ScratchDir home, files;
};

TEST_F(UsbUpdate, ModuleRestartsIntoItsLoaderAndComesBackWithTheNewBuild) {
    std::string file = bird();
    Upgrade upgrade = plug(file);
    ToolResult result = run({"-U", "-d", kSerialText, "-f", file});
    ASSERT_EQ(0, result.status) << result.out << result.err;
    EXPECT_TRUE(InOrder(Lines(result.out), {"Starting Load on Device",
                                            "Transferring firmware block 1 of 2, 5004 bytes",
                                            "Transferred 2 blocks, 7508 total bytes"}))
        << result.out;
    vzsim::UpgradeStats stats = upgrade.stats();
    EXPECT_TRUE(stats.loaderMatches) << stats.note;
    EXPECT_TRUE(stats.firmwareMatches) << stats.note;
    EXPECT_GT(stats.ueiChunks, 0u);
    EXPECT_EQ(file, SettingsValue(settings(), "LATEST_TRANSFER"));
    EXPECT_TRUE(device->plugged());

    ToolResult listing = run({"-D"});
    EXPECT_NE(std::string::npos,
              listing.out.find("40F5849A  02       02      Power Base+    1.3.0 (      2000)"))
        << listing.out;
}

// A module whose loader never shows up again: the tool looks for it a bounded
// number of times and fails without recording anything.
TEST_F(UsbUpdate, ModuleThatNeverComesBack) {
    std::string file = bird();
    vzsim::UpgradeConfig config;
    config.faults.neverReturn = true;
    Upgrade upgrade = plug(file, config);
    ToolResult result = run({"-U", "-d", kSerialText, "-f", file});
    EXPECT_EQ(1, result.status) << result.out;
    EXPECT_NE(std::string::npos, result.err.find("Firmware update failed")) << result.err;
    EXPECT_EQ(1u, upgrade.stats().loads);
    EXPECT_EQ(0u, upgrade.stats().writes);
    EXPECT_EQ("", SettingsValue(settings(), "LATEST_TRANSFER"));
    EXPECT_FALSE(device->plugged());
}

} // namespace
