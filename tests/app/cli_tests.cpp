// Runs the real Updater executable and checks stdout, stderr and exit status exactly.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>

#include "ChildProcess.h"

namespace {

const std::string kVersion = "Updater (Version: 2.11.3 Jun  6 2025)\n";
const std::string kCopyright = "Copyright (c) 2025 The Updater developers. All rights reserved.\n";
const std::string kBasic = ReadFile(APP_TEST_DATA "/usage_basic.txt");
const std::string kFull = ReadFile(APP_TEST_DATA "/usage_full.txt");
const std::string kFullExtended = ReadFile(APP_TEST_DATA "/usage_full_extended.txt");

// Nothing listens on port 1 of the loopback, so server requests fail at once.
const std::string kDeadServer = "http://127.0.0.1:1/cgi/u";
const std::string kServerFailed = "Server request failed for " + kDeadServer + "\n";

const std::string kNoUsbDevices =
    "Searching for Vuviridor devices\nDiscovered Devices: (USB)\n    No devices found.\n";

// "@" in arguments and expectations stands for the store option's directory.
struct CliCase {
    const char* name;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
};

std::string Expand(std::string text, const std::string& dir) {
    for (size_t at; (at = text.find('@')) != std::string::npos;)
        text.replace(at, 1, dir);
    return text;
}

ChildResult RunUpdater(std::vector<std::string> args, const ChildOptions& options = {}) {
    args.insert(args.begin(), "Updater");
    return RunProgram(UPDATER_EXE, args, options);
}

// Operations of the engine that are not built yet report themselves and fail; these rows
// change as the operations arrive. Rows that may reach the server name a closed loopback
// port with -u, so the default host is never looked up.
const std::vector<CliCase> kCases = {
    {"NoArguments", {}, kVersion + kCopyright, kBasic, 0},
    {"HelpShort", {"-h"}, kVersion + kCopyright, kFull, 0},
    {"HelpCapital", {"-H"}, kVersion + kCopyright, kFull, 0},
    {"HelpLong", {"--help"}, kVersion + kCopyright, kFull, 0},
    {"HelpPrefix", {"--he"}, kVersion + kCopyright, kFull, 0},
    {"ExtendedOnlyWhenMaskBeforeHelp", {"-X", "1", "-h"}, kVersion + kCopyright, kFullExtended, 0},
    {"MaskAfterHelpIgnored", {"-h", "-X", "1"}, kVersion + kCopyright, kFull, 0},
    {"HelpStopsScanning", {"-h", "-Y", "-d", "0"}, kVersion + kCopyright, kFull, 0},
    {"WordsIgnored", {"some", "words"}, kVersion + kCopyright, kBasic, 0},

    {"SerialZero",
     {"-d", "0x0", "-D"},
     kVersion + kCopyright,
     "Invalid serial number obtained from argument [0]\n" + kBasic,
     1},
    {"SerialNotHex",
     {"-d", "xyz"},
     kVersion + kCopyright,
     "Invalid serial number obtained from argument [xyz]\n" + kBasic,
     1},
    {"SerialDoublePrefix",
     {"-d", "0x0x12"},
     kVersion + kCopyright,
     "Invalid serial number obtained from argument [0x12]\n" + kBasic,
     1},
    {"SerialEmptyAfterEquals",
     {"-d="},
     kVersion + kCopyright,
     "Invalid serial number obtained from argument []\n" + kBasic,
     1},
    {"RouterSerialNotHex",
     {"-r", "0xg1"},
     kVersion + kCopyright,
     "Invalid router serial number obtained from argument [g1]\n" + kBasic,
     1},
    {"SeveralErrorsInOneRun",
     {"-d", "q", "-Y", "-t", "x"},
     kVersion + kCopyright,
     "Invalid serial number obtained from argument [q]\nUnhandled command: [-Y]\n"
     "Invalid transport type:[x]\nMust be one of the following: USB, TCPIP, RECOVER\n" +
         kBasic,
     1},
    {"UnhandledCommand", {"-Y"}, kVersion + kCopyright, "Unhandled command: [-Y]\n" + kBasic, 1},
    {"TransportLowerCase",
     {"-t", "usb", "-D"},
     kVersion + kCopyright,
     "Invalid transport type:[usb]\nMust be one of the following: USB, TCPIP, RECOVER\n" + kBasic,
     1},

    {"UnknownOptionIgnored", {"-Q"}, kVersion + kCopyright, kBasic, 0},
    {"ValueOnFlagIgnored", {"-D=1"}, kVersion + kCopyright, kBasic, 0},
    {"OverridePrefixIsNoCommand", {"-OVER"}, kVersion + kCopyright, kBasic, 0},
    {"AmbiguousPrefixIgnored", {"-", "-I", "-i", "@"}, kVersion, "", 0},
    {"DeviceInfoAlone", {"-I", "-i", "@"}, kVersion, "", 0},
    {"CheckBirdAlone", {"-C", "file.bird", "-i", "@"}, kVersion, "", 0},
    {"OptionZAlone", {"-Z", "1", "-i", "@"}, kVersion, "", 0},
    {"OptionZWithoutValueIsNoCommand", {"-Z"}, kVersion + kCopyright, kBasic, 0},
    {"MaskWithTrailingCharacters",
     {"-X", "0x12z", "-I", "-i", "@"},
     kVersion,
     "Invalid format for \"-X\" parameter, unprocessed characters [z]\n",
     0},

    {"GetWithoutSerial",
     {"-G", "-i", "@"},
     kVersion,
     "-G must specify a specific device via -d\n--help for usage information\n",
     1},
    {"GetSerialAsLastElement",
     {"-G", "-i", "@", "-d"},
     kVersion,
     "-G must specify a specific device via -d\n--help for usage information\n",
     1},
    {"GetJoinedValueIsUnknown",
     {"-G", "-d40F5849A", "-i", "@"},
     kVersion,
     "-G must specify a specific device via -d\n--help for usage information\n",
     1},
    {"GetSerialWithEquals",
     {"-G", "-d=40F5849A", "-i", "@", "-u", kDeadServer},
     kVersion + "Retrieving firmware for device with serial number 40F5849A\nNo build specified\n"
                "Using Latest build\n",
     kServerFailed,
     1},
    {"GetSerialUpperPrefix",
     {"-G", "-d", "0X40f5849a", "-b", "00123", "-i", "@", "-u", kDeadServer},
     kVersion + "Retrieving firmware for device with serial number 40F5849A\n"
                "Retrieving firmware build 123\n",
     kServerFailed,
     1},
    {"GetBuildNotNumber",
     {"-G", "-d", "0x40F5849A", "-b", "abc", "-i", "@", "-u", kDeadServer},
     kVersion + "Retrieving firmware for device with serial number 40F5849A\n"
                "Retrieving firmware build 0\n",
     kServerFailed,
     1},
    {"FailedGetStillUpdates",
     {"-G", "-U", "-d", "40F5849A", "-i", "@", "-u", kDeadServer},
     kVersion + "Retrieving firmware for device with serial number 40F5849A\nNo build specified\n"
                "Using Latest build\n",
     kServerFailed + "Could not find valid build for this device.\n",
     1},

    // Discovery rows stay on USB (no module of ours is attached): TCP/IP discovery would send
    // multicast out of the machine's interfaces.
    {"SerialValueStartingWithDash", {"-d", "-D", "-i", "@"}, kVersion + kNoUsbDevices, "", 0},
    {"TransportFirstThreeLetters",
     {"-D", "-t", "USBX", "-i", "@"},
     kVersion + kNoUsbDevices,
     "",
     0},
    {"DiscoverRecoverTransportMeansUsb",
     {"-D", "-t", "RECOVER", "-i", "@"},
     kVersion + kNoUsbDevices,
     "",
     0},
    {"NetworkDiscoveryRouterMissing",
     {"-D", "-r", "D272031D", "-t", "USB", "-i", "@"},
     kVersion + "Searching for Vuviridor Network devices connected to D272031D\n"
                "Discovered Devices: (USB)\n    No devices found.\n",
     "",
     0},
    {"DiscoverRunsInsteadOfUpdate",
     {"-U", "-D", "-d", "40F5849A", "-i", "@"},
     kVersion + kNoUsbDevices,
     "",
     0},

    {"UpdateWithoutSerial",
     {"-U", "-i", "@"},
     kVersion,
     "Must specify the specific device to be updated\n",
     1},
    {"Update",
     {"-U", "-d", "40F5849A", "-i", "@", "-u", kDeadServer},
     kVersion,
     "Could not find valid build for this device.\n",
     1},
    {"Recover",
     {"-U", "-t", "RECOVER", "-s", "/dev/null", "-i", "@", "-u", kDeadServer},
     kVersion,
     "Firmware recovery is not available in this build yet\n",
     1},

    {"ListBuildsWithoutSerial",
     {"-B", "-i", "@"},
     kVersion,
     "Error must supply a serial number for the List Builds command\n" + kBasic,
     1},
    {"ListLocalBuildsWithoutSerial",
     {"-L", "-i", "@"},
     kVersion,
     "Error must supply a serial number for the List Local Builds command\n" + kBasic,
     1},
    {"TokenWithoutSerial",
     {"-J", "-i", "@"},
     kVersion,
     "Error must supply a serial number for the Get JWT command\n" + kBasic,
     1},
    // Listing and token failures report through their own messages and still exit 0.
    {"ListBuildsServerDown",
     {"-B", "-d", "40F5849A", "-i", "@", "-u", kDeadServer},
     kVersion + "No builds found for device [40F5849A]\n",
     kServerFailed,
     0},
    {"ListLocalBuildsEmptyStore",
     {"-L", "-d", "40F5849A", "-i", "@"},
     kVersion + "No builds found for device [40F5849A]\n",
     "",
     0},
    {"TokenServerDown",
     {"-J", "-d", "40F5849A", "-i", "@", "-u", kDeadServer},
     kVersion + "\n",
     kServerFailed,
     0},

    {"FingerprintWithoutPort",
     {"-N", "-D", "-i", "@"},
     kVersion,
     "Must specify the serial port used for connecting\n",
     1},
    {"FingerprintFailureKeepsGoing",
     {"-N", "-s", "/dev/null", "-J", "-i", "@", "-u", kDeadServer},
     kVersion,
     "Reading a chip fingerprint is not available in this build yet\n"
     "Got no response from chip\n"
     "Error must supply a serial number for the Get JWT command\n" +
         kBasic,
     1},

    {"LogLinesFollowMaskOrder",
     {"-d", "0x40F5849A", "-X", "1", "-r", "0xD272031D", "-I", "-i", "@"},
     kVersion,
     "Discarding '0x' router serial number prefix\n",
     0},
    {"ParameterLogAfterMoving",
     {"word", "-X", "0x10000", "-I", "-i", "@", "other"},
     kVersion,
     "\nApplication parameters:[Updater]\n\t[Updater]\n\t[-X]\n\t[0x10000]\n\t[-I]\n\t[-i]\n"
     "\t[@]\n\t[word]\n\t[other]\n",
     0},
};

void PrintTo(const CliCase& c, std::ostream* os) {
    *os << c.name;
}

class CliTable : public testing::TestWithParam<CliCase> {};

TEST_P(CliTable, OutputAndStatus) {
    const CliCase& c = GetParam();
    TempDir dir;
    std::vector<std::string> args;
    for (const std::string& a : c.args)
        args.push_back(Expand(a, dir.path()));
    const ChildResult r = RunUpdater(args);
    EXPECT_EQ(r.out, Expand(c.out, dir.path()));
    EXPECT_EQ(r.err, Expand(c.err, dir.path()));
    EXPECT_EQ(r.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(Updater, CliTable, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<CliCase>& info) {
                             return std::string(info.param.name);
                         });

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode;
}

TEST(StoreDirectory, CreatedBelowGivenDirectoryWithMode0755) {
    TempDir dir;
    const std::string base = dir.path() + "/one/two";
    const ChildResult r = RunUpdater({"-I", "-i", base});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const mode_t mode = ModeOf(base + "/updater");
    EXPECT_TRUE(S_ISDIR(mode));
    EXPECT_EQ(mode & 07777, 0755u);
}

TEST(StoreDirectory, CannotBeCreatedUnderAFile) {
    TempDir dir;
    const std::string file = dir.path() + "/plain";
    FILE* f = fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    const ChildResult r = RunUpdater({"-I", "-i", file});
    EXPECT_EQ(r.out, kVersion);
    EXPECT_EQ(r.err, "Could not find updater directory at " + file + "/updater\n");
    EXPECT_EQ(r.status, 1);
}

TEST(StoreDirectory, UsageAndOptionErrorsNeverTouchTheStore) {
    TempDir dir;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-h", "-i", dir.path() + "/s"},
          std::vector<std::string>{"-Y", "-i", dir.path() + "/s"}}) {
        RunUpdater(args);
        EXPECT_EQ(ModeOf(dir.path() + "/s"), 0u);
    }
}

// A user id without a password entry, so that the home directory comes from HOME.
std::optional<uid_t> UidWithoutPasswordEntry() {
    if (geteuid() != 0) return std::nullopt;
    for (uid_t uid = 54321; uid < 54400; ++uid)
        if (!getpwuid(uid)) return uid;
    return std::nullopt;
}

TEST(StoreDirectory, DefaultIsBelowHome) {
    const auto uid = UidWithoutPasswordEntry();
    if (!uid) GTEST_SKIP() << "needs root to run as a user without a password entry";
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    ChildOptions options;
    options.uid = uid;
    options.env["HOME"] = dir.path();
    const ChildResult r = RunUpdater({"-I"}, options);
    EXPECT_EQ(r.out, kVersion);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(S_ISDIR(ModeOf(dir.path() + "/.vazizori/updater")));
}

TEST(StoreDirectory, UnknownHomeEndsQuietly) {
    const auto uid = UidWithoutPasswordEntry();
    if (!uid) GTEST_SKIP() << "needs root to run as a user without a password entry";
    ChildOptions options;
    options.uid = uid;
    options.env["HOME"] = std::nullopt;
    ChildResult r = RunUpdater({"-I"}, options);
    EXPECT_EQ(r.out, kVersion);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);

    r = RunUpdater({"-X", "0x10000", "-I"}, options);
    EXPECT_EQ(r.out, kVersion);
    EXPECT_EQ(r.err, "\nApplication parameters:[Updater]\n\t[Updater]\n\t[-X]\n\t[0x10000]\n"
                     "\t[-I]\nUpdater: FailedaDirectory_GetHomeDirectory()==> 3\n");
    EXPECT_EQ(r.status, 1);
}

TEST(ProgramName, TakenAfterLastSeparator) {
    TempDir dir;
    for (const char* argv0 : {"/usr/local/bin/Updater", "C:\\tools\\Updater", "Updater"}) {
        const ChildResult r =
            RunProgram(UPDATER_EXE, {argv0, "-X", "0x10000", "-I", "-i", dir.path()});
        EXPECT_EQ(r.err, std::string("\nApplication parameters:[Updater]\n\t[") + argv0 +
                             "]\n\t[-X]\n\t[0x10000]\n\t[-I]\n\t[-i]\n\t[" + dir.path() + "]\n");
    }
}

} // namespace
