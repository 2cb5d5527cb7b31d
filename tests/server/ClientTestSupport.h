// Shared bits of the client tests: a device tree for the local server and a log catcher.
#pragma once

#include "LocalUpdateServer.h"
#include "Log.h"

#include <cstdio>
#include <cstdlib>
#include <string>

constexpr uint32_t kSerial = 0x40F5849A;
constexpr const char* kSerialText = "40F5849A";

// Catches the diagnostic log of the server-communication package.
class LogCatcher {
  public:
    LogCatcher() {
        stream = open_memstream(&buffer, &size);
        Log::SetOutput(stream);
        Log::ActivatePackage(DEBUG_ServerComm);
    }
    ~LogCatcher() {
        Log::DeactivatePackage(DEBUG_ServerComm);
        Log::SetOutput(nullptr);
        fclose(stream);
        free(buffer);
    }
    std::string text() {
        fflush(stream);
        return std::string(buffer, size);
    }

  private:
    FILE* stream = nullptr;
    char* buffer = nullptr;
    size_t size = 0;
};
