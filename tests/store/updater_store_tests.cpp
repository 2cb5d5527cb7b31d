// The local store: directory checks, devices, local builds, writing and reading BIRD files.
#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <functional>
#include <stdexcept>
#include <unistd.h>

#include "UpdaterStore.h"
#include "StoreTestSupport.h"

namespace {
std::vector<std::string> sNames(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    for (struct dirent* e = d ? readdir(d) : nullptr; e; e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
            names.push_back(e->d_name);
    if (d) closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::string sError(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(no error)";
}
} // namespace

TEST(StoreRoot, ConstructorCreatesOrRefuses) {
    TempDir dir;
    LogCapture log;
    UpdaterStore store(dir / "a/b/updater");
    EXPECT_EQ(store.BasePath(), dir / "a/b/updater");
    struct stat st;
    ASSERT_EQ(stat((dir / "a/b/updater").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(log.Has("UpdaterStore: Created directory [" + dir / "a/b/updater" + "].\n"));
    UpdaterStore again(dir / "a/b/updater");
    EXPECT_TRUE(log.Has("UpdaterStore: [" + dir / "a/b/updater" + "] already exists.\n"));

    WriteText(dir / "file", "x");
    EXPECT_EQ(sError([&] { UpdaterStore s(dir / "file"); }),
              "UpdaterStore: " + dir / "file" + " exists and is a file");
    EXPECT_EQ(sError([&] { UpdaterStore s(dir / "file/sub"); }),
              "UpdaterStore: Could not create directory " + dir / "file/sub" + " error 12");
}

TEST(StoreDevices, AddThenFind) {
    TempDir dir;
    UpdaterStore store(dir.path);
    LogCapture log;
    UpdaterStoreItem item;
    EXPECT_FALSE(store.FindDevice(1, item));
    EXPECT_FALSE(item.IsValid());
    EXPECT_EQ(item.kind, STORE_ITEM_NONE);
    EXPECT_TRUE(log.Has("UpdaterStore: FindDevice Not Found 00000001.\n"));

    UpdaterStoreItem added = store.AddDevice(1);
    EXPECT_EQ(added.basePath, dir.path);
    EXPECT_EQ(added.name, "00000001");
    EXPECT_EQ(added.kind, STORE_ITEM_DIRECTORY);
    EXPECT_EQ(sNames(dir / "00000001"), std::vector<std::string>{".settings"});
    std::string settings = ReadText(dir / "00000001/.settings");
    EXPECT_EQ(settings.rfind("CREATED_TIME=", 0), 0u);
    EXPECT_NE(settings.find("\nUPDATED_TIME="), std::string::npos);

    ASSERT_TRUE(store.FindDevice(1, item));
    EXPECT_TRUE(item.IsValid());
    EXPECT_EQ(item.basePath, dir.path);
    EXPECT_EQ(item.name, "00000001");
    EXPECT_EQ(item.kind, STORE_ITEM_DIRECTORY);
    EXPECT_TRUE(item.settings["CREATED_TIME"].has_value());
    EXPECT_TRUE(log.Has("_find_item([" + dir / "00000001" + "], 1, "));
    EXPECT_TRUE(log.Has("UpdaterStore: FindDevice Found 00000001.\n"));
    EXPECT_TRUE(store.FindDevice(1));
    EXPECT_FALSE(store.FindDevice(0x10));
}

TEST(StoreDevices, MatchingByNamePart) {
    TempDir dir;
    UpdaterStore store(dir.path);
    WriteText(dir / "00000001", "plain file");
    UpdaterStoreItem item;
    ASSERT_TRUE(store.FindDevice(1, item));
    EXPECT_EQ(item.kind, STORE_ITEM_FILE);
    EXPECT_EQ(sNames(dir.path), std::vector<std::string>{"00000001"}); // nothing written

    // A partial match is found when nothing matches exactly...
    TempDir other;
    UpdaterStore partial(other.path);
    mkdir((other / "00000002.old").c_str(), 0755);
    ASSERT_TRUE(partial.FindDevice(2, item));
    EXPECT_EQ(item.name, "00000002.old");
    // ...but the exact name wins whatever the listing order.
    partial.AddDevice(2);
    ASSERT_TRUE(partial.FindDevice(2, item));
    EXPECT_EQ(item.name, "00000002");
    EXPECT_FALSE(partial.FindDevice(""));
}

TEST(StoreDevices, NamesCannotLeaveTheRoot) {
    TempDir dir;
    UpdaterStore store(dir / "root");
    for (const char* name : {"../escape", "a/b", "..", ".", ""}) {
        EXPECT_NE(sError([&] { store.AddDevice(name); }).find("Could not create directory"),
                  std::string::npos)
            << name;
    }
    EXPECT_EQ(sNames(dir.path), std::vector<std::string>{"root"});
    EXPECT_TRUE(sNames(dir / "root").empty());
}

TEST(StoreDevices, AddDeviceOverAFileThrows) {
    TempDir dir;
    UpdaterStore store(dir.path);
    WriteText(dir / "0000ABCD", "x");
    EXPECT_EQ(sError([&] { store.AddDevice(0xABCD); }),
              "UpdaterStore: " + dir / "0000ABCD" + " exists and is a file");
}

TEST(StoreBuilds, ListsEverythingButDotNames) {
    TempDir dir;
    UpdaterStore store(dir.path);
    std::vector<UpdaterStoreItem> items;
    EXPECT_TRUE(store.FindLocalBuilds(7, items));
    EXPECT_TRUE(items.empty());

    store.AddDevice(7);
    std::string device = dir / "00000007";
    WriteBytes(device + "/1234.bird", BirdWriter().Info(1234, "1.2", 7, "Quill 4").Build());
    mkdir((device + "/notes").c_str(), 0755);
    WriteText(device + "/.hidden", "x");
    LogCapture log;
    ASSERT_TRUE(store.FindLocalBuilds(7, items));
    ASSERT_EQ(items.size(), 2u);
    std::sort(items.begin(), items.end(),
              [](const UpdaterStoreItem& a, const UpdaterStoreItem& b) { return a.name < b.name; });
    EXPECT_EQ(items[0].name, "1234.bird");
    EXPECT_EQ(items[0].kind, STORE_ITEM_FILE);
    EXPECT_EQ(items[0].basePath, device);
    EXPECT_EQ(items[1].name, "notes");
    EXPECT_EQ(items[1].kind, STORE_ITEM_DIRECTORY);
    EXPECT_TRUE(log.Has("_find_items([" + device + "/1234.bird], 0, "));
    // A file entry's settings live in memory only; a directory entry gets its own file.
    EXPECT_TRUE(items[0].settings["CREATED_TIME"].has_value());
    EXPECT_TRUE(items[0].settings["UPDATED_TIME"].has_value());
    EXPECT_EQ(sNames(device),
              (std::vector<std::string>{".hidden", ".settings", "1234.bird", "notes"}));
    EXPECT_EQ(sNames(device + "/notes"), std::vector<std::string>{".settings"});

    // Appends to what the caller already has.
    store.FindLocalBuilds(7, items);
    EXPECT_EQ(items.size(), 4u);
}

TEST(StoreFiles, WriteThenReadABirdFile) {
    TempDir dir;
    UpdaterStore store(dir.path);
    UpdaterStoreItem device = store.AddDevice(0xCBFFBBEF);
    std::vector<uint8_t> bytes =
        BirdWriter().Info(99, "9.9", 0xCBFFBBEF, "Bridge One").Firmware(0, Pattern(64)).Build();
    EXPECT_EQ(device.WriteFile("99.bird", bytes.data(), bytes.size()), aErrNone);
    BirdFile file = device.ReadBirdFile("99.bird");
    EXPECT_EQ(file.GetBuild(), 99u);
    EXPECT_EQ(file.path, dir / "CBFFBBEF/99.bird");
    EXPECT_TRUE(file.ValidateModel("Bridge One"));

    // Replacing goes through a new inode: a reader of the old file keeps it whole.
    ASSERT_EQ(link((dir / "CBFFBBEF/99.bird").c_str(), (dir / "old").c_str()), 0);
    std::vector<uint8_t> newer = BirdWriter().Info(100, "10", 1, "Meter L").Build();
    EXPECT_EQ(device.WriteFile("99.bird", newer.data(), newer.size()), aErrNone);
    EXPECT_EQ(ReadText(dir / "old"), std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(device.ReadBirdFile("99.bird").GetBuild(), 100u);
    EXPECT_EQ(sNames(dir / "CBFFBBEF"), (std::vector<std::string>{".settings", "99.bird"}));
}

TEST(StoreFiles, WriteFileErrors) {
    TempDir dir;
    UpdaterStore store(dir / "root");
    UpdaterStoreItem device = store.AddDevice(5);
    uint8_t byte = 1;
    EXPECT_EQ(device.WriteFile("1.bird", nullptr, 10), aErrNotFound);
    EXPECT_EQ(device.WriteFile("../../escape.bird", &byte, 1), aErrParam);
    EXPECT_EQ(device.WriteFile("..", &byte, 1), aErrParam);
    EXPECT_EQ(device.WriteFile("", &byte, 1), aErrParam);
    EXPECT_FALSE(PathExists(dir / "escape.bird"));
    UpdaterStoreItem gone(dir / "root", "00000006", STORE_ITEM_DIRECTORY);
    EXPECT_EQ(gone.WriteFile("1.bird", &byte, 1), aErrNotFound);
    EXPECT_EQ(device.WriteFile("empty.bird", &byte, 0), aErrNone);
    EXPECT_EQ(ReadText(dir / "root/00000005/empty.bird"), "");
}

TEST(StoreFiles, ReadBirdFileErrors) {
    TempDir dir;
    UpdaterStore store(dir.path);
    UpdaterStoreItem device = store.AddDevice(5);
    std::string base = dir / "00000005/";
    EXPECT_EQ(sError([&] { device.ReadBirdFile("1.bird"); }), "Invalid bird " + base + "1.bird");
    WriteText(base + "2.bird", "not a bird file");
    EXPECT_EQ(sError([&] { device.ReadBirdFile("2.bird"); }), "Invalid bird " + base + "2.bird");
    WriteBytes(base + "3.bird", {'b', 'i', 'r', 'd', 1, 1, 9, 9, 9});
    EXPECT_EQ(sError([&] { device.ReadBirdFile("3.bird"); }), "Failed to load bird data");
    // A name from a settings file cannot reach outside the device directory.
    BirdWriter().Info(1, "1", 5, "Quill 5").WriteTo(dir / "outside.bird");
    EXPECT_EQ(sError([&] { device.ReadBirdFile("../outside.bird"); }),
              "Invalid bird " + base + "../outside.bird");
}
