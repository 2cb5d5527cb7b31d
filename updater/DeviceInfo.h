// One discovered module.
#pragma once

#include <cstdint>
#include <string>

#include "aError.h"

#if __has_include("aLink.h")
#include "aLink.h"
#else
// Stand-in until the link engine provides linkType and linkSpec; same layout.
typedef uint32_t linkType;

typedef struct linkSpec {
    uint32_t type;
    uint32_t serialNumber;
    uint32_t module;
    uint32_t router;
    uint32_t routerSerialNumber;
    uint32_t model;
    uint32_t ipAddress; // network byte order
    uint32_t ipPort;
    uint8_t rest[96];
} linkSpec;
static_assert(sizeof(linkSpec) == 128);
#endif

struct DeviceInfo {
    linkSpec spec{};
    uint16_t network_address = 0;
    uint32_t build_number = 0;
    uint8_t version_major = 0;
    uint8_t version_minor = 0;
    uint32_t version_patch = 0;
    std::string model_name;
    std::string device_name;
    aErr error = aErrNone;
};
