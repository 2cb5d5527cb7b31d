// The update server's query protocol, answered from a BuildCatalogue, with
// fault switches for tests.
#pragma once

#include "BuildCatalogue.h"

#include <map>
#include <string>

enum class Fault {
    None,
    Status404,    // answer 404 with a short body
    Status500,    // answer 500 with a short body
    NoOk,         // first line is not "ok"
    MissingLines, // only the "ok" line
    Slow,         // wait delay_ms before answering
    Stall,        // send half the body, pause delay_ms, send the rest
    Truncate,     // a build is sent as base64 of its first half
    BadBase64,    // a build's base64 text carries characters outside the alphabet
};

struct FaultSwitch {
    Fault fault = Fault::None;
    std::string op; // only requests with this "op" (all when empty)
    int delay_ms = 2000;
};

// Parses the names used on the command line ("404", "500", "no-ok", ...).
bool Fault_Parse(const std::string& name, Fault& fault);

struct ServiceReply {
    int status = 200;
    std::string body;
    int delay_ms = 0; // before the reply
    int stall_ms = 0; // between the two halves of the body
};

ServiceReply UpdateService_Handle(const BuildCatalogue& catalogue,
                                  const std::map<std::string, std::string>& query,
                                  const FaultSwitch& faults);
