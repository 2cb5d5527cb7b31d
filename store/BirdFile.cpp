#include "BirdFile.h"

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <zlib.h>

#include "BirdInflate.h"
#include "Log.h"
#include "aFile.h"

BirdFile::BirdFile(std::string filePath) : path(std::move(filePath)) {
    if (!Load()) throw std::runtime_error("Failed to load bird data");
}

BirdFile::BirdFile(BirdFile&& other) noexcept {
    *this = std::move(other);
}

BirdFile& BirdFile::operator=(BirdFile&& other) noexcept {
    if (this == &other) return *this;
    // The buffer moves with its heap storage, so the blocks' pointers stay valid.
    path = std::move(other.path);
    signature = other.signature;
    version = other.version;
    fileChecksum = other.fileChecksum;
    blockCount = other.blockCount;
    blocks = std::move(other.blocks);
    hasSerialBlock = other.hasSerialBlock;
    serialNumberOffset = other.serialNumberOffset;
    descriptorOffset = other.descriptorOffset;
    buffer = std::move(other.buffer);
    size = other.size;
    other.path.clear();
    other.Reset();
    return *this;
}

void BirdFile::Reset() {
    signature = version = fileChecksum = blockCount = 0;
    blocks.clear();
    hasSerialBlock = false;
    serialNumberOffset = descriptorOffset = 0;
    buffer.clear();
    size = 0;
}

bool BirdFile::Load() {
    Reset();
    Log::log(DEBUG_BirdFile, "BIRDFILE: Loading File [%s]\n", path.c_str());
    if (!aFile_Exists(path.c_str())) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: BIRD file not found [%s]\n", path.c_str());
        return false;
    }
    aFile* file = aFile_Open(path.c_str(), aFileModeReadOnly);
    if (!file) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - cannot open bird file: '%s'\n", path.c_str());
        return false;
    }
    size_t fileSize = 0;
    aErr err = aFile_GetSize(file, &fileSize);
    if (err != aErrNone) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) getting bird file size from %s\n", (int)err,
                 path.c_str());
        aFile_Close(&file);
        return false;
    }
    if (fileSize > MAX_FILE_SIZE) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - bird file too large: '%s' (%zu bytes)\n",
                 path.c_str(), fileSize);
        aFile_Close(&file);
        return false;
    }
    std::vector<uint8_t> raw(fileSize);
    size_t got = 0;
    bool loaded = false;
    err = aFile_Read(file, raw.data(), fileSize, &got);
    if (err != aErrNone) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) reading %s\n", (int)err, path.c_str());
    } else if (got != fileSize) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error reading %s read %zu bytes of %zu byte file\n",
                 path.c_str(), got, fileSize);
    } else {
        loaded = Parse(raw.data(), raw.size());
    }
    aFile_Close(&file);
    return loaded;
}

bool BirdFile::LoadData(const uint8_t* bytes, size_t length) {
    Reset();
    if (!bytes) length = 0;
    if (length > MAX_FILE_SIZE) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - bird file too large: '%s' (%zu bytes)\n",
                 path.c_str(), length);
        return false;
    }
    return Parse(bytes, length);
}

bool BirdFile::Parse(const uint8_t* bytes, size_t length) {
    size_t body = 0;
    if (length > HEADER_SIZE) {
        signature = GetInt(bytes);
        version = GetShort(bytes + 4);
        body = length - HEADER_SIZE;
    }
    // The 8x cap is the format's own limit; it also stops decompression bombs.
    int z = BirdInflate(body ? bytes + HEADER_SIZE : nullptr, body, body * INFLATE_FACTOR, buffer);
    if (z != Z_OK) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) decompressing bird file.\n", z);
        buffer.clear();
        size = 0;
        return false;
    }
    size = static_cast<uint32_t>(buffer.size());
    ScanBlocks();
    ReadSerialOffsets();
    for (const BirdBlock& block : blocks)
        if (block.type == BLOCK_SERIAL_OFFSETS) hasSerialBlock = true;
    return true;
}

bool BirdFile::ScanBlocks() {
    blockCount = 0;
    blocks.clear();
    uint8_t* data = buffer.data();
    size_t pos = size >= 4 ? 4 : size;
    uint32_t declared = size >= 4 ? GetInt(data) : 0;
    Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t File reports %d blocks\n", (int)declared);
    Log::log(DEBUG_BirdFile, "BIRDFILE: Bird file objects:\n");
    Log::log(DEBUG_BirdFile, "BIRDFILE: \t\tType Flags Length\n");

    // The last 4 bytes are the checksum; a block may not reach into them.
    size_t remaining = size - pos;
    while (remaining > 4 && blockCount < MAX_BLOCKS) {
        size_t room = remaining - 4;
        if (room < 5) break;
        uint8_t typeFlags = data[pos];
        uint32_t length = GetInt(data + pos + 1);
        if (length > room - 5) break;
        BirdBlock block;
        block.type = typeFlags & BIRD_FILE_TYPE_MASK;
        block.flags = (typeFlags & BIRD_FILE_FLAG_MASK) >> 5;
        block.length = length;
        block.data = data + pos + 5;
        if (block.type == BLOCK_LOADER || block.type == BLOCK_FIRMWARE) {
            // Without its address word the payload length would wrap below zero.
            if (length < 4) break;
            block.address = GetInt(block.data);
        }
        Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t %02X   %02X   %d\n", block.type, block.flags,
                 (int)block.length);
        if (block.type == BLOCK_INFO) {
            for (uint32_t offset = 0; offset < INFO_SIZE; offset += 16) {
                int shown = length > offset ? (int)std::min<uint32_t>(16, length - offset) : 0;
                Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t \t[%16.*s]\n", shown,
                         reinterpret_cast<const char*>(block.data + (shown ? offset : 0)));
            }
        }
        blocks.push_back(block);
        blockCount++;
        pos += 5 + (size_t)length;
        remaining -= 5 + (size_t)length;
    }

    bool ok = true;
    if (remaining >= 4) {
        fileChecksum = GetInt(data + pos);
        remaining -= 4;
        Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t File checksum %08X\n", fileChecksum);
    } else {
        ok = false;
    }
    if (remaining > 0 || !ok) {
        Log::log(DEBUG_BirdFile,
                 "BIRDFILE: Block parsing mismatch in data size. (%d bytes remaining)\n",
                 (int)remaining);
        ok = false;
    }
    if (blockCount != declared) {
        Log::log(DEBUG_BirdFile,
                 "BIRDFILE: Block parsing mismatch in number of blocks. (%d != %d)\n",
                 (int)blockCount, (int)declared);
        ok = false;
    }
    return ok;
}

void BirdFile::ReadSerialOffsets() {
    if (blockCount == 0) return;
    for (const BirdBlock& block : blocks) {
        if (block.type != BLOCK_SERIAL_OFFSETS) continue;
        // A short body gives 0 ("none") for the missing words.
        serialNumberOffset = block.length >= 4 ? GetInt(block.data) : 0;
        descriptorOffset = block.length >= 8 ? GetInt(block.data + 4) : 0;
        Log::log(DEBUG_BirdFile, "BIRDFILE: Offsets: Serial number: %d, Descriptor: %d\n",
                 (int)serialNumberOffset, (int)descriptorOffset);
        return;
    }
}

std::vector<BirdBlock> BirdFile::FindBlocks(uint8_t type) const {
    std::vector<BirdBlock> found;
    for (const BirdBlock& block : blocks)
        if (block.type == type) found.push_back(block);
    return found;
}

bool BirdFile::VerifyFile(const std::string& filePath) {
    if (!aFile_Exists(filePath.c_str())) return false;
    aFile* file = aFile_Open(filePath.c_str(), aFileModeReadOnly);
    if (!file) return false;
    uint8_t header[HEADER_SIZE] = {};
    size_t got = 0;
    aErr err = aFile_Read(file, header, sizeof(header), &got);
    aFile_Close(&file);
    return err == aErrNone && got == sizeof(header) && GetInt(header) == BIRD_FILE_SIGNATURE &&
           header[4] != 0 && header[5] != 0;
}
