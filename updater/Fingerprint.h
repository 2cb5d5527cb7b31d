// A chip's unique identifier as its boot ROM or recovery loader reports it.
#pragma once

#include <cstdint>

struct Fingerprint {
    uint32_t words[4] = {0, 0, 0, 0};
};
