// USB links through the real libusb against the simulated module on an
// emulated USB device (umockdev). Skips when the preload library is not active.
#include <gtest/gtest.h>

#include <memory>
#include <sys/prctl.h>
#include <umockdev.h>

#include "LinkConversation.h"
#include "ModuleModel.h"
#include "SimLinkHelpers.h"
#include "UsbFrontEnd.h"
#include "aLink.h"
#include "aLink_Internal.h"
#include "aStream_USBDevice.h"

namespace {

const uint32_t kSerial = 0x40F5849A;

class UsbLink : public ::testing::Test {
  protected:
    void SetUp() override {
        testbed = umockdev_testbed_new();
        if (!umockdev_in_mock_environment()) GTEST_SKIP() << "umockdev preload not active";
        vzsim::ModuleIdentity identity;
        identity.serial = kSerial;
        model = std::make_unique<vzsim::ModuleModel>(identity);
        device = std::make_unique<vzsim::UsbFrontEnd>(testbed, *model);
        std::string error;
        ASSERT_TRUE(device->plug(&error)) << error;
    }
    void TearDown() override {
        if (id) aLink_Destroy(&id);
        Vuviridor_libusb_exit(); // the next test's testbed needs a fresh context
        device.reset();
        model.reset();
        if (testbed) g_object_unref(testbed);
    }
    UMockdevTestbed* testbed = nullptr;
    std::unique_ptr<vzsim::ModuleModel> model;
    std::unique_ptr<vzsim::UsbFrontEnd> device;
    uint32_t id = 0;
};

TEST_F(UsbLink, CreateSyncsForceRoutesAndIsShared) {
    id = aLink_CreateUSB(kSerial);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_RUNNING);
    EXPECT_GE(model->stats().syncRequests, 2u); // the sync ends after two replies
    EXPECT_EQ(model->stats().lastForceRoute, 1);
    linkconv::converse(id, *model, 2);
    aLink_EnablePooledPackets(id, true);
    linkconv::converse(id, *model, 2);

    uint32_t serial = 0;
    uint32_t second = aLink_CreateUSB(kSerial);
    EXPECT_EQ(second, id);
    EXPECT_EQ(aLink_Destroy(&second), aErrNone);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_RUNNING);
    EXPECT_EQ(sGetSystemInt(id, 2, 9, &serial), aErrNone);
    uint32_t kept = id;
    EXPECT_EQ(aLink_Destroy(&id), aErrNone);
    EXPECT_EQ(aLink_GetStatus(kept), aLINK_NOSTREAM);
    EXPECT_TRUE(sEventually([&] { return model->stats().lastForceRoute == 0; }));
}

TEST_F(UsbLink, ResetReopensTheDevice) {
    id = aLink_CreateUSB(kSerial);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(aLink_Reset(id), aErrNone);
    EXPECT_EQ(aLink_Sync(id), aErrNone);
    uint32_t serial = 0;
    EXPECT_EQ(sGetSystemInt(id, 2, 9, &serial), aErrNone);
}

TEST_F(UsbLink, UnplugIsAnIoErrorUntilAResetFindsTheModuleAgain) {
    id = aLink_CreateUSB(kSerial);
    ASSERT_NE(id, 0u);
    device->unplug();
    EXPECT_TRUE(sEventually([&] { return aLink_GetStatus(id) == aLINK_IOERROR; }))
        << "status " << aLink_GetStatus(id);
    uint32_t serial = 0;
    EXPECT_EQ(sGetSystemInt(id, 2, 9, &serial), aErrTimeout) << "a broken link fails at once";

    // Plugged in again (a new bus address): a reset opens it by serial number.
    std::string error;
    ASSERT_TRUE(device->plug(&error)) << error;
    EXPECT_EQ(aLink_Reset(id), aErrNone);
    EXPECT_EQ(aLink_Sync(id), aErrNone);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_RUNNING);
    EXPECT_EQ(sGetSystemInt(id, 2, 9, &serial), aErrNone);
    EXPECT_EQ(serial, kSerial);
}

TEST_F(UsbLink, ModuleThatDropsMidStreamComesBackAfterAReset) {
    id = aLink_CreateUSB(kSerial);
    ASSERT_NE(id, 0u);
    vzsim::Faults faults;
    faults.closeAfterReplies = 1; // on USB: the module leaves the bus and returns
    model->setFaults(faults);
    uint32_t serial = 0;
    EXPECT_EQ(sGetSystemInt(id, 2, 9, &serial), aErrNone);
    model->setFaults(vzsim::Faults{});
    EXPECT_TRUE(sEventually([&] { return aLink_GetStatus(id) == aLINK_IOERROR; }))
        << "status " << aLink_GetStatus(id);
    EXPECT_EQ(aLink_Reset(id), aErrNone);
    EXPECT_EQ(aLink_Sync(id), aErrNone);
    EXPECT_EQ(sGetSystemInt(id, 2, 9, &serial), aErrNone);
}

TEST_F(UsbLink, RefusedCreations) {
    EXPECT_EQ(aLink_CreateUSB(0x12345678), 0u) << "no such module";

    // A link shared by a link server is reached as that server's client.
    id = aLink_CreateUSB(kSerial);
    ASSERT_NE(id, 0u);
    auto setServer = [](linkEntry* entry, void* ref) { entry->server = (aServer*)ref; };
    _aLink_WithEntry(id, setServer, (void*)1);
    EXPECT_EQ(aLink_CreateUSB(kSerial), 0u);
    _aLink_WithEntry(id, setServer, nullptr);
    aLink_Destroy(&id);

    // A module that never answers the sync.
    vzsim::Faults silent;
    silent.answerSync = false;
    model->setFaults(silent);
    EXPECT_EQ(aLink_CreateUSB(kSerial), 0u);
    model->setFaults(vzsim::Faults{});
    id = aLink_CreateUSB(kSerial);
    EXPECT_NE(id, 0u) << "a failed creation leaves nothing behind";
}

} // namespace

int main(int argc, char** argv) {
    prctl(PR_SET_TIMERSLACK, 1); // every emulated call ends in a short sleep
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
