// USB discovery and the discover command against modules on emulated USB
// devices (umockdev). The tool runs as a child process under the preload
// library and is served by this process's emulated devices.
#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "DiscoveryResponder.h"
#include "EmulatedUsbBus.h"
#include "NetNamespace.h"
#include "QuietDisplay.h"
#include "SimulatedTcpipModule.h"
#include "RouterModel.h"
#include "RunTool.h"
#include "SystemEntity.h"
#include "TcpFrontEnd.h"
#include "Updater.h"
#include "OptionRefused.h"
#include "UsbFrontEnd.h"
#include "aDiscovery.h"
#include "aStream_USB.h"
#include "aStream_USBDevice.h"

namespace {

int gNamespace = NETNS_SKIP;

const char* kUSBHeader =
    "    Device    Module   Router  Model          Firmware Version (Build)    "
    "Device Name";

class EmulatedUSB : public EmulatedUsbBus {
  protected:
    void unplugAll() override {
        devices.clear();
        models.clear();
    }
    vzsim::ModuleModel& plug(const vzsim::ModuleIdentity& id, vzsim::UsbDeviceSpec lspec = {}) {
        models.push_back(std::make_unique<vzsim::ModuleModel>(id));
        devices.push_back(std::make_unique<vzsim::UsbFrontEnd>(testbed, *models.back(), lspec));
        std::string error;
        EXPECT_TRUE(devices.back()->plug(&error)) << error;
        return *models.back();
    }
    // The listing printed by the tool: every line after "Searching ...".
    std::vector<std::string> discover(const std::vector<std::string>& options) {
        std::vector<std::string> args = {UPDATER_PATH};
        args.insert(args.end(), options.begin(), options.end());
        ToolResult result = runOnBus(args, TEST_HOME);
        EXPECT_EQ(0, result.status) << result.err;
        std::vector<std::string> lines;
        std::istringstream in(result.out);
        bool listing = false;
        for (std::string line; std::getline(in, line);) {
            if (listing) lines.push_back(line);
            if (line.rfind("Searching for Vuviridor", 0) == 0) listing = true;
        }
        return lines;
    }

    std::vector<std::unique_ptr<vzsim::ModuleModel>> models;
    std::vector<std::unique_ptr<vzsim::UsbFrontEnd>> devices;
};

struct Collected {
    std::vector<linkSpec> lspecs;
};

uint8_t sCollect(const linkSpec* lspec, bool* success, void* ref) {
    static_cast<Collected*>(ref)->lspecs.push_back(*lspec);
    *success = true;
    return 1;
}

// Only the vendor's modules with an eight-digit serial number string are
// reported; the model is the low byte of the product identifier.
TEST_F(EmulatedUSB, DiscoveryReportsModulesOnly) {
    plug(sIdentity(0x40F5849A, 4, 0x13, 0, 0, ""), {0x0213, "40F5849A", 512, true});
    plug(sIdentity(0x00001234, 4, 0x13, 0, 0, ""), {0, "0001234", 512, true});
    plug(sIdentity(0x0000BEEF, 4, 0x13, 0, 0, ""), {0x8013, "", 512, true});
    plug(sIdentity(0x4000000A, 4, 0x13, 0, 0, ""), {0, "4000000G", 512, true});
    // Discovery only reads descriptors, so a module whose interface a stream
    // holds is still found.
    aStream* held = nullptr;
    ASSERT_EQ(aErrNone, aStream_CreateUSB(0x40F5849A, &held));
    Collected c;
    EXPECT_EQ(1, aDiscovery_EnumerateModules(USB, sCollect, &c, 0));
    aStream_Destroy(&held);
    ASSERT_EQ(1u, c.lspecs.size());
    const linkSpec& s = c.lspecs[0];
    EXPECT_EQ(USB, s.type);
    EXPECT_EQ(0x40F5849Au, s.serialNumber);
    EXPECT_EQ(0x13u, s.model);
    EXPECT_EQ(0u, s.module);
    EXPECT_EQ(0u, s.router);
    EXPECT_EQ(0u, s.routerSerialNumber);
    EXPECT_EQ(0x40F5849Au, s.ipAddress);

    linkSpec* found = aDiscovery_FindModule(USB, 0x40F5849A, 0);
    ASSERT_NE(nullptr, found);
    aLinkSpec_Destroy(&found);
    EXPECT_EQ(nullptr, aDiscovery_FindModule(USB, 0x00001234, 0));
}

// Two modules are listed with what they report; one whose version query fails
// is listed with its error.
TEST_F(EmulatedUSB, DiscoverCommandListsUSBModules) {
    plug(sIdentity(0x2181F0EE, 2, 17, 0x2F010203, 9876, "Left bench"));
    plug(sIdentity(0x40F5849A, 6, 19, 0x2F02000B, 1234567, "Right bench"));
    vzsim::ModuleModel& refusing = plug(sIdentity(0x0BADF00D, 4, 19, 0x2F010000, 1, "Odd"));
    refusing.locked([](vzsim::ModuleModel& m) {
        m.primary()->setHandler(3, std::make_shared<OptionRefused>(OptionRefused::kVersion));
        return 0;
    });

    std::vector<std::string> listing = discover({"-D"});
    ASSERT_EQ(5u, listing.size());
    EXPECT_EQ("Discovered Devices: (USB)", listing[0]);
    EXPECT_EQ(kUSBHeader, listing[1]);
    std::sort(listing.begin() + 2, listing.end());
    EXPECT_EQ("    0BADF00D  [Error (29): Is someone else connected to this device?]", listing[2]);
    EXPECT_EQ("    2181F0EE  02       02      Sensor Dock    1.2.3 (      9876)         Left bench",
              listing[3]);
    EXPECT_EQ(
        "    40F5849A  06       06      Power Base+    2.0.11 (   1234567)         Right bench",
        listing[4]);
}

TEST_F(EmulatedUSB, RouterSearchOverUSB) {
    vzsim::ModuleModel& router = plug(sIdentity(0xD272031D, 2, 25, 0x2F010000, 500, "Router"));
    vzsim::addRouterMember(router, sIdentity(0x11223344, 0x40, 20, 0x2F030201, 77, "Meter"), true);
    vzsim::makeRouter(router);

    std::vector<std::string> listing = discover({"-D", "-r", "D272031D", "-t", "USB"});
    std::vector<std::string> expected = {
        "Discovered Devices: (USB)",
        kUSBHeader,
        "    11223344  40       02      Meter S        3.2.1 (        77)         ",
    };
    EXPECT_EQ(expected, listing);
}

// Both transports: USB modules come first, then TCP/IP modules.
TEST_F(EmulatedUSB, AnyTransportListsUSBBeforeTCPIP) {
    if (gNamespace != 0) GTEST_SKIP() << "no network namespace here";
    vzsim::ModuleModel tcpModel(sIdentity(0x2181F0EE, 2, 17, 0x2F010203, 9876, "Network"));
    vzsim::TcpFrontEnd tcp(tcpModel);
    std::string error;
    ASSERT_TRUE(tcp.start(NETNS_MODULE_ADDRESS, 0, &error)) << error;
    vzsim::DiscoveryIdentity id;
    id.serial = 0x2181F0EE;
    id.module = 2;
    id.model = 17;
    id.tcpPort = tcp.port();
    vzsim::DiscoveryResponder responder(id, NETNS_MODULE_ADDRESS);
    ASSERT_TRUE(responder.start(&error)) << error;
    plug(sIdentity(0x40F5849A, 6, 19, 0x2F02000B, 1234567, "Local"));

    QuietDisplay display;
    Updater updater("http://127.0.0.1:1/", TEST_HOME, display);
    std::vector<DeviceInfo> list = updater.Discover_Devices(linkTypeAny);
    ASSERT_EQ(2u, list.size());
    EXPECT_EQ(USB, list[0].spec.type);
    EXPECT_EQ("Local", list[0].device_name);
    EXPECT_EQ(TCPIP, list[1].spec.type);
    EXPECT_EQ("Network", list[1].device_name);
}

} // namespace

int main(int argc, char** argv) {
    prctl(PR_SET_TIMERSLACK, 1);
    ::testing::InitGoogleTest(&argc, argv);
    gNamespace = NetNamespace_Enter();
    return RUN_ALL_TESTS();
}
