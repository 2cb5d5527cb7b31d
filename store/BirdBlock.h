// One parsed block of a BIRD file.
#pragma once

#include <cstdint>

struct BirdBlock {
    uint8_t type = 0;
    uint8_t flags = 0;
    uint32_t length = 0;
    // Types 0 and 1 only: the big-endian word at the start of the body.
    uint32_t address = 0;
    // Points into the owning BirdFile's buffer; valid while that file lives.
    uint8_t* data = nullptr;
};
