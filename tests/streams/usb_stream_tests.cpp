// The USB transport through the real libusb against the simulated module on an
// emulated USB device (umockdev). Skips when the preload library is not active.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <sys/prctl.h>
#include <umockdev.h>
#include <vector>

#include "ModuleModel.h"
#include "PtyFrontEnd.h"
#include "UsbFrontEnd.h"
#include "aStream_USB.h"
#include "aStream_USBDevice.h"
#include "aTime.h"

using namespace vzsim;
using Bytes = std::vector<uint8_t>;

namespace {

const uint32_t kSerial = 0x40F5849A;

ModuleIdentity identity(uint32_t serial = kSerial) {
    ModuleIdentity id;
    id.serial = serial;
    id.model = 0x13;
    id.address = 4;
    return id;
}

// Reads n bytes with the stream's own waiting get, within a few seconds.
Bytes readBytes(aStream* s, size_t n, aErr* last = nullptr) {
    Bytes out;
    aErr err = aErrNone;
    uint64_t end = aTime_GetMSTicks() + 4000;
    while (out.size() < n && aTime_GetMSTicks() < end) {
        uint8_t b;
        err = aStream_Read(s, &b, 1);
        if (err == aErrNone)
            out.push_back(b);
        else if (err != aErrNotReady)
            break;
    }
    if (last) *last = err;
    return out;
}

aErr write(aStream* s, const Bytes& bytes) {
    return aStream_Write(s, bytes.data(), bytes.size());
}

class UsbStream : public ::testing::Test {
  protected:
    void SetUp() override {
        testbed_ = umockdev_testbed_new();
        if (!umockdev_in_mock_environment()) GTEST_SKIP() << "umockdev preload not active";
    }
    void TearDown() override {
        if (stream_) aStream_Destroy(&stream_);
        Vuviridor_libusb_exit(); // the next test's testbed needs a fresh context
        devices_.clear();
        models_.clear();
        if (testbed_) g_object_unref(testbed_);
    }
    UsbFrontEnd& plug(const ModuleIdentity& id, UsbDeviceSpec shape = {}) {
        models_.push_back(std::make_unique<ModuleModel>(id));
        devices_.push_back(std::make_unique<UsbFrontEnd>(testbed_, *models_.back(), shape));
        std::string error;
        EXPECT_TRUE(devices_.back()->plug(&error)) << error;
        return *devices_.back();
    }

    UMockdevTestbed* testbed_ = nullptr;
    std::vector<std::unique_ptr<ModuleModel>> models_;
    std::vector<std::unique_ptr<UsbFrontEnd>> devices_;
    aStream* stream_ = nullptr;
};

} // namespace

TEST_F(UsbStream, OpensTheModuleBySerialNumberAndExchangesPackets) {
    plug(identity());
    ASSERT_EQ(aStream_CreateUSB(kSerial, &stream_), aErrNone);
    ASSERT_EQ(write(stream_, {0xAD, 0x00, 0xAD, 0x00}), aErrNone);
    EXPECT_EQ(readBytes(stream_, 4), (Bytes{4, 0, 4, 0}));
    ASSERT_EQ(write(stream_, {4, 3, 3, 0x49, 0x20}), aErrNone);
    EXPECT_EQ(readBytes(stream_, 9), (Bytes{4, 7, 3, 9, 0, 0x40, 0xF5, 0x84, 0x9A}));
    uint8_t b;
    EXPECT_EQ(aStream_Read(stream_, &b, 1), aErrNotReady); // after the 1000 ms wait
}

TEST_F(UsbStream, SelectionRefusesWhatIsNotTheModule) {
    plug(identity(0x0000ABCD), {0, "0000abcd", 512, true}); // lower-case serial text
    plug(identity(0x0000BEEF), {0x8013, "", 512, true});    // product with the top bit set
    plug(identity(0x0000CAFE), {0, "", 512, false});        // no stream interface
    plug(identity(0x00001234), {0, "0001234", 512, true});  // seven characters
    EXPECT_EQ(aStream_CreateUSB(0x0000ABCD, &stream_), aErrNotFound);
    EXPECT_EQ(aStream_CreateUSB(0x0000BEEF, &stream_), aErrNotFound);
    EXPECT_EQ(aStream_CreateUSB(0x0000CAFE, &stream_), aErrConfiguration);
    EXPECT_EQ(aStream_CreateUSB(0x00001234, &stream_), aErrNotFound);
    EXPECT_EQ(aStream_CreateUSB(0x12345678, &stream_), aErrNotFound);
    EXPECT_EQ(aStream_CreateUSB(0, &stream_), aErrParam);
    EXPECT_EQ(aStream_CreateUSB(kSerial, nullptr), aErrParam);
    EXPECT_EQ(stream_, nullptr);
}

TEST_F(UsbStream, ClaimFailuresMapToTheirCodes) {
    struct {
        uint32_t serial;
        int error;
        aErr expect;
    } cases[] = {{0x101, EBUSY, aErrBusy}, {0x102, ENODEV, aErrBusy}, {0x103, EIO, aErrUnknown}};
    for (auto& c : cases)
        plug(identity(c.serial), {0, "", 512, true, c.error});
    for (auto& c : cases)
        EXPECT_EQ(aStream_CreateUSB(c.serial, &stream_), c.expect) << c.error;
    EXPECT_EQ(stream_, nullptr);
}

TEST_F(UsbStream, WritesAreChunkedByThePacketSize) {
    UsbFrontEnd& highSpeed = plug(identity(1), {0, "", 512, true});
    UsbFrontEnd& fullSpeed = plug(identity(2), {0, "", 64, true});
    Bytes block(1000, 0x02);
    ASSERT_EQ(aStream_CreateUSB(1, &stream_), aErrNone);
    ASSERT_EQ(write(stream_, block), aErrNone);
    EXPECT_EQ(highSpeed.outTransfers(), (std::vector<size_t>{511, 489}));
    aStream_Destroy(&stream_);

    ASSERT_EQ(aStream_CreateUSB(2, &stream_), aErrNone);
    ASSERT_EQ(write(stream_, Bytes(64, 0x02)), aErrNone);
    ASSERT_EQ(write(stream_, Bytes(130, 0x02)), aErrNone);
    EXPECT_EQ(fullSpeed.outTransfers(), (std::vector<size_t>{64, 64, 64, 2}));
}

TEST_F(UsbStream, FourIOErrorsAreHiddenTheFifthFailsTheDevice) {
    UsbFrontEnd& dev = plug(identity());
    ASSERT_EQ(aStream_CreateUSB(kSerial, &stream_), aErrNone);

    // A stall is cleared and reads go on.
    dev.failInTransfers(1, -EPIPE);
    uint8_t b;
    EXPECT_EQ(aStream_Read(stream_, &b, 1), aErrNotReady);
    ASSERT_EQ(write(stream_, {0xAD, 0x00}), aErrNone);
    EXPECT_EQ(readBytes(stream_, 2), (Bytes{4, 0}));

    dev.failInTransfers(5, -EPROTO);
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(aStream_Read(stream_, &b, 1), aErrNotReady) << i;
    EXPECT_EQ(aStream_Read(stream_, &b, 1), aErrIO);
    EXPECT_EQ(aStream_Read(stream_, &b, 1), aErrIO);
    EXPECT_EQ(write(stream_, {0xAD, 0x00}), aErrIO);
}

TEST_F(UsbStream, UnplugFailsTheStreamAndReplugOpensAgain) {
    UsbFrontEnd& dev = plug(identity());
    ASSERT_EQ(aStream_CreateUSB(kSerial, &stream_), aErrNone);
    ASSERT_EQ(write(stream_, {0xAD, 0x00}), aErrNone);
    EXPECT_EQ(readBytes(stream_, 2), (Bytes{4, 0}));

    dev.unplug();
    aErr last = aErrNone;
    EXPECT_TRUE(readBytes(stream_, 1, &last).empty());
    EXPECT_EQ(last, aErrIO); // after the tolerated errors
    EXPECT_NE(write(stream_, {0xAD, 0x00}), aErrNone);
    EXPECT_EQ(aStream_Destroy(&stream_), aErrNone); // closes what is left of the handle
    EXPECT_EQ(aStream_CreateUSB(kSerial, &stream_), aErrNotFound);

    std::string error;
    ASSERT_TRUE(dev.plug(&error)) << error;
    uint64_t end = aTime_GetMSTicks() + 2000;
    aErr err;
    while ((err = aStream_CreateUSB(kSerial, &stream_)) == aErrNotFound && aTime_GetMSTicks() < end)
        aTime_MSSleep(5);
    ASSERT_EQ(err, aErrNone);
    ASSERT_EQ(write(stream_, {0xAD, 0x00}), aErrNone);
    EXPECT_EQ(readBytes(stream_, 2), (Bytes{4, 0}));
}

TEST_F(UsbStream, ARestartingModuleLeavesTheBusAndComesBack) {
    UsbFrontEnd& dev = plug(identity());
    ASSERT_EQ(aStream_CreateUSB(kSerial, &stream_), aErrNone);
    ASSERT_EQ(write(stream_, {4, 3, 3, 0x8B, 0x20}), aErrNone); // system reset
    EXPECT_EQ(readBytes(stream_, 5), (Bytes{4, 3, 3, 0xCB, 0}));
    aErr last = aErrNone;
    readBytes(stream_, 1, &last);
    EXPECT_EQ(last, aErrIO);
    aStream_Destroy(&stream_);
    uint64_t end = aTime_GetMSTicks() + 2000;
    aErr err;
    while ((err = aStream_CreateUSB(kSerial, &stream_)) != aErrNone && aTime_GetMSTicks() < end)
        aTime_MSSleep(5);
    ASSERT_EQ(err, aErrNone);
    EXPECT_TRUE(dev.plugged());
    ASSERT_EQ(write(stream_, {0xAD, 0x00}), aErrNone);
    EXPECT_EQ(readBytes(stream_, 2), (Bytes{4, 0}));
}

TEST_F(UsbStream, KernelDriverNodeIsUsedWhenPresent) {
    ModuleModel model(identity(0x0BADF00D));
    PtyFrontEnd node(model);
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    std::string dev = std::string(root) + "/dev";
    g_free(root);
    mkdir(dev.c_str(), 0755);
    std::string error;
    ASSERT_TRUE(node.start(dev + "/vuviridor.0BADF00D", &error)) << error;
    ASSERT_TRUE(qbusb_is_kernel_driver_installed(0x0BADF00D));
    ASSERT_EQ(aStream_CreateUSB(0x0BADF00D, &stream_), aErrNone);
    ASSERT_EQ(write(stream_, {0xAD, 0x00}), aErrNone);
    EXPECT_EQ(readBytes(stream_, 2), (Bytes{4, 0}));
    aStream_Destroy(&stream_);
    node.stop();
}

int main(int argc, char** argv) {
    prctl(PR_SET_TIMERSLACK, 1); // every emulated call ends in a short sleep
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
