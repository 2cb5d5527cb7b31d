// Loading BIRD files: header check, decompression, block scan, information block, moves.
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <unistd.h>

#include "BirdFile.h"
#include "StoreTestSupport.h"

namespace {
BirdWriter sFullFile() {
    BirdWriter w;
    w.Info(1234, "2.11.3", 0x1A2B3C4D, "Meter S")
        .Loader(0x1000, Pattern(40, 1), 1)
        .Firmware(0x8000, Pattern(100, 2), 2)
        .Firmware(0x9000, Pattern(60, 3), 7)
        .SerialOffsets(0x8010, 0x9010)
        .LoaderStart(0x20000400)
        .Raw(9, Pattern(3, 4));
    return w;
}

BirdFile sLoad(const std::vector<uint8_t>& bytes) {
    BirdFile file;
    file.path = "memory";
    EXPECT_TRUE(file.LoadData(bytes.data(), bytes.size()));
    return file;
}
} // namespace

TEST(BirdFileLoad, RoundTripKeepsBlocksInFileOrder) {
    TempDir dir;
    BirdWriter writer = sFullFile();
    ASSERT_TRUE(writer.WriteTo(dir / "1234.bird"));
    LogCapture log;
    BirdFile file(dir / "1234.bird");

    EXPECT_EQ(file.signature, BirdFile::BIRD_FILE_SIGNATURE);
    EXPECT_EQ(file.version, BirdFile::BIRD_FILE_VERSION);
    std::vector<uint8_t> body = writer.Body();
    EXPECT_EQ(file.size, body.size());
    EXPECT_EQ(file.fileChecksum, BirdWriter::BodyChecksum(body.data(), body.size() - 4));
    ASSERT_EQ(file.blockCount, 7u);
    ASSERT_EQ(file.blocks.size(), 7u);
    const uint8_t types[] = {4, 0, 1, 1, 2, 5, 9};
    const uint8_t flags[] = {0, 1, 2, 7, 0, 0, 0};
    const uint32_t lengths[] = {64, 44, 104, 64, 8, 4, 3};
    for (size_t i = 0; i < 7; i++) {
        EXPECT_EQ(file.blocks[i].type, types[i]) << i;
        EXPECT_EQ(file.blocks[i].flags, flags[i]) << i;
        EXPECT_EQ(file.blocks[i].length, lengths[i]) << i;
        EXPECT_GE(file.blocks[i].data, file.buffer.data());
        EXPECT_LE(file.blocks[i].data + file.blocks[i].length, file.buffer.data() + file.size);
    }
    EXPECT_EQ(file.blocks[1].address, 0x1000u);
    EXPECT_EQ(file.blocks[2].address, 0x8000u);
    EXPECT_EQ(file.blocks[5].address, 0u); // only loader and firmware carry one
    EXPECT_EQ(std::vector<uint8_t>(file.blocks[2].data + 4, file.blocks[2].data + 104),
              Pattern(100, 2));

    std::vector<BirdBlock> firmware = file.FindBlocks(BirdFile::BLOCK_FIRMWARE);
    ASSERT_EQ(firmware.size(), 2u);
    EXPECT_EQ(firmware[0].address, 0x8000u);
    EXPECT_EQ(firmware[1].address, 0x9000u);
    EXPECT_EQ(firmware[1].data, file.blocks[3].data);
    EXPECT_TRUE(file.FindBlocks(3).empty());

    EXPECT_EQ(file.GetBuild(), 1234u);
    EXPECT_EQ(file.GetVersion(), "2.11.3");
    EXPECT_EQ(file.GetSerialNumber(), 0x1A2B3C4Du);
    EXPECT_TRUE(file.ValidateSerialNumber(0x1A2B3C4D));
    EXPECT_FALSE(file.ValidateSerialNumber(0x1A2B3C4E));
    EXPECT_TRUE(file.hasSerialBlock);
    EXPECT_EQ(file.serialNumberOffset, 0x8010u);
    EXPECT_EQ(file.descriptorOffset, 0x9010u);

    EXPECT_TRUE(log.Has("BIRDFILE: Loading File [" + dir / "1234.bird" + "]\n"));
    EXPECT_TRUE(log.Has("BIRDFILE:\t\t File reports 7 blocks\n"));
    EXPECT_TRUE(log.Has("BIRDFILE:\t\t 01   07   64\n"));
    EXPECT_TRUE(log.Has("BIRDFILE:\t\t \t[Meter S         ]\n"));
    EXPECT_TRUE(log.Has("BIRDFILE: Offsets: Serial number: 32784, Descriptor: 36880\n"));
    EXPECT_FALSE(log.Has("mismatch"));
}

TEST(BirdFileLoad, VerifyFileChecksOnlyTheHeader) {
    TempDir dir;
    std::vector<uint8_t> good = sFullFile().Build();
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool verifies;
        bool loads;
    } cases[] = {
        {"good", good, true, true},
        {"zero low version byte", sFullFile().Version(0x0100).Build(), false, true},
        {"zero high version byte", sFullFile().Version(0x0001).Build(), false, true},
        {"other signature", sFullFile().Signature("BIRD").Build(), false, true},
        {"five bytes", {'b', 'i', 'r', 'd', 1}, false, false},
        {"header only", {'b', 'i', 'r', 'd', 1, 1}, true, false},
        {"header and garbage", {'b', 'i', 'r', 'd', 1, 1, 'x', 'y', 'z'}, true, false},
        {"empty", {}, false, false},
    };
    for (const Case& c : cases) {
        WriteBytes(dir / "f.bird", c.bytes);
        EXPECT_EQ(BirdFile::VerifyFile(dir / "f.bird"), c.verifies) << c.name;
        BirdFile file;
        file.path = dir / "f.bird";
        EXPECT_EQ(file.Load(), c.loads) << c.name;
        if (!c.loads) {
            EXPECT_EQ(file.size, 0u) << c.name;
            EXPECT_TRUE(file.blocks.empty()) << c.name;
        }
    }
    EXPECT_FALSE(BirdFile::VerifyFile(dir / "missing.bird"));
    EXPECT_FALSE(BirdFile::VerifyFile(dir.path));
}

TEST(BirdFileLoad, FailuresAreLoggedAndThrownByTheConstructor) {
    TempDir dir;
    LogCapture log;
    try {
        BirdFile file(dir / "missing.bird");
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Failed to load bird data");
    }
    EXPECT_TRUE(log.Has("BIRDFILE: BIRD file not found [" + dir / "missing.bird" + "]\n"));

    WriteBytes(dir / "six.bird", {'b', 'i', 'r', 'd', 1, 1});
    EXPECT_THROW(BirdFile(dir / "six.bird"), std::runtime_error);
    EXPECT_TRUE(log.Has("BIRDFILE: Error (-5) decompressing bird file.\n"));

    WriteBytes(dir / "junk.bird", {'b', 'i', 'r', 'd', 1, 1, 1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_THROW(BirdFile(dir / "junk.bird"), std::runtime_error);
    EXPECT_TRUE(log.Has("BIRDFILE: Error (-3) decompressing bird file.\n"));
}

TEST(BirdFileLoad, BodyIsCappedAtEightTimesTheCompressedSize) {
    // Zeros compress far better than 8:1: a small file must not unpack into a big buffer.
    std::vector<uint8_t> zeros(1 << 20, 0);
    LogCapture log;
    BirdFile bomb;
    std::vector<uint8_t> bytes = FileWithBody(zeros);
    ASSERT_LT(bytes.size() * 8, zeros.size());
    EXPECT_FALSE(bomb.LoadData(bytes.data(), bytes.size()));
    EXPECT_EQ(bomb.size, 0u);
    EXPECT_TRUE(bomb.buffer.empty());
    EXPECT_TRUE(log.Has("BIRDFILE: Error (-5) decompressing bird file.\n"));

    // Random payloads barely compress, so the same size loads.
    std::mt19937 random(7);
    std::vector<uint8_t> noise(1 << 20);
    for (uint8_t& b : noise)
        b = (uint8_t)random();
    BirdFile big = sLoad(BirdWriter().Firmware(0, noise).Build());
    EXPECT_EQ(big.blockCount, 1u);
}

TEST(BirdFileLoad, OversizedFileIsRefusedBeforeReading) {
    TempDir dir;
    std::string path = dir / "huge.bird";
    WriteBytes(path, sFullFile().Build());
    ASSERT_EQ(truncate(path.c_str(), BirdFile::MAX_FILE_SIZE + 1), 0); // sparse: cheap
    LogCapture log;
    BirdFile file;
    file.path = path;
    EXPECT_FALSE(file.Load());
    EXPECT_TRUE(log.Has("too large"));
}

TEST(BirdFileScan, CountMismatchIsLoggedButTheBlocksStay) {
    LogCapture log;
    BirdFile file =
        sLoad(BirdWriter().Loader(1, Pattern(8)).Firmware(2, Pattern(8)).DeclaredCount(3).Build());
    EXPECT_EQ(file.blockCount, 2u);
    EXPECT_TRUE(log.Has("BIRDFILE:\t\t File reports 3 blocks\n"));
    EXPECT_TRUE(log.Has("BIRDFILE: Block parsing mismatch in number of blocks. (2 != 3)\n"));
}

// Crafted bodies: the scan keeps only blocks that lie wholly inside the data and never
// reads past it (the sanitizer build checks the "never").
TEST(BirdFileScan, CraftedBodiesStayInBounds) {
    auto block = [](std::vector<uint8_t>& body, uint8_t typeFlags, uint32_t length, size_t actual) {
        body.push_back(typeFlags);
        PutInt(body, length);
        std::vector<uint8_t> bytes = Pattern(actual);
        body.insert(body.end(), bytes.begin(), bytes.end());
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> body;
        uint32_t blocks;
        const char* logged;
    };
    std::vector<Case> cases;
    {
        std::vector<uint8_t> b;
        PutInt(b, 2);
        block(b, 3, 4, 4);
        block(b, 3, 0xFFFFFFFF, 10); // length runs far past the end
        PutInt(b, 0xC0FFEE);
        cases.push_back({"length past end", b, 1, "mismatch in data size"});
    }
    {
        std::vector<uint8_t> b;
        PutInt(b, 1);
        block(b, 3, 6, 4); // the body would eat two checksum bytes
        PutInt(b, 0xC0FFEE);
        cases.push_back({"block into checksum", b, 0, "mismatch in data size"});
    }
    {
        std::vector<uint8_t> b;
        PutInt(b, 1);
        block(b, 1, 2, 2); // firmware without room for its address
        PutInt(b, 0xC0FFEE);
        cases.push_back({"short firmware", b, 0, "mismatch in data size"});
    }
    {
        std::vector<uint8_t> b;
        PutInt(b, 1);
        block(b, 3, 1, 1);
        PutInt(b, 0xC0FFEE);
        b.push_back(0xAA);
        b.push_back(0xBB);
        cases.push_back({"trailing bytes", b, 1, "(2 bytes remaining)"});
    }
    cases.push_back({"count only", {0, 0, 0, 0}, 0, "mismatch in data size"});
    cases.push_back({"two bytes", {0, 1}, 0, "mismatch in data size"});
    cases.push_back(
        {"huge count, no blocks", {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4}, 0, "(0 != -1)"});
    for (const Case& c : cases) {
        LogCapture log;
        BirdFile file;
        std::vector<uint8_t> bytes = FileWithBody(c.body);
        EXPECT_TRUE(file.LoadData(bytes.data(), bytes.size())) << c.name;
        EXPECT_EQ(file.blockCount, c.blocks) << c.name;
        EXPECT_TRUE(log.Has(c.logged)) << c.name << "\n" << log.Text();
        for (const BirdBlock& b : file.blocks)
            EXPECT_LE(b.data + b.length, file.buffer.data() + file.size - 4) << c.name;
    }
}

TEST(BirdFileScan, BlockCountIsBounded) {
    // Many empty blocks followed by noise, so the file passes the 8x cap.
    std::vector<uint8_t> body;
    PutInt(body, BirdFile::MAX_BLOCKS + 10);
    for (uint32_t i = 0; i < BirdFile::MAX_BLOCKS + 10; i++) {
        body.push_back(3);
        PutInt(body, 0);
    }
    std::mt19937 random(3);
    body.push_back(3);
    PutInt(body, 80000);
    for (int i = 0; i < 80000; i++)
        body.push_back((uint8_t)random());
    PutInt(body, 0);
    LogCapture log;
    BirdFile file;
    std::vector<uint8_t> bytes = FileWithBody(body);
    ASSERT_TRUE(file.LoadData(bytes.data(), bytes.size()));
    EXPECT_EQ(file.blockCount, BirdFile::MAX_BLOCKS);
    EXPECT_TRUE(log.Has("mismatch in number of blocks"));
}

TEST(BirdFileInfo, FieldsAreReadAsTheFormatSays) {
    struct Case {
        const char* name;
        std::string build, version, serial;
        uint32_t wantBuild;
        std::string wantVersion;
        uint32_t wantSerial;
    } cases[] = {
        {"plain", "1234", "2.11.3", "0000ABCD", 1234, "2.11.3", 0xABCD},
        {"spaces", "   77", "1.0 beta", "  12", 77, "1.0", 0x12},
        {"blank", "", "", "", 0, "", 0},
        {"letters stop parsing", "12ab", "x", "12XYZ", 12, "x", 0x12},
        {"16th character ignored", "123456789012349", "abcdefghijklmnoP", "1234567890", 0,
         "abcdefghijklmno", 0x12345678},
        {"too large for 32 bits", "4294967296", "v", "FFFFFFFF", 0, "v", 0xFFFFFFFF},
        {"hex prefix", "4294967295", "v", "0x1F", 4294967295u, "v", 0x1F},
    };
    for (const Case& c : cases) {
        BirdFile file =
            sLoad(BirdWriter().InfoText(c.build, c.version, c.serial, "Meter S").Build());
        EXPECT_EQ(file.GetBuild(), c.wantBuild) << c.name;
        EXPECT_EQ(file.GetVersion(), c.wantVersion) << c.name;
        EXPECT_EQ(file.GetSerialNumber(), c.wantSerial) << c.name;
    }
}

TEST(BirdFileInfo, ModelMatchesALeadingPart) {
    BirdFile file = sLoad(BirdWriter().Info(1, "1", 1, "Harbor Hub").Build());
    EXPECT_TRUE(file.ValidateModel("Harbor Hub"));
    EXPECT_TRUE(file.ValidateModel("Harbor"));
    EXPECT_TRUE(file.ValidateModel(""));
    EXPECT_FALSE(file.ValidateModel("Harbor Hub 2"));
    EXPECT_FALSE(file.ValidateModel("Harbor Hub "));
    EXPECT_FALSE(file.ValidateModel("Meter S"));
    LogCapture log;
    EXPECT_TRUE(file.ValidateModel("Harbor Hub"));
    EXPECT_TRUE(log.Has("Model matches model number ([Harbor Hub] == [Harbor Hub])\n"));
}

TEST(BirdFileInfo, MissingOrShortInformationBlock) {
    BirdFile none = sLoad(BirdWriter().Firmware(0, Pattern(8)).Build());
    EXPECT_EQ(none.GetBuild(), 0u);
    EXPECT_EQ(none.GetSerialNumber(), 0u);
    EXPECT_EQ(none.GetVersion(), "");
    EXPECT_FALSE(none.ValidateModel(""));
    EXPECT_FALSE(none.hasSerialBlock);

    // A 20-byte information block holds the build and 4 version bytes, nothing else.
    std::vector<uint8_t> info = {'4', '2', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                 ' ', ' ', ' ', ' ', ' ', ' ', 'v', '1', '.', '2'};
    LogCapture log;
    BirdFile shortInfo = sLoad(BirdWriter().Raw(4, info).Build());
    EXPECT_EQ(shortInfo.GetBuild(), 42u);
    EXPECT_EQ(shortInfo.GetVersion(), "v1.2");
    EXPECT_EQ(shortInfo.GetSerialNumber(), 0u);
    EXPECT_FALSE(shortInfo.ValidateModel("Meter"));
    EXPECT_TRUE(shortInfo.ValidateModel(""));
    EXPECT_TRUE(log.Has("\t[                ]\n")); // missing fields log as blanks
}

TEST(BirdFileMove, BlocksKeepPointingIntoTheMovedBuffer) {
    BirdFile loaded = sLoad(sFullFile().Build());
    const uint8_t* data = loaded.blocks[2].data;
    BirdFile target;
    target = std::move(loaded);
    EXPECT_EQ(target.blocks[2].data, data);
    EXPECT_EQ(target.buffer.data() + (data - target.buffer.data()), data);
    EXPECT_EQ(target.GetBuild(), 1234u);
    EXPECT_TRUE(target.hasSerialBlock);
    EXPECT_EQ(loaded.blockCount, 0u);
    EXPECT_TRUE(loaded.blocks.empty());
    EXPECT_FALSE(loaded.hasSerialBlock);
    EXPECT_EQ(loaded.size, 0u);

    BirdFile constructed(std::move(target));
    EXPECT_EQ(constructed.blocks[2].data, data);
    EXPECT_EQ(constructed.GetSerialNumber(), 0x1A2B3C4Du);
}

TEST(BirdFileMove, ReloadStartsAfresh) {
    TempDir dir;
    sFullFile().WriteTo(dir / "a.bird");
    BirdFile file(dir / "a.bird");
    BirdWriter().Firmware(0, Pattern(4)).WriteTo(dir / "a.bird");
    ASSERT_TRUE(file.Load());
    EXPECT_EQ(file.blockCount, 1u);
    EXPECT_FALSE(file.hasSerialBlock);
    EXPECT_EQ(file.serialNumberOffset, 0u);
}
