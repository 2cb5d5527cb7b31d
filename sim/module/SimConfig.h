// What vzsim runs: modules with their identities, front ends and faults, from
// command-line flags or a JSON file.
#pragma once

#include <string>
#include <vector>

#include "ModuleModel.h"
#include "UpgradeCommand.h"

namespace vzsim {

struct SimModuleConfig {
    ModuleIdentity identity;
    std::vector<ModuleIdentity> behind; // modules on its I2C network (router)
    int tcpPort = -1;                   // -1: no TCP front end; 0: any free port
    std::string bindAddress = "127.0.0.1";
    std::string ptyPath; // empty: no pty front end
    unsigned heartbeatMs = 0;
    Faults faults;
    UpgradeConfig upgrade; // every module (and member) takes firmware updates
};

// "1.2.3" (packed 8/8/8 form) or a number (decimal or 0x hex) as the raw word.
bool parseVersion(const std::string& text, uint32_t* word);
// Numbers: decimal, or hex with 0x. Serial numbers: always hexadecimal.
bool parseNumber(const std::string& text, uint32_t* value);
bool parseSerial(const std::string& text, uint32_t* value);

// A document {"modules": [ {...}, ... ]} or a single module object. Keys:
// serial, model, address, router, name, version, build, hardwareVersion,
// tcp, bind, pty, heartbeatMs, behind (array of modules), and faults:
// {"dropReplies": [n...], "delayMs": n, "closeAfterReplies": n, "answerSync": bool},
// and upgrade: {"firmware": "FILE.bird", "ueiData": bool, "chunkSize": n, "faults":
// {"wrongSumOnce", "wrongCountOnce", "wrongCountAlways", "refusePrepare", "zeroChunkSize",
// "neverReturn", "ignoreReboot": bool, "dropAfterChunks": n}}.
bool parseConfig(const std::string& json, std::vector<SimModuleConfig>* modules,
                 std::string* error);

// Checks what a module must be: an even, non-zero address; a non-zero serial.
bool validateConfig(const SimModuleConfig& module, std::string* error);

} // namespace vzsim
