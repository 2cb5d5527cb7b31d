// libFuzzer target: the BIRD loader and everything that walks its blocks.
// The first input byte picks the mode: even = the rest is a whole file as stored on disk;
// odd = the rest is a decompressed body, wrapped here so the scan gets the coverage.
#include <cstdio>
#include <cstdlib>
#include <vector>
#include <zlib.h>

#include "BirdFile.h"

namespace {
void sCheckBlocks(const BirdFile& file) {
    const uint8_t* begin = file.buffer.data();
    const uint8_t* end = begin + file.size;
    for (const BirdBlock& block : file.blocks) {
        if (block.data < begin || block.data > end || block.length > (size_t)(end - block.data))
            abort();
        if ((block.type == BirdFile::BLOCK_LOADER || block.type == BirdFile::BLOCK_FIRMWARE) &&
            block.length < 4)
            abort();
    }
    if (file.blockCount != file.blocks.size() || file.size != file.buffer.size()) abort();
}

std::vector<uint8_t> sWrap(const uint8_t* body, size_t length) {
    uLongf packed = compressBound(length);
    std::vector<uint8_t> file(6 + packed);
    const uint8_t header[6] = {'b', 'i', 'r', 'd', 1, 1};
    std::copy(header, header + 6, file.begin());
    // Stored blocks: never more than 8:1, so the body always reaches the scan.
    if (compress2(file.data() + 6, &packed, body, length, 0) != Z_OK) return {};
    file.resize(6 + packed);
    return file;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // DumpBlocks prints; keep the fuzzer's output readable.
    if (!freopen("/dev/null", "w", stdout)) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::vector<uint8_t> bytes =
        (data[0] & 1) ? sWrap(data + 1, size - 1) : std::vector<uint8_t>(data + 1, data + size);
    BirdFile file;
    file.path = "fuzz";
    if (!file.LoadData(bytes.data(), bytes.size())) {
        if (!file.blocks.empty() || file.size != 0) abort();
        return 0;
    }
    sCheckBlocks(file);
    file.GetBuild();
    file.GetSerialNumber();
    file.GetVersion();
    file.ValidateModel("Meter S");
    file.ValidateModel("");
    file.FindBlocks(BirdFile::BLOCK_LOADER_START);
    file.ReplaceSerialNumber(0x01234567);
    const uint32_t key[4] = {0xDEADBEEF, 0, 0x12345678, 0xFFFFFFFF};
    file.DecodeFirmwareBlocks(key);
    file.DumpBlocks(data[0] >> 3);
    BirdFile moved(std::move(file));
    sCheckBlocks(moved);
    return 0;
}
