// Builds BIRD firmware files: for test fixtures, simulators and the birdtool command.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class BirdWriter {
  public:
    enum : uint8_t {
        TYPE_LOADER = 0,
        TYPE_FIRMWARE = 1,
        TYPE_SERIAL_OFFSETS = 2,
        TYPE_INFO = 4,
        TYPE_LOADER_START = 5,
    };

    // Body blocks in the order they are added.
    BirdWriter& Loader(uint32_t address, const std::vector<uint8_t>& image, uint8_t flags = 0);
    BirdWriter& Firmware(uint32_t address, const std::vector<uint8_t>& image, uint8_t flags = 0);
    // build, version (15 characters), serial number (8 hex digits), model name (16 characters).
    BirdWriter& Info(uint32_t build, const std::string& version, uint32_t serial,
                     const std::string& model);
    // Info block with the four 16-character fields given as raw text (padded with spaces).
    BirdWriter& InfoText(const std::string& build, const std::string& version,
                         const std::string& serial, const std::string& model);
    BirdWriter& SerialOffsets(uint32_t serialAddress, uint32_t descriptorAddress);
    BirdWriter& LoaderStart(uint32_t address);
    // Any block: type (low 5 bits), flags (0..7), body as is.
    BirdWriter& Raw(uint8_t type, const std::vector<uint8_t>& body, uint8_t flags = 0);

    // Appends the other writer's blocks and takes its scramble key, if it has one.
    BirdWriter& Append(const BirdWriter& other);

    // Stores the firmware payloads scrambled so that decoding with these words restores them.
    BirdWriter& Scramble(const std::array<uint32_t, 4>& words);

    // Deliberate faults for tests.
    BirdWriter& DeclaredCount(uint32_t count);
    BirdWriter& Checksum(uint32_t value);
    BirdWriter& Version(uint16_t version);
    BirdWriter& Signature(const std::string& fourBytes);
    BirdWriter& Trailing(const std::vector<uint8_t>& bytes); // after the checksum

    // The decompressed body: count, blocks, checksum (and any trailing bytes).
    std::vector<uint8_t> Body() const;
    // Header and zlib-compressed body: the file as written to disk.
    std::vector<uint8_t> Build() const;
    bool WriteTo(const std::string& path) const;

    // CRC-32 of the body from the count up to the checksum field.
    static uint32_t BodyChecksum(const uint8_t* data, size_t length);
    // The inverse of BirdFile::DecodeFirmwareBlocks for one payload.
    static std::vector<uint8_t> ScramblePayload(const std::vector<uint8_t>& plain,
                                                const std::array<uint32_t, 4>& words);
    static std::vector<uint8_t> Compress(const std::vector<uint8_t>& body);
    // A header (signature, version) followed by the given compressed bytes.
    static std::vector<uint8_t> WithHeader(const std::vector<uint8_t>& compressed,
                                           uint16_t version = 0x0101,
                                           const std::string& signature = "bird");

    // Model names a file may carry (the device model table).
    static std::vector<std::string> ModelNames();
    static bool IsModelName(const std::string& name);

  private:
    struct Block {
        uint8_t type;
        uint8_t flags;
        std::vector<uint8_t> body;
    };
    std::vector<Block> blocks;
    std::optional<std::array<uint32_t, 4>> scramble;
    std::optional<uint32_t> declaredCount;
    std::optional<uint32_t> checksum;
    uint16_t version = 0x0101;
    std::string signature = "bird";
    std::vector<uint8_t> trailing;
};
