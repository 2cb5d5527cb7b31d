// A BIRD firmware file: big-endian header, zlib body, typed blocks in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "BirdBlock.h"

class BirdFile {
  public:
    static constexpr uint32_t BIRD_FILE_SIGNATURE = 0x62697264; // "bird"
    static constexpr uint32_t BIRD_FILE_VERSION = 0x0101;
    static constexpr uint8_t BIRD_FILE_TYPE_MASK = 0x1F;
    static constexpr uint8_t BIRD_FILE_FLAG_MASK = 0xE0;
    static constexpr size_t HEADER_SIZE = 6;
    static constexpr uint32_t INFO_SIZE = 64;
    // A firmware release is a few hundred kB; these bound what a crafted file can make us hold.
    static constexpr size_t MAX_FILE_SIZE = 32u << 20;
    static constexpr size_t INFLATE_FACTOR = 8;
    static constexpr uint32_t MAX_BLOCKS = 1u << 16;

    enum BLOCK_TYPE : uint8_t {
        BLOCK_LOADER = 0,
        BLOCK_FIRMWARE = 1,
        BLOCK_SERIAL_OFFSETS = 2,
        BLOCK_INFO = 4,
        BLOCK_LOADER_START = 5,
    };

    BirdFile() = default;
    // Throws std::runtime_error("Failed to load bird data") when Load fails.
    explicit BirdFile(std::string path);
    BirdFile(const BirdFile&) = delete;
    BirdFile& operator=(const BirdFile&) = delete;
    BirdFile(BirdFile&& other) noexcept;
    BirdFile& operator=(BirdFile&& other) noexcept;

    // Reads path; true when the body was decompressed.
    bool Load();
    // Same as Load on a whole file image already in memory.
    bool LoadData(const uint8_t* bytes, size_t length);

    // Cheap header check: "bird" and two non-zero version bytes.
    static bool VerifyFile(const std::string& path);

    std::vector<BirdBlock> FindBlocks(uint8_t type) const;
    uint32_t GetSerialNumber() const;
    bool ValidateSerialNumber(uint32_t serial) const;
    uint32_t GetBuild() const;
    std::string GetVersion() const;
    bool ValidateModel(const std::string& model) const;

    bool ReplaceSerialNumber(uint32_t serial);
    // Unscrambles the firmware payloads in place with four key words.
    bool DecodeFirmwareBlocks(const uint32_t words[4]);
    bool DecodeFirmwareBlocks(uint32_t w0, uint32_t w1, uint32_t w2, uint32_t w3) {
        const uint32_t words[4] = {w0, w1, w2, w3};
        return DecodeFirmwareBlocks(words);
    }
    bool DumpBlocks(uint8_t type) const;

    static uint32_t GetInt(const uint8_t* p) {
        return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
    }
    static uint16_t GetShort(const uint8_t* p) { return (uint16_t)(p[0] << 8 | p[1]); }

    std::string path;
    uint32_t signature = 0;
    uint32_t version = 0;
    uint32_t fileChecksum = 0;
    uint32_t blockCount = 0;
    std::vector<BirdBlock> blocks;
    bool hasSerialBlock = false;
    uint32_t serialNumberOffset = 0;
    uint32_t descriptorOffset = 0;
    std::vector<uint8_t> buffer;
    uint32_t size = 0;

  private:
    void Reset();
    bool Parse(const uint8_t* bytes, size_t length);
    bool ScanBlocks();
    void ReadSerialOffsets();
    std::string InfoField(uint32_t offset, uint32_t width) const;
};
