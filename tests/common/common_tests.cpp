#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "BuildPath.h"
#include "aDefs.h"
#include "aDirectory.h"
#include "aError.h"
#include "aFile.h"
#include "aMutex.h"
#include "aThread.h"
#include "aTime.h"
#include "aVersion.h"

namespace {
struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/common_tests.XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
};

void writeFile(const std::string& path, const std::string& text) {
    FILE* f = fopen(path.c_str(), "wb");
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
}
} // namespace

TEST(Errors, NamesAndDescriptionsWithCatchAll) {
    EXPECT_STREQ(aError_GetErrorText(aErrNone), "aErrNone");
    EXPECT_STREQ(aError_GetErrorText(aErrTimeout), "aErrTimeout");
    EXPECT_STREQ(aError_GetErrorDescription(aErrShortCommand), "Vuviridor command to short");
    for (aErr code : {34u, 35u, 1000u}) {
        EXPECT_STREQ(aError_GetErrorText(code), "aErrUnknown");
        EXPECT_STREQ(aError_GetErrorDescription(code), "Unknown error");
    }
}

TEST(Version, LegacyAndCurrentFormats) {
    EXPECT_TRUE(aVersion_IsLegacyFormat(0x2E000000));
    EXPECT_FALSE(aVersion_IsLegacyFormat(0x2F000000));
    EXPECT_FALSE(aVersion_IsLegacyFormat(0x30000000));
    EXPECT_EQ(aVersion_ParseMajor(0x30000000), 0);
    struct {
        uint8_t major, minor, patch;
        uint32_t word;
    } rows[] = {{2, 14, 7, 0x2E000007},  {2, 15, 0, 0x2F020F00}, {3, 1, 2, 0x2F030102},
                {1, 0, 0, 0x10000000},   {2, 14, 255, 0x2E0000FF}};
    for (auto& r : rows) {
        EXPECT_EQ(aVersion_Pack(r.major, r.minor, r.patch), r.word);
        EXPECT_EQ(aVersion_ParseMajor(r.word), r.major);
        EXPECT_EQ(aVersion_ParseMinor(r.word), r.minor);
        EXPECT_EQ(aVersion_ParsePatch(r.word), r.patch);
    }
    char text[16];
    aVersion_ParseString(0x21000123, text, sizeof(text));
    EXPECT_STREQ(text, "2.1.291");
    aVersion_ParseString(0x30010203, text, sizeof(text));
    EXPECT_STREQ(text, "1.2.3");
}

TEST(Version, LibraryVersionAndFeatures) {
    EXPECT_STREQ(aVersion_GetString(), "2.11.3");
    EXPECT_TRUE(aVersion_IsAtLeast(2, 11, 3));
    EXPECT_FALSE(aVersion_IsAtLeast(2, 11, 4));
    EXPECT_FALSE(aVersion_IsAtLeast(2, 12, 0));
    EXPECT_TRUE(aVersion_IsAtLeast(1, 255, 255));
    EXPECT_TRUE(aVersion_HasFeature("VERSION"));
    EXPECT_FALSE(aVersion_HasFeature("version"));
    EXPECT_FALSE(aVersion_HasFeature("VERSION "));
    char* list = aVersion_GetFeatureList();
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list, "VERSION - Version Query API");
    aVersion_DestroyFeatureList(&list);
    EXPECT_EQ(list, nullptr);
}

TEST(Models, KnownCodesHaveShortNamesOthersUnknown) {
    std::vector<uint32_t> known = {4, 5};
    for (uint32_t c = 13; c <= 27; c++) known.push_back(c);
    for (uint32_t c : known) {
        EXPECT_STRNE(aDefs_GetModelName(c), "Unknown") << c;
        EXPECT_LE(strlen(aDefs_GetModelName(c)), 13u) << c;
    }
    for (uint32_t c : {0u, 6u, 12u, 28u, 255u})
        EXPECT_STREQ(aDefs_GetModelName(c), "Unknown") << c;
}

TEST(Files, ReadWriteSeekAndModes) {
    TempDir dir;
    std::string path = dir.path + "/f.bin";
    aFile* f = aFile_Open(path.c_str(), aFileModeWriteOnly);
    ASSERT_NE(f, nullptr);
    size_t n = 99;
    EXPECT_EQ(aFile_Write(f, "hello", 5, &n), aErrNone);
    EXPECT_EQ(n, 5u);
    char buf[8];
    EXPECT_EQ(aFile_Read(f, buf, 1, &n), aErrMode);
    EXPECT_EQ(aFile_Close(&f), aErrNone);
    EXPECT_EQ(f, nullptr);

    f = aFile_Open(path.c_str(), aFileModeReadOnly);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(aFile_Write(f, "x", 1, &n), aErrMode);
    size_t size = 0;
    EXPECT_EQ(aFile_GetSize(f, &size), aErrNone);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(aFile_Seek(f, 5, aSeekStart), aErrNone);
    EXPECT_EQ(aFile_Read(f, buf, 0, &n), aErrNone);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(aFile_Read(f, buf, 1, &n), aErrEOF);
    EXPECT_EQ(aFile_Seek(f, 1, aSeekCurrent), aErrRange);
    EXPECT_EQ(aFile_Seek(f, -2, aSeekEnd), aErrNone);
    EXPECT_EQ(aFile_Read(f, buf, 8, &n), aErrNone);
    EXPECT_EQ(std::string(buf, n), "lo");
    EXPECT_EQ(aFile_Seek(f, -1, aSeekStart), aErrRange);
    EXPECT_EQ(aFile_Close(&f), aErrNone);

    f = aFile_Open(path.c_str(), aFileModeAppend);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(aFile_Printf(f, "%d", 42), aErrNone);
    EXPECT_EQ(aFile_GetSize(f, &size), aErrNone);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(aFile_Close(&f), aErrNone);

    EXPECT_EQ(aFile_Open(path.c_str(), 3), nullptr);
    EXPECT_EQ(aFile_Open("", aFileModeReadOnly), nullptr);
    EXPECT_EQ(aFile_Open((dir.path + "/missing").c_str(), aFileModeReadOnly), nullptr);
}

TEST(Files, ReadLineBoundaries) {
    TempDir dir;
    std::string path = dir.path + "/lines.txt";
    writeFile(path, "abc\nabcd");
    aFile* f = aFile_Open(path.c_str(), aFileModeReadOnly);
    ASSERT_NE(f, nullptr);
    char buf[5];
    size_t len = 9;
    EXPECT_EQ(aFile_ReadLine(f, buf, sizeof(buf), &len), aErrNone); // exactly size-1 with '\n'
    EXPECT_STREQ(buf, "abc\n");
    EXPECT_EQ(len, 4u);
    EXPECT_EQ(aFile_ReadLine(f, buf, sizeof(buf), &len), aErrOverrun); // size-1 without '\n'
    EXPECT_STREQ(buf, "abcd");
    EXPECT_EQ(aFile_ReadLine(f, buf, sizeof(buf), &len), aErrEOF);
    EXPECT_EQ(len, 0u);
    EXPECT_STREQ(buf, "");
    aFile_Close(&f);
}

TEST(Files, InvalidRecordsExistsAndDelete) {
    TempDir dir;
    std::string path = dir.path + "/x";
    writeFile(path, "x");
    aFile* f = aFile_Open(path.c_str(), aFileModeReadOnly);
    ASSERT_NE(f, nullptr);
    aFile copy = *f;
    aFile_Close(&f);
    aFile* stale = &copy;
    copy.check = 0;
    EXPECT_EQ(aFile_Close(&stale), aErrParam);
    EXPECT_EQ(stale, nullptr);
    EXPECT_EQ(aFile_Read(nullptr, nullptr, 0, nullptr), aErrParam);

    EXPECT_TRUE(aFile_Exists(path.c_str()));
    EXPECT_FALSE(aFile_Exists(dir.path.c_str()));
    EXPECT_FALSE(aFile_Exists(nullptr));
    EXPECT_EQ(aFile_Delete(path.c_str()), aErrNone);
    EXPECT_EQ(aFile_Delete(path.c_str()), aErrNotFound);
    EXPECT_EQ(aFile_Delete(nullptr), aErrParam);
    EXPECT_EQ(aFile_Delete(std::string(5000, 'a').c_str()), aErrFileNameLength);
}

TEST(Mutexes, NamesLockingAndErrors) {
    aMutex* unnamed = aMutex_Create(nullptr);
    ASSERT_NE(unnamed, nullptr);
    EXPECT_STREQ(aMutex_Identifier(unnamed), "");
    aMutex_Destroy(&unnamed);
    aMutex* m = aMutex_Create(std::string(255, 'n').c_str());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(strlen(aMutex_Identifier(m)), 255u);
    EXPECT_EQ(aMutex_Create(std::string(256, 'n').c_str()), nullptr);
    EXPECT_EQ(aMutex_Lock(m), aErrNone);
    EXPECT_EQ(aMutex_TryLock(m), aErrBusy);
    EXPECT_EQ(aMutex_Destroy(&m), aErrBusy);
    EXPECT_NE(m, nullptr);
    EXPECT_EQ(aMutex_Unlock(m), aErrNone);
    EXPECT_EQ(aMutex_Destroy(&m), aErrNone);
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(aMutex_Lock(nullptr), aErrParam);
}

TEST(Threads, RunAndJoin) {
    int value = 0;
    aThread* t = aThread_Create(
        [](void* arg) -> void* {
            *static_cast<int*>(arg) = 7;
            return nullptr;
        },
        &value);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(aThread_Destroy(&t), 0);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(value, 7);
}

TEST(Time, SleepsAtLeastTheTime) {
    uint64_t start = aTime_GetMSTicks();
    EXPECT_EQ(aTime_MSSleep(0), aErrNone);
    EXPECT_EQ(aTime_MSSleep(30), aErrNone);
    EXPECT_GE(aTime_GetMSTicks() - start, 30u);
}

TEST(Paths, BuildPathAlwaysAddsSeparatorJoinPathAddsOne) {
    EXPECT_EQ(BuildPath("/home/u", ".vazizori"), "/home/u/.vazizori");
    EXPECT_EQ(BuildPath("/data/", "updater"), "/data//updater");
    EXPECT_EQ(BuildPath("a", "b", std::string("c")), "a/b/c");
    char buf[32];
    EXPECT_EQ(aDirectory_JoinPath(buf, sizeof(buf), "/data/", "updater"), aErrNone);
    EXPECT_STREQ(buf, "/data/updater");
    EXPECT_EQ(aDirectory_JoinPath(buf, sizeof(buf), "a", "/b"), aErrNone);
    EXPECT_STREQ(buf, "a/b");
    EXPECT_EQ(aDirectory_JoinPath(buf, 4, "ab", "c"), aErrOverrun);
    EXPECT_EQ(aDirectory_JoinPath(buf, sizeof(buf), buf, "c"), aErrParam);
}

TEST(Directories, EnsureCreatesMissingLevelsAndKeepsExisting) {
    TempDir dir;
    std::string deep = dir.path + "/one/two/three";
    EXPECT_EQ(aDirectory_Ensure(deep.c_str(), 0755), aErrNone);
    EXPECT_TRUE(aDirectory_Exists(deep.c_str()));
    EXPECT_EQ(aDirectory_Ensure(deep.c_str(), 0755), aErrNone);
    struct stat st;
    ASSERT_EQ(stat((dir.path + "/one").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u & ~0022u & 0777);
    writeFile(dir.path + "/file", "x");
    EXPECT_EQ(aDirectory_Ensure((dir.path + "/file/sub").c_str(), 0755), aErrPermission);
}

TEST(Directories, ListCallsBackAndStops) {
    TempDir dir;
    writeFile(dir.path + "/a", "12345");
    mkdir((dir.path + "/d").c_str(), 0755);
    std::vector<std::pair<std::string, uint32_t>> seen;
    auto collect = [](const aDirectoryListData* e, void* ctx) {
        static_cast<decltype(seen)*>(ctx)->push_back({e->path, e->isDirectory ? 0xFFFFFFFFu : e->size});
        return true;
    };
    EXPECT_EQ(aDirectory_List(dir.path.c_str(), collect, &seen), aErrNone);
    EXPECT_EQ(seen.size(), 4u); // ".", "..", "a", "d"
    bool sawFile = false;
    for (auto& s : seen)
        if (s.first == dir.path + "/a") sawFile = s.second == 5;
    EXPECT_TRUE(sawFile);

    int calls = 0;
    EXPECT_EQ(aDirectory_List(
                  dir.path.c_str(),
                  [](const aDirectoryListData*, void* ctx) { return ++*static_cast<int*>(ctx) < 1; },
                  &calls),
              aErrNone);
    EXPECT_EQ(calls, 1);
    calls = 0;
    EXPECT_EQ(aDirectory_List((dir.path + "/nope").c_str(),
                              [](const aDirectoryListData*, void* ctx) {
                                  ++*static_cast<int*>(ctx);
                                  return true;
                              },
                              &calls),
              aErrNotFound);
    EXPECT_EQ(calls, 0);
}

TEST(Directories, HomeDirectoryFitsOrOverruns) {
    char buf[2048];
    EXPECT_EQ(aDirectory_GetHomeDirectory(buf, sizeof(buf)), aErrNone);
    EXPECT_GT(strlen(buf), 0u);
    char tiny[1];
    EXPECT_NE(aDirectory_GetHomeDirectory(tiny, sizeof(tiny)), aErrNone);
}
