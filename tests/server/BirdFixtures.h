// BIRD files for the download tests, made with the store's writer.
#pragma once

#include "BirdWriter.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

// Bytes that do not compress much, like real firmware.
inline std::vector<uint8_t> FirmwareImage(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> image(size);
    for (auto& b : image)
        b = (uint8_t)random();
    return image;
}

inline std::vector<uint8_t> MakeBird(uint32_t build, const std::string& version, uint32_t serial) {
    return BirdWriter()
        .Info(build, version, serial, BirdWriter::ModelNames().front())
        .Loader(0x1000, FirmwareImage(300, build))
        .Firmware(0x8000, FirmwareImage(4000, build + 1))
        .Build();
}

inline std::string AsText(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}
