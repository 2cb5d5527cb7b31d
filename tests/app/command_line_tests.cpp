// What _get_params records for each option, and the digit converters behind it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Log.h"
#include "Recorder.h"

namespace {

struct Scanned {
    int result;
    Parameters params;
    std::vector<std::string> messages;
    std::vector<std::string> argv; // after scanning
};

Scanned Scan(std::vector<std::string> args) {
    args.insert(args.begin(), "/opt/bin/Updater");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    Scanned s;
    Recorder display;
    s.result = _get_params(display, static_cast<int>(args.size()), argv.data(), &s.params);
    s.messages = display.lines;
    for (size_t i = 0; i + 1 < argv.size(); ++i)
        s.argv.push_back(argv[i]);
    Log::DeactivatePackage(0xFFFFFFFF);
    return s;
}

TEST(GetParams, Defaults) {
    const Scanned s = Scan({});
    EXPECT_EQ(s.result, 0);
    EXPECT_FALSE(s.params.commands.IsSet(0xFFFFFFFF));
    EXPECT_EQ(s.params.transport, 1u);
    EXPECT_FALSE(s.params.transport_given);
    EXPECT_EQ(s.params.baud_rate, 115200u);
    EXPECT_EQ(s.params.server_url, "http://updates.vazizori.example/cgi/u");
    EXPECT_EQ(s.params.log_mode, "a+");
    EXPECT_EQ(s.params.log_file, "Updater.log");
    EXPECT_TRUE(s.params.uei_bytes_load);
    EXPECT_EQ(s.params.program_name, "Updater");
    EXPECT_TRUE(s.messages.empty());
}

struct FieldCase {
    const char* name;
    std::vector<std::string> args;
    std::function<bool(const Parameters&)> holds;
};

const std::vector<FieldCase> kFieldCases = {
    {"TransportTcp",
     {"-t", "TCPIP"},
     [](auto& p) { return p.transport == 2 && p.transport_given; }},
    {"TransportRecover", {"-t", "RECOVER"}, [](auto& p) { return p.transport == 0xFF; }},
    {"TransportUsbPrefix", {"-t", "USBX"}, [](auto& p) { return p.transport == 1; }},
    {"OverridePrefix", {"-OVER"}, [](auto& p) { return p.override_model_check; }},
    {"OverrideShortest", {"-O"}, [](auto& p) { return p.override_model_check; }},
    {"UeiBytesOff", {"-m", "0"}, [](auto& p) { return !p.uei_bytes_load; }},
    {"UeiBytesOne", {"-m", "1x"}, [](auto& p) { return p.uei_bytes_load; }},
    {"UeiBytesTrue", {"-m=trueish"}, [](auto& p) { return p.uei_bytes_load; }},
    {"UeiBytesTrUpper", {"-m", "TRUE"}, [](auto& p) { return !p.uei_bytes_load; }},
    {"BuildLeadingZeros", {"-b", "00123"}, [](auto& p) { return p.build == "123"; }},
    {"BuildNotDigits", {"-b", "12a"}, [](auto& p) { return p.build == "0"; }},
    {"BaudRate", {"-o", "230400"}, [](auto& p) { return p.baud_rate == 230400; }},
    {"BaudRateNotDigits", {"-o", "fast"}, [](auto& p) { return p.baud_rate == 0; }},
    {"SerialMixedCaseHex", {"-d", "0x40f5849A"}, [](auto& p) { return p.serial == 0x40F5849A; }},
    {"SerialTruncatedTo32Bits",
     {"-d", "140F5849A"},
     [](auto& p) { return p.serial == 0x40F5849A; }},
    {"RouterSerial", {"-r=0XD272031D"}, [](auto& p) { return p.router_serial == 0xD272031D; }},
    {"MaskHex",
     {"-X", "0x10001"},
     [](auto& p) { return p.log_mask == 0x10001 && p.show_extended_usage; }},
    {"MaskDecimal", {"-X", "256"}, [](auto& p) { return p.log_mask == 256; }},
    {"Texts",
     {"-f", "a.bird", "-s", "/dev/ttyS1", "-l", "note", "-k", "x.log", "-u", "http://h/", "-i",
      "/data"},
     [](auto& p) {
         return p.bird_file == "a.bird" && p.serial_port == "/dev/ttyS1" &&
                p.log_message == "note" && p.log_file == "x.log" && p.server_url == "http://h/" &&
                p.store_directory == "/data";
     }},
    {"Flags", {"-e", "-n"}, [](auto& p) { return p.echo_bytes && p.flag_n; }},
    {"Commands",
     {"-B", "-L", "-D", "-G", "-I", "-U", "-N", "-C", "-J", "-Z", "v"},
     [](auto& p) {
         return p.commands.IsSet(0x3FF) && !p.commands.IsSet(CMD_HELP) &&
                p.commands.IsSet(CMD_LIST_BUILDS) && p.commands.IsSet(CMD_OPTION_Z);
     }},
    {"HelpSetsFullUsage",
     {"-X", "1", "--help"},
     [](auto& p) {
         return p.commands.IsSet(CMD_HELP) && p.show_full_usage && p.show_extended_usage;
     }},
    {"ValueBeginningWithDashRefused",
     {"-s", "-D"},
     [](auto& p) { return p.serial_port.empty() && p.commands.IsSet(CMD_DISCOVER); }},
    {"EqualsValueMayBeginWithDash", {"-s=-D"}, [](auto& p) { return p.serial_port == "-D"; }},
};

void PrintTo(const FieldCase& c, std::ostream* os) {
    *os << c.name;
}

class GetParamsFields : public testing::TestWithParam<FieldCase> {};

TEST_P(GetParamsFields, Recorded) {
    const Scanned s = Scan(GetParam().args);
    EXPECT_EQ(s.result, 0);
    EXPECT_TRUE(GetParam().holds(s.params));
}

INSTANTIATE_TEST_SUITE_P(CommandLine, GetParamsFields, testing::ValuesIn(kFieldCases),
                         [](const testing::TestParamInfo<FieldCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(GetParams, WordsMovedBehindInOrder) {
    const Scanned s = Scan({"one", "-d", "40F5849A", "two", "-D", "three"});
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.argv, (std::vector<std::string>{"/opt/bin/Updater", "-d", "40F5849A", "-D", "one",
                                                "two", "three"}));
}

TEST(GetParams, MaskActiveForLaterOptionsOnly) {
    FILE* sink = tmpfile();
    ASSERT_NE(sink, nullptr);
    Log::SetOutput(sink);
    Scan({"-d", "0x1", "-X", "1", "-d", "0x2", "-X", "3z", "-d", "0x3"});
    Log::SetOutput(nullptr);
    rewind(sink);
    std::string text;
    for (int c; (c = fgetc(sink)) != EOF;)
        text += static_cast<char>(c);
    fclose(sink);
    // The faulty mask is not applied, so the earlier one stays on.
    EXPECT_EQ(text, "Discarding '0x' serial number prefix\nDiscarding '0x' serial number prefix\n");
}

TEST(Digits, Converters) {
    char text[] = "00FFffFF";
    char* end = nullptr;
    EXPECT_EQ(_get_hex_arg(text, &end), 0xFFFFFFu);
    EXPECT_EQ(end, text + 8);
    EXPECT_EQ(_get_hex_arg(text, nullptr), 0u);

    char bad[] = "12g";
    end = nullptr;
    EXPECT_EQ(_get_hex_arg(bad, &end), 0u);
    EXPECT_EQ(end, nullptr);
    EXPECT_EQ(_get_int_arg("12a", &end), 0u);
    EXPECT_EQ(_get_int_arg("-1", &end), 0u);
    EXPECT_EQ(end, nullptr);

    char empty[] = "";
    EXPECT_EQ(_get_int_arg(empty, &end), 0u);
    EXPECT_EQ(end, empty);
    EXPECT_EQ(_get_int_arg("4294967296", &end), 0u); // 2^32 truncated
    EXPECT_EQ(_get_int_arg("4294967297", &end), 1u);
    EXPECT_EQ(_get_hex_arg("1FFFFFFFF", &end), 0xFFFFFFFFu);
}

} // namespace
