// Link, Module and entities against the simulated module over real TCP.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "I2CClass.h"
#include "Module.h"
#include "RouterModel.h"
#include "SimulatedModule.h"
#include "SystemClass.h"

using namespace Vazizori::Vuviridor;

namespace {

vzsim::ModuleIdentity sIdentity(uint32_t serial, uint8_t address) {
    vzsim::ModuleIdentity id;
    id.serial = serial;
    id.address = address;
    id.model = 0x13;
    id.version = 0x2F020305; // 2.3.5
    id.build = 4711;
    id.name = "Bench module";
    return id;
}

aEtherConfig sDirect() {
    aEtherConfig config;
    config.enabled = false;
    config.fallback = false;
    return config;
}

class ModuleOverTCP : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(sim.start()); }
    aErr connect(Module& module) {
        module.setConfig(sDirect());
        return module.connectFromSpec(sim.lspec());
    }
    SimulatedModule sim{sIdentity(0x40F5849A, 6)};
};

// The address a module reports replaces the configured one, unless automatic
// networking is off.
TEST_F(ModuleOverTCP, ConnectLearnsTheModuleAddress) {
    Module learning(2, 0);
    ASSERT_EQ(aErrNone, connect(learning));
    EXPECT_TRUE(learning.isConnected());
    EXPECT_EQ(6, learning.getModuleAddress());

    Module fixed(2, false, 0);
    ASSERT_EQ(aErrNone, connect(fixed));
    EXPECT_EQ(2, fixed.getModuleAddress());
}

TEST_F(ModuleOverTCP, ConnectTwiceIsRefused) {
    Module module(2, 0);
    ASSERT_EQ(aErrNone, connect(module));
    EXPECT_EQ(aErrBusy, module.connectFromSpec(sim.lspec()));
    EXPECT_EQ(aErrConnection, module.getLink()->connect());
    EXPECT_EQ(aErrMode, module.setConfig(sDirect()));
    EXPECT_EQ(aErrBusy, module.getLink()->setLinkSpecifier(sim.lspec()));
    // After a disconnect the stored specifier connects again.
    EXPECT_EQ(aErrNone, module.disconnect());
    EXPECT_FALSE(module.isConnected());
    EXPECT_EQ(aErrNone, module.reconnect());
    EXPECT_TRUE(module.isConnected());
}

TEST_F(ModuleOverTCP, SystemEntityReadsIdentity) {
    Module module(2, 0);
    ASSERT_EQ(aErrNone, connect(module));
    SystemClass system;
    system.init(&module, 0);
    uint32_t serial = 0, version = 0, build = 0;
    uint8_t model = 0, address = 0, router = 0;
    EXPECT_EQ(aErrNone, system.getSerialNumber(&serial));
    EXPECT_EQ(0x40F5849Au, serial);
    EXPECT_EQ(aErrNone, system.getModel(&model));
    EXPECT_EQ(0x13, model);
    EXPECT_EQ(aErrNone, system.getVersion(&version));
    EXPECT_EQ(0x2F020305u, version);
    EXPECT_EQ(aErrNone, system.getModule(&address));
    EXPECT_EQ(6, address);
    EXPECT_EQ(aErrNone, system.getRouter(&router));
    EXPECT_EQ(6, router);
    EXPECT_EQ(aErrNone, system.getBuild(&build));
    EXPECT_EQ(4711u, build);
    uint8_t name[32];
    size_t received = 0;
    EXPECT_EQ(aErrNone, system.getName(name, sizeof(name), &received));
    EXPECT_EQ("Bench module", std::string(reinterpret_cast<char*>(name), received));
    EXPECT_EQ(aErrNone, system.setLED(true));
    EXPECT_EQ(aErrNone, system.routeToMe(1));
}

// Names longer than one packet come back in sequence; a buffer too small is a
// memory error, not an overrun.
TEST_F(ModuleOverTCP, ByteStringsRoundTrip) {
    Module module(2, 0);
    ASSERT_EQ(aErrNone, connect(module));
    SystemClass system;
    system.init(&module, 0);
    const std::string longName = "A module name that spans three packets!!!!!!!!!!!";
    ASSERT_EQ(aErrNone,
              system.setName(reinterpret_cast<const uint8_t*>(longName.data()), longName.size()));
    uint8_t name[64];
    size_t received = 0;
    EXPECT_EQ(aErrNone, system.getName(name, sizeof(name), &received));
    EXPECT_EQ(longName, std::string(reinterpret_cast<char*>(name), received));
    uint8_t small[10];
    EXPECT_EQ(aErrMemory, system.getName(small, sizeof(small), &received));
}

// Module refusals surface as the module's own code and leave outputs alone.
TEST_F(ModuleOverTCP, ErrorRepliesGiveTheModulesCode) {
    Module module(2, 0);
    ASSERT_EQ(aErrNone, connect(module));
    SystemClass system;
    system.init(&module, 0);
    uint32_t value = 0xA5A5A5A5;
    EXPECT_EQ(aErrInvalidOption, system.getUEI32(60, &value));
    EXPECT_EQ(0xA5A5A5A5u, value);
    EXPECT_EQ(aErrMode, system.setUEI32(systemSerialNumber, 1u));
    SystemClass second;
    second.init(&module, 1);
    EXPECT_EQ(aErrInvalidEntity, second.getSerialNumber(&value));
    EXPECT_EQ(0xA5A5A5A5u, value);
}

TEST_F(ModuleOverTCP, MissingReplyTimesOut) {
    Module module(2, 0);
    ASSERT_EQ(aErrNone, connect(module));
    vzsim::Faults faults;
    faults.dropReplies = {1};
    sim.model.setFaults(faults);
    SystemClass system;
    system.init(&module, 0);
    uint32_t serial = 0;
    EXPECT_EQ(aErrTimeout, system.getSerialNumber(&serial));
    EXPECT_EQ(aErrNone, system.getSerialNumber(&serial));
    EXPECT_EQ(0x40F5849Au, serial);
}

// Requests are checked before anything is queued.
TEST_F(ModuleOverTCP, BadRequestsAreRefused) {
    Module module(2, 0);
    ASSERT_EQ(aErrNone, connect(module));
    Link* link = module.getLink();
    uint8_t data[28] = {};
    EXPECT_EQ(aErrPacket, link->sendPacket(3, cmdDEBUG, 1, data));
    EXPECT_EQ(aErrPacket, link->sendPacket(0, cmdDEBUG, 1, data));
    EXPECT_EQ(aErrParam, link->sendPacket(6, cmdDEBUG, 28, data));
    EXPECT_EQ(aErrNone, link->sendPacket(6, cmdDEBUG, 27, data));
    uei request = {};
    request.module = 5;
    request.command = cmdSYSTEM;
    EXPECT_EQ(aErrPacket, link->sendUEI(request));

    module.setModuleAddress(3);
    SystemClass system;
    system.init(&module, 0);
    uint32_t serial = 0;
    EXPECT_EQ(aErrPacket, system.getSerialNumber(&serial));
    EXPECT_EQ(aErrParam, module.hasUEI(cmdSYSTEM, 9, 0, 0xC0));
    EXPECT_EQ(aErrParam, module.hasUEI(cmdSYSTEM, 9, 0, 0x01));
}

TEST_F(ModuleOverTCP, InfoQueriesAndEcho) {
    Module module(2, 0);
    ASSERT_EQ(aErrNone, connect(module));
    uint32_t build = 0;
    EXPECT_EQ(aErrNone, module.getBuild(&build));
    EXPECT_EQ(4711u, build);
    EXPECT_EQ(aErrParam, module.getBuild(nullptr));
    EXPECT_EQ(aErrNone, module.hasUEI(cmdSYSTEM, systemSerialNumber, 0, 0x40));
    EXPECT_NE(aErrNone, module.hasUEI(cmdSYSTEM, systemSerialNumber, 0, 0x80));
    uint8_t count = 0;
    EXPECT_EQ(aErrNone, module.classQuantity(cmdSYSTEM, &count));
    EXPECT_EQ(1, count);
    const uint8_t echo[] = {1, 2, 3};
    EXPECT_EQ(aErrNone, module.debug(echo, sizeof(echo)));
}

TEST(ModuleUnconnected, AnswersWithoutTouchingTheNetwork) {
    Module module(2, 0);
    EXPECT_EQ(aErrParam, module.connect(USB, 0));
    uint32_t value = 0;
    EXPECT_EQ(aErrConnection, module.getBuild(&value));
    EXPECT_EQ(aErrConnection, module.getLink()->sendPacket(2, cmdDEBUG, 0, nullptr));
    uint8_t address = 9;
    EXPECT_EQ(aErrNotReady, module.getLink()->getModuleAddress(&address));
    EXPECT_EQ(0, address);
    SystemClass unbound;
    EXPECT_EQ(aErrResource, unbound.getSerialNumber(&value));
    SystemClass system;
    system.init(&module, 0);
    EXPECT_EQ(aErrConnection, system.getSerialNumber(&value));
    EXPECT_EQ(aErrConfiguration, module.reconnect()); // nothing to reconnect to
}

// Link creation by transport, before any connection is tried.
TEST(LinkSpecifiers, UnsupportedOrMisconfiguredTransports) {
    struct Case {
        uint32_t type;
        bool networking;
        aErr expected;
    } cases[] = {
        {AETHER, false, aErrConfiguration},
        {AETHER, true, aErrUnimplemented},
        {USB, true, aErrUnimplemented},
        {9, false, aErrMode},
    };
    for (const Case& c : cases) {
        Link link("Link");
        aEtherConfig config;
        config.enabled = c.networking;
        link.setConfig(config);
        linkSpec lspec = {};
        lspec.type = c.type;
        lspec.serialNumber = 0x40F5849A;
        link.setLinkSpecifier(lspec);
        EXPECT_EQ(c.expected, link.connect()) << "type " << c.type;
        EXPECT_FALSE(link.isConnected());
    }
    aEtherConfig config;
    Link link("Link");
    config.fallback = false;
    link.setConfig(config);
    EXPECT_EQ(aErrNotFound, link.discoverAndConnect(SERIAL, 0x40F5849A, 0));
}

// A router module with two members on its I2C network.
class RouterOverTCP : public ::testing::Test {
  protected:
    void SetUp() override {
        vzsim::makeRouter(sim.model);
        vzsim::addRouterMember(sim.model, sIdentity(0x2181F0EE, 0x0A), true);
        vzsim::addRouterMember(sim.model, sIdentity(0x11223344, 0x40), true);
        ASSERT_TRUE(sim.start());
        router.setConfig(sDirect());
        ASSERT_EQ(aErrNone, router.connectFromSpec(sim.lspec()));
    }
    SimulatedModule sim{sIdentity(0xD272031D, 4)};
    Module router{2, 0};
};

TEST_F(RouterOverTCP, MembersAreReachedThroughTheRoutersLink) {
    I2CClass i2c;
    i2c.init(&router, 0);
    ASSERT_EQ(aErrNone, i2c.setSpeed(3));
    const uint8_t probe[2] = {0, 0};
    EXPECT_EQ(aErrNone, i2c.write(0x0A, 2, probe));
    EXPECT_EQ(aErrTimeout, i2c.write(0x0C, 2, probe));
    EXPECT_EQ(aErrNone, i2c.write(0x04, 2, probe)); // the router is on its network too

    Module member(0x0A, false, 0);
    member.setConfig(sDirect());
    ASSERT_EQ(aErrNone, member.connectThroughLinkModule(&router));
    EXPECT_EQ(aErrNone, member.connectThroughLinkModule(&router)); // already connected
    EXPECT_EQ(0x0A, member.getModuleAddress());
    SystemClass system;
    system.init(&member, 0);
    uint32_t serial = 0;
    uint8_t routerAddress = 0;
    // Members answer only while the router routes their replies to this host.
    EXPECT_EQ(aErrTimeout, system.getSerialNumber(&serial));
    SystemClass routerSystem;
    routerSystem.init(&router, 0);
    ASSERT_EQ(aErrNone, routerSystem.routeToMe(1));
    EXPECT_EQ(aErrNone, system.getSerialNumber(&serial));
    EXPECT_EQ(0x2181F0EEu, serial);
    EXPECT_EQ(aErrNone, system.getRouter(&routerAddress));
    EXPECT_EQ(4, routerAddress);

    // The member's use of the shared link ends without ending the router's.
    EXPECT_EQ(aErrNone, member.disconnect());
    EXPECT_TRUE(router.isConnected());
    EXPECT_EQ(aErrNone, routerSystem.getSerialNumber(&serial));
    EXPECT_EQ(0xD272031Du, serial);
}

// The member holds its own use of the shared link: it goes on working after
// the router's Module is gone.
TEST_F(RouterOverTCP, MemberOutlivesTheRoutersModule) {
    auto transient = std::make_unique<Module>(2, 0);
    transient->setConfig(sDirect());
    ASSERT_EQ(aErrNone, transient->connectFromSpec(sim.lspec()));
    SystemClass routing;
    routing.init(transient.get(), 0);
    ASSERT_EQ(aErrNone, routing.routeToMe(1));
    Module member(0x40, false, 0);
    member.setConfig(sDirect());
    ASSERT_EQ(aErrNone, member.connectThroughLinkModule(transient.get()));
    transient.reset();
    SystemClass system;
    system.init(&member, 0);
    uint32_t serial = 0;
    EXPECT_EQ(aErrNone, system.getSerialNumber(&serial));
    EXPECT_EQ(0x11223344u, serial);
}

TEST(I2CClassLimits, RefusedBeforeSending) {
    Module module(2, 0);
    I2CClass i2c;
    i2c.init(&module, 0);
    uint8_t data[24] = {};
    EXPECT_EQ(aErrSize, i2c.write(0x40, 24, data));
    EXPECT_EQ(aErrSize, i2c.read(0x40, 24, data));
    EXPECT_EQ(aErrParam, i2c.setSpeed(4));
    uint8_t speed = 9;
    EXPECT_EQ(aErrNone, i2c.getSpeed(&speed));
    EXPECT_EQ(0, speed);
}

TEST(EntityHelpers, ByteCountToUnits) {
    size_t count = 12;
    EXPECT_EQ(aErrNone, EntityClass::getUEIBytesCheck(&count, 4));
    EXPECT_EQ(3u, count);
    count = 13;
    EXPECT_EQ(aErrMemory, EntityClass::getUEIBytesCheck(&count, 4));
    EXPECT_EQ(13u, count);
    EXPECT_EQ(aErrParam, EntityClass::getUEIBytesCheck(nullptr, 4));
}

} // namespace
