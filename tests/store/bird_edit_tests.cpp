// In-memory edits of a loaded BIRD file: serial-number patching, unscrambling, block dump.
#include <gtest/gtest.h>

#include "BirdFile.h"
#include "StoreTestSupport.h"

namespace {
BirdFile sLoad(const BirdWriter& writer) {
    std::vector<uint8_t> bytes = writer.Build();
    BirdFile file;
    file.path = "memory";
    EXPECT_TRUE(file.LoadData(bytes.data(), bytes.size()));
    return file;
}

std::vector<uint8_t> sPayload(const BirdBlock& block) {
    return std::vector<uint8_t>(block.data + 4, block.data + block.length);
}

uint32_t sLittle(const uint8_t* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
} // namespace

TEST(BirdReplaceSerial, PatchesOnlyTheBlockThatHoldsTheAddress) {
    BirdFile file = sLoad(BirdWriter()
                              .Firmware(0x1000, Pattern(64, 1))
                              .Firmware(0x2000, Pattern(64, 2))
                              .SerialOffsets(0x2010, 0));
    LogCapture log;
    ASSERT_TRUE(file.ReplaceSerialNumber(0xCAFEBABE));
    std::vector<BirdBlock> fw = file.FindBlocks(BirdFile::BLOCK_FIRMWARE);
    EXPECT_EQ(sPayload(fw[0]), Pattern(64, 1));
    std::vector<uint8_t> second = sPayload(fw[1]);
    EXPECT_EQ(sLittle(second.data() + 0x10), 0xCAFEBABEu);
    std::vector<uint8_t> expected = Pattern(64, 2);
    uint32_t old = sLittle(expected.data() + 0x10);
    for (int i = 0; i < 4; i++)
        expected[0x10 + i] = (uint8_t)(0xCAFEBABE >> (8 * i));
    EXPECT_EQ(second, expected);
    char line[128];
    snprintf(line, sizeof(line), "BIRDFILE: updating serial number from %08X ==> CAFEBABE\n", old);
    EXPECT_TRUE(log.Has(line));
}

TEST(BirdReplaceSerial, ResultAndBoundsTable) {
    struct Case {
        const char* name;
        uint32_t serialAt, descriptorAt;
        bool result;
        int serialIndex;     // payload index patched, or -1
        int descriptorIndex; // payload index of the first digit, or -1
    } cases[] = {
        {"both offsets zero", 0, 0, false, -1, -1},
        {"serial at payload start", 0x4000, 0, true, 0, -1},
        {"serial in the last 4 bytes", 0x4000 + 60, 0, true, 60, -1},
        {"serial straddles the end", 0x4000 + 61, 0, true, -1, -1},
        {"serial before the block", 0x3FFE, 0, true, -1, -1},
        {"serial far outside", 0x90000000, 0, true, -1, -1},
        {"descriptor inside", 0, 0x4000 + 8, true, -1, 8},
        {"descriptor in the last 16 bytes", 0, 0x4000 + 48, true, -1, 48},
        {"descriptor straddles the end", 0, 0x4000 + 49, false, -1, -1},
        {"both inside", 0x4000 + 4, 0x4000 + 20, true, 4, 20},
    };
    for (const Case& c : cases) {
        BirdFile file = sLoad(BirdWriter()
                                  .Firmware(0x4000, Pattern(64, 5))
                                  .SerialOffsets(c.serialAt, c.descriptorAt));
        EXPECT_TRUE(file.hasSerialBlock) << c.name;
        EXPECT_EQ(file.ReplaceSerialNumber(0x0123ABCD), c.result) << c.name;
        std::vector<uint8_t> expected = Pattern(64, 5);
        if (c.serialIndex >= 0)
            for (int i = 0; i < 4; i++)
                expected[c.serialIndex + i] = (uint8_t)(0x0123ABCD >> (8 * i));
        if (c.descriptorIndex >= 0)
            for (int i = 0; i < 8; i++)
                expected[c.descriptorIndex + 2 * i] = "0123ABCD"[i];
        EXPECT_EQ(sPayload(file.blocks[0]), expected) << c.name;
    }
}

TEST(BirdReplaceSerial, AddressesNearTheTopDoNotWrap) {
    // Payload covers 0xFFFFFFF0..0xFFFFFFFF+0x20; an offset of 4 must not alias into it.
    BirdFile file = sLoad(BirdWriter().Firmware(0xFFFFFFF0, Pattern(48, 9)).SerialOffsets(4, 8));
    EXPECT_TRUE(file.ReplaceSerialNumber(0x11223344));
    EXPECT_EQ(sPayload(file.blocks[0]), Pattern(48, 9));

    BirdFile top =
        sLoad(BirdWriter().Firmware(0xFFFFFFF0, Pattern(16, 9)).SerialOffsets(0xFFFFFFFC, 0));
    EXPECT_TRUE(top.ReplaceSerialNumber(0x11223344));
    EXPECT_EQ(sLittle(top.blocks[0].data + 4 + 12), 0x11223344u);
}

TEST(BirdReplaceSerial, NeedsAFirmwareBlock) {
    BirdFile file = sLoad(BirdWriter().Loader(0x4000, Pattern(64)).SerialOffsets(0x4000, 0));
    EXPECT_FALSE(file.ReplaceSerialNumber(1));
    EXPECT_EQ(sPayload(file.blocks[0]), Pattern(64));
}

TEST(BirdReplaceSerial, ShortOffsetsBlockReadsAsNone) {
    BirdFile file = sLoad(BirdWriter().Firmware(0, Pattern(32)).Raw(2, {0, 0, 0, 8, 0}));
    EXPECT_TRUE(file.hasSerialBlock);
    EXPECT_EQ(file.serialNumberOffset, 8u);
    EXPECT_EQ(file.descriptorOffset, 0u);
}

TEST(BirdDecode, ZeroKeyGivesTheRunningXor) {
    std::vector<uint8_t> stored = {0x01, 0x02, 0x04, 0x08, 0xFF};
    BirdFile file = sLoad(BirdWriter().Firmware(0x100, stored));
    const uint32_t zero[4] = {0, 0, 0, 0};
    EXPECT_TRUE(file.DecodeFirmwareBlocks(zero));
    EXPECT_EQ(sPayload(file.blocks[0]), (std::vector<uint8_t>{0x01, 0x03, 0x07, 0x0F, 0xF0}));
    EXPECT_EQ(file.blocks[0].address, 0x100u);
    EXPECT_EQ(BirdFile::GetInt(file.blocks[0].data), 0x100u);
}

TEST(BirdDecode, UndoesTheWritersScrambleBlockByBlock) {
    const std::array<uint32_t, 4> key = {0x01234567, 0x89ABCDEF, 0xDEADBEEF, 0x00C0FFEE};
    BirdWriter writer;
    writer.Loader(0x10, Pattern(40, 1))
        .Firmware(0x1000, Pattern(100, 2))
        .Firmware(0x2000, Pattern(37, 3))
        .Scramble(key);
    BirdFile file = sLoad(writer);
    std::vector<BirdBlock> fw = file.FindBlocks(BirdFile::BLOCK_FIRMWARE);
    EXPECT_NE(sPayload(fw[0]), Pattern(100, 2));
    uint32_t checksum = file.fileChecksum;

    EXPECT_TRUE(file.DecodeFirmwareBlocks(key.data()));
    EXPECT_EQ(sPayload(fw[0]), Pattern(100, 2));
    EXPECT_EQ(sPayload(fw[1]), Pattern(37, 3));
    EXPECT_EQ(sPayload(file.blocks[0]), Pattern(40, 1)); // loader untouched
    EXPECT_EQ(file.fileChecksum, checksum);

    file.DecodeFirmwareBlocks(key.data()); // a second pass scrambles again
    EXPECT_NE(sPayload(fw[0]), Pattern(100, 2));
}

TEST(BirdDump, PrintsHexAndTextInRowsOfFifty) {
    std::vector<uint8_t> image(52, 'A');
    image[1] = 0x07;
    BirdFile file = sLoad(BirdWriter().Loader(0x41424344, image).Firmware(0, {0x30}));
    testing::internal::CaptureStdout();
    EXPECT_TRUE(file.DumpBlocks(BirdFile::BLOCK_LOADER));
    std::string out = testing::internal::GetCapturedStdout();
    std::string row = "";
    std::string expected = "BIRDFILE: BLOCK DUMP [memory]\n \r\n000000: 41 42 43 44 41 07 ";
    for (int i = 0; i < 44; i++)
        expected += "41 ";
    expected += " ABCDA " + std::string(44, 'A') + "\r\n000050: 41 41 41 41 41 41  AAAAAA\n\n";
    EXPECT_EQ(out, expected);
}
