#include "BirdWriter.h"

#include <cstdio>
#include <cstring>
#include <zlib.h>

#include "aDefs.h"

namespace {
void sPutInt(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back((uint8_t)(value >> shift));
}

std::vector<uint8_t> sAddressed(uint32_t address, const std::vector<uint8_t>& image) {
    std::vector<uint8_t> body;
    sPutInt(body, address);
    body.insert(body.end(), image.begin(), image.end());
    return body;
}

void sField(std::vector<uint8_t>& out, const std::string& text) {
    for (size_t i = 0; i < 16; i++)
        out.push_back(i < text.size() ? (uint8_t)text[i] : ' ');
}
} // namespace

BirdWriter& BirdWriter::Raw(uint8_t type, const std::vector<uint8_t>& body, uint8_t flags) {
    blocks.push_back(Block{(uint8_t)(type & 0x1F), (uint8_t)(flags & 0x07), body});
    return *this;
}

BirdWriter& BirdWriter::Loader(uint32_t address, const std::vector<uint8_t>& image, uint8_t flags) {
    return Raw(TYPE_LOADER, sAddressed(address, image), flags);
}

BirdWriter& BirdWriter::Firmware(uint32_t address, const std::vector<uint8_t>& image,
                                 uint8_t flags) {
    return Raw(TYPE_FIRMWARE, sAddressed(address, image), flags);
}

BirdWriter& BirdWriter::InfoText(const std::string& build, const std::string& version,
                                 const std::string& serial, const std::string& model) {
    std::vector<uint8_t> body;
    sField(body, build);
    sField(body, version);
    sField(body, serial);
    sField(body, model);
    return Raw(TYPE_INFO, body);
}

BirdWriter& BirdWriter::Info(uint32_t build, const std::string& version, uint32_t serial,
                             const std::string& model) {
    char serialText[16];
    snprintf(serialText, sizeof(serialText), "%08X", serial);
    return InfoText(std::to_string(build), version.substr(0, 15), serialText, model);
}

BirdWriter& BirdWriter::SerialOffsets(uint32_t serialAddress, uint32_t descriptorAddress) {
    std::vector<uint8_t> body;
    sPutInt(body, serialAddress);
    sPutInt(body, descriptorAddress);
    return Raw(TYPE_SERIAL_OFFSETS, body);
}

BirdWriter& BirdWriter::LoaderStart(uint32_t address) {
    std::vector<uint8_t> body;
    sPutInt(body, address);
    return Raw(TYPE_LOADER_START, body);
}

BirdWriter& BirdWriter::Append(const BirdWriter& other) {
    blocks.insert(blocks.end(), other.blocks.begin(), other.blocks.end());
    if (other.scramble) scramble = other.scramble;
    return *this;
}

BirdWriter& BirdWriter::Scramble(const std::array<uint32_t, 4>& words) {
    scramble = words;
    return *this;
}

BirdWriter& BirdWriter::DeclaredCount(uint32_t count) {
    declaredCount = count;
    return *this;
}

BirdWriter& BirdWriter::Checksum(uint32_t value) {
    checksum = value;
    return *this;
}

BirdWriter& BirdWriter::Version(uint16_t value) {
    version = value;
    return *this;
}

BirdWriter& BirdWriter::Signature(const std::string& fourBytes) {
    signature = fourBytes;
    return *this;
}

BirdWriter& BirdWriter::Trailing(const std::vector<uint8_t>& bytes) {
    trailing = bytes;
    return *this;
}

uint32_t BirdWriter::BodyChecksum(const uint8_t* data, size_t length) {
    uLong crc = crc32(0L, Z_NULL, 0);
    while (length > 0) {
        uInt step = length > 0x40000000 ? 0x40000000 : (uInt)length;
        crc = crc32(crc, data, step);
        data += step;
        length -= step;
    }
    return (uint32_t)crc;
}

std::vector<uint8_t> BirdWriter::ScramblePayload(const std::vector<uint8_t>& plain,
                                                 const std::array<uint32_t, 4>& words) {
    uint8_t key[16];
    for (int w = 0; w < 4; w++)
        for (int b = 0; b < 4; b++)
            key[4 * w + b] = (uint8_t)(words[w] >> (24 - 8 * b));
    std::vector<uint8_t> stored(plain.size());
    uint8_t previous = 0;
    for (size_t i = 0; i < plain.size(); i++) {
        stored[i] = plain[i] ^ key[i % 16] ^ previous;
        previous = plain[i];
    }
    return stored;
}

std::vector<uint8_t> BirdWriter::Body() const {
    std::vector<uint8_t> body;
    sPutInt(body, declaredCount ? *declaredCount : (uint32_t)blocks.size());
    for (const Block& block : blocks) {
        body.push_back((uint8_t)(block.flags << 5 | block.type));
        sPutInt(body, (uint32_t)block.body.size());
        if (scramble && block.type == TYPE_FIRMWARE && block.body.size() >= 4) {
            body.insert(body.end(), block.body.begin(), block.body.begin() + 4);
            std::vector<uint8_t> plain(block.body.begin() + 4, block.body.end());
            std::vector<uint8_t> stored = ScramblePayload(plain, *scramble);
            body.insert(body.end(), stored.begin(), stored.end());
        } else {
            body.insert(body.end(), block.body.begin(), block.body.end());
        }
    }
    sPutInt(body, checksum ? *checksum : BodyChecksum(body.data(), body.size()));
    body.insert(body.end(), trailing.begin(), trailing.end());
    return body;
}

std::vector<uint8_t> BirdWriter::Compress(const std::vector<uint8_t>& body) {
    uLongf length = compressBound(body.size());
    std::vector<uint8_t> out(length);
    if (compress2(out.data(), &length, body.data(), body.size(), Z_BEST_COMPRESSION) != Z_OK)
        return {};
    out.resize(length);
    return out;
}

std::vector<uint8_t> BirdWriter::WithHeader(const std::vector<uint8_t>& compressed,
                                            uint16_t fileVersion, const std::string& sig) {
    std::vector<uint8_t> file;
    for (size_t i = 0; i < 4; i++)
        file.push_back(i < sig.size() ? (uint8_t)sig[i] : 0);
    file.push_back((uint8_t)(fileVersion >> 8));
    file.push_back((uint8_t)fileVersion);
    file.insert(file.end(), compressed.begin(), compressed.end());
    return file;
}

std::vector<uint8_t> BirdWriter::Build() const {
    return WithHeader(Compress(Body()), version, signature);
}

bool BirdWriter::WriteTo(const std::string& path) const {
    std::vector<uint8_t> file = Build();
    FILE* out = fopen(path.c_str(), "wb");
    if (!out) return false;
    bool ok = fwrite(file.data(), 1, file.size(), out) == file.size();
    return fclose(out) == 0 && ok;
}

std::vector<std::string> BirdWriter::ModelNames() {
    std::vector<std::string> names;
    for (uint32_t code = 0; code < 256; code++) {
        const char* name = aDefs_GetModelName(code);
        if (strcmp(name, "Unknown") != 0) names.push_back(name);
    }
    return names;
}

bool BirdWriter::IsModelName(const std::string& name) {
    for (const std::string& known : ModelNames())
        if (known == name) return true;
    return false;
}
