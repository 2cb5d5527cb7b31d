// vzsim: simulated modules to try the tool without hardware. Each module is
// served on TCP and/or a pseudo-terminal until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "DiscoveryResponder.h"
#include "PtyFrontEnd.h"
#include "RouterModel.h"
#include "SimConfig.h"
#include "TcpFrontEnd.h"

using namespace vzsim;

namespace {

const char* sUsage =
    "usage: vzsim [options]\n"
    "Serves simulated modules over TCP (127.0.0.1) or a pseudo-terminal.\n"
    "  --config FILE       modules from a JSON file ({\"modules\": [...]})\n"
    "  --serial HEX        serial number (default 40F5849A)\n"
    "  --model N           model code (default 19)\n"
    "  --address N         module address, even and non-zero (default 2)\n"
    "  --name TEXT         module name\n"
    "  --version X.Y.Z     firmware version (or a packed word)\n"
    "  --build N           firmware build number\n"
    "  --tcp PORT          serve on this TCP port (0: any free port)\n"
    "  --bind ADDR         TCP address to listen on (default 127.0.0.1)\n"
    "  --pty PATH          serve on a pseudo-terminal reached through the symlink PATH\n"
    "  --heartbeat MS      send a heartbeat every MS milliseconds\n"
    "  --drop-reply N      do not send the Nth reply (repeatable)\n"
    "  --delay MS          send every reply MS milliseconds late\n"
    "  --close-after N     drop the link after the Nth reply\n"
    "  --no-sync           leave sync packets unanswered\n"
    "  --firmware FILE     the BIRD file an update must bring; after the reboot the\n"
    "                      module runs its build and version\n"
    "  --chunk-size N      bytes per firmware chunk the loader asks for (default 2048)\n"
    "  --no-uei-data       refuse whole chunks as UEI byte strings (option 10)\n"
    "  --fault FAULT       upgrade fault, repeatable: wrong-sum-once, wrong-count-once,\n"
    "                      wrong-count-always, refuse-prepare, zero-chunk-size,\n"
    "                      never-return, ignore-reboot, drop-after=N (the link drops\n"
    "                      after N chunks), away-after=N (it drops and the module\n"
    "                      refuses connections for a while)\n"
    "  --discovery ADDR    answer TCP/IP discovery for every TCP module, joining the\n"
    "                      discovery group on the interface with address ADDR\n"
    "  --ready-file FILE   write the served addresses to FILE once listening\n"
    "  --run-for SECONDS   stop after this long\n"
    "  --help              this text\n";

int usageError(const std::string& message) {
    fprintf(stderr, "vzsim: %s\n%s", message.c_str(), sUsage);
    return 2;
}

struct Running {
    std::unique_ptr<ModuleModel> model;
    std::unique_ptr<TcpFrontEnd> tcp;
    std::unique_ptr<PtyFrontEnd> pty;
    std::unique_ptr<DiscoveryResponder> discovery;
};

// Replies come from the address the packet service listens on, so the tool
// connects where the module is.
std::unique_ptr<DiscoveryResponder> startDiscovery(const SimModuleConfig& m, uint16_t port,
                                                   const std::string& join, std::string* error) {
    DiscoveryIdentity id;
    id.serial = m.identity.serial;
    id.model = m.identity.model;
    id.module = m.identity.address;
    id.tcpPort = port;
    std::string source = m.bindAddress == "0.0.0.0" ? join : m.bindAddress;
    auto responder = std::make_unique<DiscoveryResponder>(id, join, source);
    if (!responder->start(error)) return nullptr;
    return responder;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<SimModuleConfig> modules;
    SimModuleConfig flags;
    bool haveFlags = false;
    std::string readyFile;
    std::string discoveryAddress;
    unsigned runFor = 0;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto next = [&](std::string* out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        std::string v;
        uint32_t n = 0;
        if (a == "--help") {
            fputs(sUsage, stdout);
            return 0;
        } else if (a == "--no-sync") {
            flags.faults.answerSync = false;
            haveFlags = true;
        } else if (a == "--no-uei-data") {
            flags.upgrade.ueiData = false;
            haveFlags = true;
        } else if (!next(&v)) {
            return usageError(a.rfind("--", 0) == 0 ? "missing value for " + a
                                                    : "unknown argument " + a);
        } else if (a == "--config") {
            std::ifstream in(v);
            if (!in) return usageError("cannot read " + v);
            std::stringstream text;
            text << in.rdbuf();
            std::string error;
            if (!parseConfig(text.str(), &modules, &error)) return usageError(v + ": " + error);
        } else if (a == "--serial") {
            if (!parseSerial(v, &flags.identity.serial))
                return usageError("bad serial number " + v);
            haveFlags = true;
        } else if (a == "--version") {
            if (!parseVersion(v, &flags.identity.version)) return usageError("bad version " + v);
            haveFlags = true;
        } else if (a == "--name") {
            flags.identity.name = v;
            haveFlags = true;
        } else if (a == "--pty") {
            flags.ptyPath = v;
            haveFlags = true;
        } else if (a == "--bind") {
            flags.bindAddress = v;
            haveFlags = true;
        } else if (a == "--firmware") {
            flags.upgrade.expectedBird = v;
            haveFlags = true;
        } else if (a == "--fault") {
            if (!parseUpgradeFault(v, &flags.upgrade.faults)) return usageError("bad fault " + v);
            haveFlags = true;
        } else if (a == "--ready-file") {
            readyFile = v;
        } else if (a == "--discovery") {
            discoveryAddress = v;
        } else if (!parseNumber(v, &n)) {
            return usageError("bad number for " + a + ": " + v);
        } else if (a == "--model" || a == "--address") {
            if (n > 255) return usageError(a + " takes a byte value");
            (a == "--model" ? flags.identity.model : flags.identity.address) = uint8_t(n);
            haveFlags = true;
        } else if (a == "--build") {
            flags.identity.build = n;
            haveFlags = true;
        } else if (a == "--tcp") {
            if (n > 65535) return usageError("bad port " + v);
            flags.tcpPort = int(n);
            haveFlags = true;
        } else if (a == "--chunk-size") {
            if (n > 65535) return usageError("bad chunk size " + v);
            flags.upgrade.chunkSize = uint16_t(n);
            haveFlags = true;
        } else if (a == "--heartbeat") {
            flags.heartbeatMs = n;
            haveFlags = true;
        } else if (a == "--drop-reply") {
            flags.faults.dropReplies.insert(n);
            haveFlags = true;
        } else if (a == "--delay") {
            flags.faults.delayMs = n;
            haveFlags = true;
        } else if (a == "--close-after") {
            flags.faults.closeAfterReplies = n;
            haveFlags = true;
        } else if (a == "--run-for") {
            runFor = n;
        } else {
            return usageError("unknown option " + a);
        }
    }
    if (haveFlags || modules.empty()) {
        std::string error;
        if (!validateConfig(flags, &error)) return usageError(error);
        modules.push_back(flags);
    }
    for (const SimModuleConfig& m : modules)
        if (m.tcpPort < 0 && m.ptyPath.empty())
            return usageError("nothing to serve: give each module --tcp or --pty");

    // Wait for the stop signals synchronously; front-end threads never see them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::vector<Running> running;
    std::string ready;
    for (const SimModuleConfig& m : modules) {
        Running r;
        r.model = std::make_unique<ModuleModel>(m.identity);
        if (!m.behind.empty()) makeRouter(*r.model);
        for (const ModuleIdentity& id : m.behind)
            addRouterMember(*r.model, id);
        r.model->locked([&](ModuleModel& model) {
            for (uint8_t address = 2; address != 0; address += 2)
                if (ModuleDevice* d = model.device(address)) {
                    UpgradeConfig upgrade = m.upgrade;
                    upgrade.report = true;
                    installUpgrade(*d, upgrade);
                }
            return 0;
        });
        r.model->setFaults(m.faults);
        r.model->setHeartbeatInterval(m.heartbeatMs);
        char serial[16];
        snprintf(serial, sizeof(serial), "%08X", m.identity.serial);
        std::string error;
        if (m.tcpPort >= 0) {
            r.tcp = std::make_unique<TcpFrontEnd>(*r.model);
            if (!r.tcp->start(m.bindAddress, uint16_t(m.tcpPort), &error)) {
                fprintf(stderr, "vzsim: %s tcp %s:%d: %s\n", serial, m.bindAddress.c_str(),
                        m.tcpPort, error.c_str());
                return 1;
            }
            ready += "tcp " + std::string(serial) + " " + m.bindAddress + " " +
                     std::to_string(r.tcp->port()) + "\n";
            if (!discoveryAddress.empty()) {
                r.discovery = startDiscovery(m, r.tcp->port(), discoveryAddress, &error);
                if (!r.discovery) {
                    fprintf(stderr, "vzsim: %s discovery on %s: %s\n", serial,
                            discoveryAddress.c_str(), error.c_str());
                    return 1;
                }
                ready += "discovery " + std::string(serial) + " " + discoveryAddress + "\n";
            }
        }
        if (!m.ptyPath.empty()) {
            r.pty = std::make_unique<PtyFrontEnd>(*r.model);
            if (!r.pty->start(m.ptyPath, &error)) {
                fprintf(stderr, "vzsim: %s pty: %s\n", serial, error.c_str());
                return 1;
            }
            ready += "pty " + std::string(serial) + " " + r.pty->path() + "\n";
        }
        running.push_back(std::move(r));
    }
    fputs(ready.c_str(), stdout);
    fflush(stdout);
    if (!readyFile.empty()) {
        // Appears complete or not at all.
        std::string tmp = readyFile + ".tmp";
        FILE* f = fopen(tmp.c_str(), "w");
        if (!f || fputs(ready.c_str(), f) < 0 || fclose(f) != 0 ||
            rename(tmp.c_str(), readyFile.c_str()) != 0) {
            fprintf(stderr, "vzsim: cannot write %s\n", readyFile.c_str());
            return 1;
        }
    }
    if (runFor) {
        timespec limit{(time_t)runFor, 0};
        sigtimedwait(&stop, nullptr, &limit);
    } else {
        int sig;
        sigwait(&stop, &sig);
    }
    running.clear();
    if (!readyFile.empty()) unlink(readyFile.c_str());
    return 0;
}
