// One discovered module.
#pragma once

#include <cstdint>
#include <string>

#include "aError.h"
#include "aLinkSpec.h"

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
