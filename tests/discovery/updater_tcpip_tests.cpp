// The discover command and its flows against simulated TCP/IP modules and a
// simulated router, inside a network namespace of this process's own. The
// tool runs as a child process and inherits the namespace.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "DiscoveryResponder.h"
#include "NetNamespace.h"
#include "QuietDisplay.h"
#include "SimulatedTcpipModule.h"
#include "RouterModel.h"
#include "RunTool.h"
#include "SystemEntity.h"
#include "TcpFrontEnd.h"
#include "Updater.h"
#include "OptionRefused.h"

namespace {

int gNamespace = NETNS_SKIP;

#define REQUIRE_NAMESPACE()                                                                        \
    if (gNamespace != 0) GTEST_SKIP() << "no network namespace here"

const char* kIPHeader = "    Device    Module   Router  Model          Firmware Version (Build)   "
                        "[IP address]       Device Name";

std::vector<std::string> sLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The listing: every line after the "Searching ..." line.
std::vector<std::string> sListing(const ToolResult& result) {
    std::vector<std::string> lines = sLines(result.out);
    auto searching = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.rfind("Searching for Vuviridor", 0) == 0;
    });
    if (searching == lines.end()) return {};
    return std::vector<std::string>(searching + 1, lines.end());
}

ToolResult sDiscover(const std::vector<std::string>& options) {
    std::vector<std::string> args = {UPDATER_PATH};
    args.insert(args.end(), options.begin(), options.end());
    return RunTool(args, {"HOME=" TEST_HOME});
}

class DiscoverCommand : public ::testing::Test {
  protected:
    void SetUp() override { REQUIRE_NAMESPACE(); }
};

TEST_F(DiscoverCommand, ListsTwoTCPIPModules) {
    TcpipModule left(sIdentity(0x2181F0EE, 2, 17, 0x2F010203, 9876, "Left bench"));
    TcpipModule right(sIdentity(0x40F5849A, 4, 19, 0x2F02000B, 1234567, "Right bench"));
    left.start();
    right.start();
    ToolResult result = sDiscover({"-D", "-t", "TCPIP"});
    EXPECT_EQ(0, result.status) << result.err;
    std::vector<std::string> listing = sListing(result);
    ASSERT_EQ(4u, listing.size()) << result.out;
    EXPECT_EQ("Discovered Devices: (TCPIP)", listing[0]);
    EXPECT_EQ(kIPHeader, listing[1]);
    std::sort(listing.begin() + 2, listing.end());
    EXPECT_EQ(std::string("    2181F0EE  02       02      Sensor Dock    1.2.3 (      9876)") +
                  "        [127.0.0.2]        Left bench",
              listing[2]);
    EXPECT_EQ(std::string("    40F5849A  04       04      Power Base+    2.0.11 (   1234567)") +
                  "        [127.0.0.2]        Right bench",
              listing[3]);
}

TEST_F(DiscoverCommand, NothingFoundPrintsNoHeader) {
    ToolResult result = sDiscover({"-D", "-t", "TCPIP"});
    EXPECT_EQ(0, result.status);
    std::vector<std::string> expected = {"Discovered Devices: (TCPIP)", "    No devices found."};
    EXPECT_EQ(expected, sListing(result));
}

// Members are found behind the router by I2C probing and listed with their
// own identity; the router itself and a member that gives no serial number
// are not listed.
TEST_F(DiscoverCommand, RouterSearchListsItsMembers) {
    TcpipModule router(sIdentity(0xD272031D, 4, 25, 0x2F010000, 500, "Router"));
    vzsim::addRouterMember(router.model, sIdentity(0x11223344, 0x40, 20, 0x2F030201, 77, "Meter"),
                           true);
    vzsim::addRouterMember(router.model, sIdentity(0x2181F0EE, 0x0A, 17, 0x2F010203, 9876, "Dock"),
                           true);
    vzsim::ModuleDevice& mute =
        vzsim::addRouterMember(router.model, sIdentity(0x55555555, 0x20, 17, 0, 0, "Mute"));
    router.model.locked([&](vzsim::ModuleModel&) {
        mute.setHandler(3, nullptr);
        return 0;
    });
    vzsim::makeRouter(router.model);
    router.start();

    ToolResult result = sDiscover({"-D", "-r", "D272031D"});
    EXPECT_EQ(0, result.status) << result.err;
    std::vector<std::string> expected = {
        "Discovered Devices: (Unknown)",
        kIPHeader,
        // The router search reads no names.
        "    2181F0EE  0A       04      Sensor Dock    1.2.3 (      9876)        [127.0.0.2]       "
        " ",
        "    11223344  40       04      Meter S        3.2.1 (        77)        [127.0.0.2]       "
        " ",
    };
    EXPECT_EQ(expected, sListing(result)) << result.out;
    // The router was told to stop routing to this host again.
    EXPECT_EQ(0u,
              router.model.locked([](vzsim::ModuleModel& m) { return m.primary()->values()[20]; }));
}

// What a newcomer does by hand: the simulator program answers discovery and
// the tool finds it.
TEST_F(DiscoverCommand, FindsTheSimulatorProgram) {
    std::string ready = std::string(TEST_HOME) + "/vzsim-ready-" + std::to_string(getpid());
    unlink(ready.c_str());
    BackgroundTool vzsim({VZSIM_PATH,
                          "--serial",
                          "2181F0EE",
                          "--model",
                          "17",
                          "--version",
                          "1.2.3",
                          "--build",
                          "9876",
                          "--name",
                          "Left bench",
                          "--tcp",
                          "0",
                          "--bind",
                          NETNS_MODULE_ADDRESS,
                          "--discovery",
                          NETNS_MODULE_ADDRESS,
                          "--ready-file",
                          ready,
                          "--run-for",
                          "30"});
    ASSERT_TRUE(vzsim.started());
    ASSERT_TRUE(WaitForFile(ready, 5000));
    std::vector<std::string> expected = {
        "Discovered Devices: (TCPIP)",
        kIPHeader,
        "    2181F0EE  02       02      Sensor Dock    1.2.3 (      9876)        [127.0.0.2]       "
        " "
        "Left bench",
    };
    EXPECT_EQ(expected, sListing(sDiscover({"-D", "-t", "TCPIP"})));
}

// The build is read before the version, so a module whose version query
// fails keeps its build number next to the error.
TEST_F(DiscoverCommand, FailedVersionQueryIsKeptWithItsError) {
    TcpipModule module(sIdentity(0x40F5849A, 4, 19, 0x2F02000B, 31337, "Right bench"));
    module.model.locked([](vzsim::ModuleModel& m) {
        m.primary()->setHandler(3, std::make_shared<OptionRefused>(OptionRefused::kVersion));
        return 0;
    });
    module.start();
    QuietDisplay display;
    Updater updater("http://127.0.0.1:1/", TEST_HOME, display);
    std::vector<DeviceInfo> list = updater.Discover_Devices(TCPIP);
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ(aErrInvalidOption, list[0].error);
    EXPECT_EQ(31337u, list[0].build_number);
    EXPECT_EQ(0x40F5849Au, list[0].spec.serialNumber);
    EXPECT_EQ("Power Base+", list[0].model_name);
    EXPECT_TRUE(list[0].device_name.empty());
    EXPECT_TRUE(display.errors.empty());
}

// A router that cannot be used ends the search with the empty list and says
// why; the router found but not reachable, and the router refusing to route.
TEST_F(DiscoverCommand, UnusableRouterGivesAnEmptyList) {
    {
        vzsim::DiscoveryIdentity id;
        id.serial = 0xD272031D;
        id.module = 4;
        id.tcpPort = 1; // nothing listens there
        vzsim::DiscoveryResponder responder(id, NETNS_MODULE_ADDRESS);
        std::string error;
        ASSERT_TRUE(responder.start(&error)) << error;
        QuietDisplay display;
        Updater updater("http://127.0.0.1:1/", TEST_HOME, display);
        EXPECT_TRUE(updater.Discover_QBNetwork_Devices(0xD272031D, TCPIP).empty());
        EXPECT_EQ(std::vector<std::string>{"Error 25 on connectFromSpec"}, display.errors);
    }
    TcpipModule router(sIdentity(0xD272031D, 4, 25, 0x2F010000, 500, "Router"));
    vzsim::addRouterMember(router.model, sIdentity(0x11223344, 0x40, 20, 0x2F030201, 77, "M"));
    vzsim::makeRouter(router.model);
    router.model.locked([](vzsim::ModuleModel& m) {
        m.primary()->setHandler(3, std::make_shared<OptionRefused>(OptionRefused::kRouteToMe));
        return 0;
    });
    router.start();
    QuietDisplay display;
    Updater updater("http://127.0.0.1:1/", TEST_HOME, display);
    EXPECT_TRUE(updater.Discover_QBNetwork_Devices(0xD272031D, TCPIP).empty());
    EXPECT_EQ(std::vector<std::string>{"Error 29 on route to me"}, display.errors);
    // A router nobody answers for: empty, and nothing to say.
    QuietDisplay quiet;
    Updater other("http://127.0.0.1:1/", TEST_HOME, quiet);
    EXPECT_TRUE(other.Discover_QBNetwork_Devices(0x0BADF00D, TCPIP).empty());
    EXPECT_TRUE(quiet.errors.empty());
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    gNamespace = NetNamespace_Enter();
    return RUN_ALL_TESTS();
}
