// The listings main prints for discovery, fingerprints, build lists and device tokens.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Updater.h"
#include "Recorder.h"

namespace {

DeviceInfo Device(uint32_t type, uint32_t serial, uint32_t module, uint32_t model) {
    DeviceInfo d;
    d.spec.type = static_cast<decltype(d.spec.type)>(type);
    d.spec.serialNumber = serial;
    d.spec.module = module;
    d.spec.model = model;
    return d;
}

const char kUsbHeader[] =
    "    Device    Module   Router  Model          Firmware Version (Build)    Device Name";
const char kOtherHeader[] =
    "    Device    Module   Router  Model          Firmware Version (Build) "
    "  [IP address]       Device Name";

TEST(DeviceListing, UsbEntriesAndErrors) {
    DeviceInfo ok = Device(1, 0x40F5849A, 2, 4);
    ok.version_major = 1;
    ok.version_minor = 2;
    ok.version_patch = 3;
    ok.build_number = 12345;
    ok.device_name = "bench";
    DeviceInfo busy = Device(1, 0x2181F0EE, 2, 4);
    busy.error = aErrBusy;
    Recorder r;
    _display_device_list(r, {ok, busy}, static_cast<linkType>(1));
    EXPECT_EQ(r.lines,
              (std::vector<std::string>{
                  "Discovered Devices: (USB)",
                  kUsbHeader,
                  "    40F5849A  02       00      Quill 4        1.2.3 (     12345)         bench",
                  "    2181F0EE  [Error (5): Is someone else connected to this device?]",
              }));
}

TEST(DeviceListing, TcpEntryShowsAddressEvenWithError) {
    DeviceInfo net = Device(2, 0xD272031D, 4, 25);
    const uint8_t ip[4] = {192, 168, 7, 20};
    memcpy(&net.spec.ipAddress, ip, 4);
    net.spec.router = 6;
    net.version_major = 10;
    net.build_number = 7;
    net.error = aErrTimeout;
    Recorder r;
    _display_device_list(r, {net}, static_cast<linkType>(0));
    EXPECT_EQ(r.lines,
              (std::vector<std::string>{
                  "Discovered Devices: (Unknown)",
                  kOtherHeader,
                  "    D272031D  04       06      Link Router   10.0.0 (         7)        "
                  "[192.168.7.20]     ",
              }));
}

TEST(DeviceListing, EmptyListHasNoHeader) {
    Recorder r;
    _display_device_list(r, {}, static_cast<linkType>(2));
    EXPECT_EQ(r.lines,
              (std::vector<std::string>{"Discovered Devices: (TCPIP)", "    No devices found."}));
}

TEST(FingerprintListing, WordsInOrder) {
    Recorder r;
    Fingerprint f;
    f.words[0] = 0xD;
    f.words[1] = 0xC0FFEE;
    f.words[2] = 0xB;
    f.words[3] = 0xAAAAAAAA;
    _display_fingerprint(r, f);
    EXPECT_EQ(r.lines, (std::vector<std::string>{"[ 0000000D 00C0FFEE 0000000B AAAAAAAA ]"}));
}

TEST(TokenListing, PrintedWholeAndAlone) {
    Recorder r;
    const std::string token = "eyJ" + std::string(3000, 'a') + ".b.c";
    _display_jwt(r, token);
    _display_jwt(r, "");
    EXPECT_EQ(r.lines, (std::vector<std::string>{token, ""}));
}

TEST(BuildListing, EmptyMap) {
    Recorder r;
    _display_builds(r, {}, 0x40F5849A);
    EXPECT_EQ(r.lines, (std::vector<std::string>{"No builds found for device [40F5849A]"}));
}

TEST(BuildListing, TitleHeaderAndColumnsCutTo15) {
    Recorder r;
    _display_builds(r, {{"12345", "1.2.3"}}, 0x40F5849A);
    _display_builds(r, {{"1234567890123456789", "1.2.3-with-a-long-tail"}}, 1);
    EXPECT_EQ(r.lines, (std::vector<std::string>{
                           "Build List for device [40F5849A]:\n",
                           "Build          \tVersion        ",
                           "12345          \t1.2.3          ",
                           "Build List for device [00000001]:\n",
                           "Build          \tVersion        ",
                           "123456789012345\t1.2.3-with-a-lo",
                       }));
}

} // namespace
