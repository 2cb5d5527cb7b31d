// vzsim's configuration and the program itself, run as users run it.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "SimConfig.h"
#include "SimHost.h"
#include "aTime.h"

using namespace vzsim;

extern char** environ;

TEST(SimConfig, ReadsModulesFromJson) {
    const char* doc = R"({"modules": [
        {"serial": "1234ABCD", "model": 25, "address": 6, "name": "router \"A\"",
         "version": "2.3.4", "build": 77, "tcp": 0, "heartbeatMs": 500,
         "faults": {"dropReplies": [2, 5], "delayMs": 10, "closeAfterReplies": 9, "answerSync": false},
         "behind": [{"serial": "0000BEEF", "address": 8}]},
        {"serial": 305419896, "pty": "/tmp/x", "version": "0x00100005"}
    ]})";
    std::vector<SimModuleConfig> modules;
    std::string error;
    ASSERT_TRUE(parseConfig(doc, &modules, &error)) << error;
    ASSERT_EQ(modules.size(), 2u);
    const SimModuleConfig& a = modules[0];
    EXPECT_EQ(a.identity.serial, 0x1234ABCDu);
    EXPECT_EQ(a.identity.model, 25);
    EXPECT_EQ(a.identity.address, 6);
    EXPECT_EQ(a.identity.name, "router \"A\"");
    EXPECT_EQ(a.identity.version, 0x2F020304u);
    EXPECT_EQ(a.identity.build, 77u);
    EXPECT_EQ(a.tcpPort, 0);
    EXPECT_EQ(a.heartbeatMs, 500u);
    EXPECT_EQ(a.faults.dropReplies, (std::set<unsigned>{2, 5}));
    EXPECT_EQ(a.faults.closeAfterReplies, 9u);
    EXPECT_FALSE(a.faults.answerSync);
    ASSERT_EQ(a.behind.size(), 1u);
    EXPECT_EQ(a.behind[0].serial, 0xBEEFu);
    EXPECT_EQ(a.behind[0].router, 6);
    EXPECT_EQ(modules[1].identity.serial, 305419896u);
    EXPECT_EQ(modules[1].identity.version, 0x00100005u);
    EXPECT_EQ(modules[1].tcpPort, -1);
    EXPECT_EQ(modules[1].ptyPath, "/tmp/x");
}

TEST(SimConfig, RefusesWhatNoModuleCouldBe) {
    for (const char* doc : {
             R"({"serial": "1234", "address": 3})",     // odd address
             R"({"serial": "1234", "address": 0})",     // no address
             R"({"serial": "0"})",                      // serial 0
             R"({"serial": "123456789"})",              // nine digits
             R"({"serial": "12G4"})",                   // not hexadecimal
             R"({"serial": "1234", "model": 300})",     // model above a byte
             R"({"serial": "1234", "version": "1.2"})", // half a version
             R"({"modules": [{"serial": "1234",}]})",   // trailing comma
             R"({"serial": "1234")",                    // unterminated
         }) {
        std::vector<SimModuleConfig> modules;
        std::string error;
        EXPECT_FALSE(parseConfig(doc, &modules, &error)) << doc;
        EXPECT_FALSE(error.empty()) << doc;
    }
}

namespace {

struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/vzsim_tests.XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
};

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(Vzsim, ServesTheConfiguredModulesAndStopsOnSigterm) {
    TempDir dir;
    std::string config = dir.path + "/modules.json", ready = dir.path + "/ready";
    std::ofstream(config) << R"({"modules": [
        {"serial": "1234ABCD", "address": 6, "tcp": 0},
        {"serial": "0BADF00D", "address": 2, "tcp": 0, "pty": ")"
                          << dir.path << R"(/tty0"}]})";
    std::string program = VZSIM_PATH;
    std::vector<std::string> args{program, "--config",  config, "--ready-file",
                                  ready,   "--run-for", "30"};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    uint64_t end = aTime_GetMSTicks() + 5000;
    while (access(ready.c_str(), F_OK) != 0 && aTime_GetMSTicks() < end)
        aTime_MSSleep(10);
    std::string lines = readFile(ready);

    std::istringstream in(lines);
    std::string kind, serial, where;
    int served = 0;
    while (in >> kind >> serial) {
        if (kind == "tcp") {
            unsigned port;
            in >> where >> port;
            EXPECT_EQ(where, "127.0.0.1");
            Host host{uint16_t(port)};
            ASSERT_TRUE(host.connected());
            uint8_t address = serial == "1234ABCD" ? 6 : 2;
            Bytes reply = host.ask(address, {3, 0x49, 0x20});
            char text[16];
            ASSERT_EQ(reply.size(), 7u);
            snprintf(text, sizeof(text), "%02X%02X%02X%02X", reply[3], reply[4], reply[5],
                     reply[6]);
            EXPECT_EQ(text, serial);
        } else {
            in >> where;
            EXPECT_EQ(where, dir.path + "/tty0");
            EXPECT_EQ(access(where.c_str(), R_OK | W_OK), 0);
        }
        served++;
    }
    EXPECT_EQ(served, 3) << lines;

    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(access(ready.c_str(), F_OK), 0); // gone with the simulator
    EXPECT_NE(access((dir.path + "/tty0").c_str(), F_OK), 0);
}
