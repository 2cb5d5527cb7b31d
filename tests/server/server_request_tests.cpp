#include "ClientTestSupport.h"
#include "UpdateServerRequest.h"
#include "base64.h"

#include <gtest/gtest.h>

#include <memory>

using USR = UpdateServerRequest;

namespace {

class ServerRequestTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string dev = std::string(kSerialText) + "/";
        root.write(dev + "12345.bird", firmware12345);
        root.write(dev + "100.bird", "build one hundred");
        root.write(dev + ".server", "fw=vzfw-7\nversion.12345=1.2.3\nversion.100=1.10.0\n");
        root.write(".recovery", "# words serial build\n"
                                "0000000A 0000000B 0000000C 0000000D CAFE0001 4711\n");
    }
    // A canned reply body for one request of the device.
    void reply(const std::string& op, const std::string& body, bool device = true) {
        root.write((device ? std::string(kSerialText) + "/" : "") + ".reply." + op, body);
    }

    ScratchDir root;
    std::string firmware12345 = std::string("bird\x01\x01", 6) + std::string(1000, '\xA5');
};

} // namespace

TEST_F(ServerRequestTest, EveryRequestAgainstTheCatalogue) {
    LocalUpdateServer server(root.path());
    std::string url = server.url();
    EXPECT_TRUE(USR::ping(url));

    std::string build, fw;
    ASSERT_TRUE(USR::QueryBuild(kSerial, build, fw, url));
    EXPECT_EQ(build, "12345");
    EXPECT_EQ(fw, "vzfw-7");

    std::string text = "stale";
    ASSERT_TRUE(USR::GetBuild(kSerial, fw, build, text, url));
    size_t length = 0;
    std::unique_ptr<uint8_t[]> bytes(base64_decode(text.data(), text.size(), &length));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string((char*)bytes.get(), length), firmware12345);

    USR::BuildMap builds = {{"old", "x"}};
    ASSERT_TRUE(USR::GetBuildList(kSerial, builds, url));
    EXPECT_EQ(builds, (USR::BuildMap{{"100", "1.10.0"}, {"12345", "1.2.3"}}));

    uint32_t fingerprint[4] = {0xA, 0xB, 0xC, 0xD};
    uint32_t serial = 0, recoveryBuild = 0;
    ASSERT_TRUE(USR::GetRecoveryInfo(fingerprint, serial, recoveryBuild, url));
    EXPECT_EQ(serial, 0xCAFE0001u);
    EXPECT_EQ(recoveryBuild, 4711u);

    std::string token;
    ASSERT_TRUE(USR::GetDeviceJWT(kSerial, token, url));
    EXPECT_EQ(std::count(token.begin(), token.end(), '.'), 2);
}

TEST_F(ServerRequestTest, RequestsAreComposedAsTheServerExpects) {
    LocalUpdateServer server(root.path());
    LogCatcher log;
    std::string text;
    uint32_t fingerprint[4] = {0xA, 0xB, 0xC, 0xD};
    uint32_t s = 0, b = 0;
    std::string token;
    USR::GetBuild(kSerial, "vzfw-7", "100", text, server.url(), true);
    USR::GetBuild(kSerial, "a b&op=hi#x%41", "100", text, server.url(), false);
    USR::GetRecoveryInfo(fingerprint, s, b, server.url());
    USR::GetDeviceJWT(kSerial, token, server.url());
    std::string u = server.url();
    std::string out = log.text();
    for (std::string line :
         {"GET(" + u + "?bld=100&fw=vzfw-7&no_cal=true&op=bird&sn=40F5849A&)\n",
          "GET(" + u + "?bld=100&fw=a%20b%26op%3Dhi%23x%41&no_cal=false&op=bird&sn=40F5849A&)\n",
          "GET(" + u + "?brief=true&fp=0000000A%200000000B%200000000C%200000000D&op=fix&)\n",
          "GET(" + u + "?json=false&op=ent_jwt&sn=40F5849A&)\n",
          std::string("GetRecoveryInfo [ok][CAFE0001][4711]\n")})
        EXPECT_NE(out.find(line), std::string::npos) << line << "\nin\n" << out;
}

TEST_F(ServerRequestTest, FirstLineMustBeginWithLowerCaseOk) {
    struct Case {
        const char* body;
        bool ok;
    } cases[] = {
        {"ok\n", true}, {"okay then\n", true}, {"\n\n\nok", true}, {"OK\n", false},
        {"", false},    {"error ok\n", false}, {" ok\n", false},
    };
    for (const auto& c : cases) {
        reply("hi", c.body, false);
        LocalUpdateServer server(root.path(), {"--quiet"});
        EXPECT_EQ(USR::ping(server.url()), c.ok) << c.body;
    }
}

TEST_F(ServerRequestTest, FailedRequestsLogAndLeaveOutputs) {
    struct Case {
        const char* fault;
        const char* logLine; // %s stands for nothing here: checked as a prefix
    } cases[] = {
        {"404", "QueryBuild ==> [404] [not found\n]\n"},
        {"500", "QueryBuild ==> [500] [server error\n]\n"},
        {"no-ok", "ServerCommClass: QueryBuild failed ["},
    };
    for (const auto& c : cases) {
        LocalUpdateServer server(root.path(), {"--fault", c.fault});
        LogCatcher log;
        std::string build = "keep", fw = "keep";
        EXPECT_FALSE(USR::QueryBuild(kSerial, build, fw, server.url())) << c.fault;
        EXPECT_EQ(build, "keep");
        EXPECT_EQ(fw, "keep");
        USR::BuildMap builds = {{"1", "1.0.0"}};
        EXPECT_FALSE(USR::GetBuildList(kSerial, builds, server.url()));
        EXPECT_TRUE(builds.empty()) << "the list is emptied also on failure";
        std::string text = "keep";
        EXPECT_FALSE(USR::GetBuild(kSerial, "std", "100", text, server.url()));
        EXPECT_EQ(text, "keep");
        EXPECT_NE(log.text().find(c.logLine), std::string::npos) << log.text();
    }
    LogCatcher log;
    LocalUpdateServer server(root.path(), {"--fault", "500"});
    EXPECT_FALSE(USR::ping(server.url()));
    EXPECT_NE(log.text().find("PING ==> [500] [server error\n]\n"), std::string::npos);

    std::string url = "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/cgi/u";
    std::string token = "keep";
    EXPECT_FALSE(USR::GetDeviceJWT(kSerial, token, url));
    EXPECT_EQ(token, "keep");
    EXPECT_NE(log.text().find("GetDeviceJWT ==> [Couldn't connect to server]\n"),
              std::string::npos);
}

TEST_F(ServerRequestTest, OkWithoutFurtherLinesSucceedsWithOutputsUntouched) {
    LocalUpdateServer server(root.path(), {"--fault", "missing-lines"});
    std::string build = "keep", fw = "keep", text = "old";
    EXPECT_TRUE(USR::QueryBuild(kSerial, build, fw, server.url()));
    EXPECT_EQ(build, "keep");
    EXPECT_EQ(fw, "keep");
    EXPECT_TRUE(USR::GetBuild(kSerial, "std", "100", text, server.url()));
    EXPECT_EQ(text, "") << "emptied once the ok line was seen";
    uint32_t fp[4] = {1, 2, 3, 4}, serial = 9, b = 9;
    EXPECT_TRUE(USR::GetRecoveryInfo(fp, serial, b, server.url()));
    EXPECT_EQ(serial, 9u);
    EXPECT_EQ(b, 9u);
    std::string token = "keep";
    EXPECT_FALSE(USR::GetDeviceJWT(kSerial, token, server.url()));
    EXPECT_EQ(token, "keep");
}

TEST_F(ServerRequestTest, ReplyLinesAreParsedAsTheProtocolSays) {
    reply("qu", "ok\r\n\n777\r\nfw-id\r\nignored\n");
    reply("builds", "ok\n100;1.2.3\n100;1.2.4\n7\n\n200;2.0.0\r\n300\n;9.9.9\n400;4.0.0;x\n");
    reply("fix", "ok\n00abcdef\n010\n", false);
    reply("bird", "ok\r\nTWFu\r\n");
    LocalUpdateServer server(root.path(), {"--quiet"});

    std::string build, fw;
    ASSERT_TRUE(USR::QueryBuild(kSerial, build, fw, server.url()));
    EXPECT_EQ(build, "777");
    EXPECT_EQ(fw, "fw-id");

    USR::BuildMap builds;
    ASSERT_TRUE(USR::GetBuildList(kSerial, builds, server.url()));
    EXPECT_EQ(builds,
              (USR::BuildMap{{"100", "1.2.3"}, {"200", "2.0.0"}, {"300", ""}, {"400", "4.0.0"}}));

    uint32_t fp[4] = {1, 2, 3, 4}, serial = 0, b = 0;
    ASSERT_TRUE(USR::GetRecoveryInfo(fp, serial, b, server.url()));
    EXPECT_EQ(serial, 0x00ABCDEFu);
    EXPECT_EQ(b, 8u) << "010 is octal";

    std::string text;
    ASSERT_TRUE(USR::GetBuild(kSerial, "std", "1", text, server.url()));
    EXPECT_EQ(text, "TWFu") << "a line end's carriage return is not base64";
}

TEST_F(ServerRequestTest, TokenMustHaveThreeParts) {
    struct Case {
        const char* line;
        const char* token; // nullptr: refused
    } cases[] = {
        {"aa.bb.cc", "aa.bb.cc"}, {"eyJh.eyJz-_.c2ln\r", "eyJh.eyJz-_.c2ln"},
        {"aa.bb", nullptr},       {"aa.bb.c", nullptr},
        {"a.bb.cc", nullptr},     {"aa..cc", nullptr},
        {"aa.bb.cc.dd", nullptr}, {"aa.b\x1b[2J.cc", nullptr},
        {"ab", nullptr},
    };
    for (const auto& c : cases) {
        reply("ent_jwt", std::string("ok\n") + c.line + "\n");
        LocalUpdateServer server(root.path(), {"--quiet"});
        std::string token = "keep";
        EXPECT_EQ(USR::GetDeviceJWT(kSerial, token, server.url()), c.token != nullptr) << c.line;
        EXPECT_EQ(token, c.token ? c.token : "keep") << c.line;
    }
}

TEST(BuildOrder, SplitNeedsExactlyThreeParts) {
    using V = std::vector<std::string>;
    EXPECT_EQ(USR::SplitVuviridorVersion("1.2.3"), (V{"1", "2", "3"}));
    EXPECT_EQ(USR::SplitVuviridorVersion("1..3"), (V{"1", "", "3"}));
    EXPECT_EQ(USR::SplitVuviridorVersion("1.2"), V{});
    EXPECT_EQ(USR::SplitVuviridorVersion("1.2.3.4"), V{});
    EXPECT_EQ(USR::SplitVuviridorVersion(""), V{});
}

TEST(BuildOrder, NewerVersionComparesTrue) {
    struct Case {
        const char* a;
        const char* b;
        bool newer;
    } cases[] = {
        {"2.0.0", "1.10.0", true},   {"1.10.0", "1.9.9", true},   {"1.9.9", "1.10.0", false},
        {"1.2.3", "1.2.3", false},   {"1.2", "1.0.0", false},     {"1.0.0", "1.2", false},
        {"1.x.0", "1.0.0", false},   {"1.256.0", "1.1.0", false}, {"1.256.0", "1.0.0", false},
        {"1.0.0", "1.256.0", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(USR::_sortVersion({"b", c.a}, {"b", c.b}), c.newer) << c.a << " vs " << c.b;
}

TEST(BuildOrder, SortsNewestFirstAndMalformedLast) {
    LogCatcher log;
    USR::BuildMap builds = {{"1", "1.9.9"},  {"2", "1.2"},     {"3", "2.0.0"},
                            {"4", "1.10.0"}, {"5", "bad.0.0"}, {"6", "0.0.1"}};
    auto sorted = USR::SortBuildsByVersion(builds);
    std::vector<std::string> order;
    for (const auto& [build, version] : sorted)
        order.push_back(build);
    ASSERT_EQ(order.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(order.begin(), order.begin() + 4),
              (std::vector<std::string>{"3", "4", "1", "6"}));
    EXPECT_NE(log.text().find("_sortVersion: Exception converting version: stoi\n"),
              std::string::npos);
}

TEST(BuildOrder, ManyMalformedVersionsSortSafely) {
    // A comparator that is no strict weak ordering lets std::sort read out of bounds.
    USR::BuildMap builds;
    for (int i = 0; i < 400; i++)
        builds[std::to_string(1000 + i)] = i % 3 ? "1." + std::to_string(i % 7) + ".0" : "x";
    auto sorted = USR::SortBuildsByVersion(builds);
    ASSERT_EQ(sorted.size(), builds.size());
    for (size_t i = 1; i < sorted.size(); i++)
        EXPECT_FALSE(USR::_sortVersion(sorted[i], sorted[i - 1])) << i;
}
