// Settings files: grammar, typed readers and writers, time stamps, load and save.
#include <gtest/gtest.h>

#include <cstring>
#include <dirent.h>
#include <functional>
#include <grp.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include "KeyValueStore.h"
#include "StoreTestSupport.h"

namespace {
std::vector<std::string> sLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

int sTempFiles(const std::string& dir) {
    int count = 0;
    DIR* d = opendir(dir.c_str());
    for (struct dirent* e = d ? readdir(d) : nullptr; e; e = readdir(d))
        if (strstr(e->d_name, ".tmp.")) count++;
    if (d) closedir(d);
    return count;
}
// Runs `body` where an unreadable file really is unreadable: as root, in a
// child process that gives up root for an unprivileged user owning `dir`.
// True when `body` returned true.
bool sWithoutRootsReach(const std::string& dir, const std::function<bool()>& body) {
    if (geteuid() != 0) return body();
    const uid_t nobody = 65534;
    for (const std::string& path : {dir, dir + "/s"})
        if (chown(path.c_str(), nobody, nobody) != 0) return false;
    pid_t child = fork();
    if (child == 0) {
        bool ok = setgroups(0, nullptr) == 0 && setgid(nobody) == 0 && setuid(nobody) == 0;
        _exit(ok && body() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}
} // namespace

TEST(SettingsGrammar, CommentsSpacesAndLastOccurrence) {
    TempDir dir;
    WriteText(dir / "s", "  A  =  1  \n#B=2\nC=3\nA=4\n");
    KeyValueStore kv(dir / "s");
    EXPECT_EQ(kv["A"], "4");
    EXPECT_EQ(kv["C"], "3");
    EXPECT_FALSE(kv["B"].has_value());
    EXPECT_FALSE(kv.IsDirty());
    EXPECT_EQ(kv.FileName(), dir / "s");
}

TEST(SettingsGrammar, LineTable) {
    struct Case {
        const char* name;
        std::string text;
        std::map<std::string, std::string> entries;
    } cases[] = {
        {"empty value", "K=\n", {{"K", ""}}},
        {"two characters skipped", "K\n=\n", {}},
        {"no equals sign skipped", "just words\nX=1\n", {{"X", "1"}}},
        {"first equals splits", "URL = a=b \n", {{"URL", "a=b"}}},
        {"tabs and CRLF", "\tT\t=\tv v\t\r\n", {{"T", "v v"}}},
        {"no final newline", "E=end", {{"E", "end"}}},
        {"indented hash is a key", "  #K=1\n", {{"#K", "1"}}},
        {"empty key", "=v\n", {{"", "v"}}},
        {"blank lines", "\n\n   \nZ=9\n", {{"Z", "9"}}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        WriteText(dir / "s", c.text);
        KeyValueStore kv(dir / "s");
        EXPECT_EQ(kv.Entries(), c.entries) << c.name;
    }
}

TEST(SettingsGrammar, LongLinesAreReadInPieces) {
    TempDir dir;
    std::string value(3000, 'x');
    WriteText(dir / "s", "K=" + value + "\nNEXT=1\n");
    KeyValueStore kv(dir / "s");
    EXPECT_EQ(kv["K"]->size(), KeyValueStore::LINE_BUFFER - 1 - 2);
    EXPECT_EQ(kv["NEXT"], "1");
    EXPECT_EQ(kv.Entries().size(), 2u); // the rest of the long line has no "="
}

TEST(SettingsTyped, ReadersFollowTheStandardConversions) {
    KeyValueStore kv;
    kv.Add("I", "  -12abc");
    kv.Add("BIG", "99999999999");
    kv.Add("WORD", "abc");
    kv.Add("H1", "0x0000BEEF");
    kv.Add("H2", "beef");
    kv.Add("T", "true");
    kv.Add("TWO", "2");
    kv.Add("D", "2.5e1x");
    kv.Add("EMPTY", "");
    EXPECT_EQ(kv.GetInt("I", 5), -12);
    EXPECT_EQ(kv.GetInt("BIG", 5), INT32_MAX);
    EXPECT_EQ(kv.GetInt("WORD", 5), 0);
    EXPECT_EQ(kv.GetInt("EMPTY", 7), 7);
    EXPECT_EQ(kv.GetHex("H1"), 0xBEEFu);
    EXPECT_EQ(kv.GetHex("H2"), 0xBEEFu);
    EXPECT_EQ(kv.GetHex("NONE", 0x55), 0x55u);
    EXPECT_FALSE(kv.GetBOOL("T", true));
    EXPECT_TRUE(kv.GetBOOL("TWO", false));
    EXPECT_TRUE(kv.GetBOOL("NONE2", true));
    EXPECT_DOUBLE_EQ(kv.GetDouble("D", 1.0), 25.0);
    EXPECT_DOUBLE_EQ(kv.GetDouble("NONE3", 1.5), 1.5);
    EXPECT_EQ(kv.GetString("NONE4", "dflt"), "dflt");
    EXPECT_EQ(kv.GetString("NONE4"), "");
}

TEST(SettingsTyped, WritersFormatValues) {
    KeyValueStore kv;
    kv.Add("I", -42);
    kv.Add("D", 1.5);
    kv.AddHex("H", 0xBEEF);
    kv.Add("S", std::string("text"));
    kv.Add("C", (const char*)nullptr);
    EXPECT_EQ(kv["I"], "-42");
    EXPECT_EQ(kv["D"], "1.500000");
    EXPECT_EQ(kv["H"], "0x0000BEEF");
    EXPECT_EQ(kv["S"], "text");
    EXPECT_EQ(kv["C"], "");
}

TEST(SettingsDirty, OnlyRealChangesCount) {
    KeyValueStore kv;
    EXPECT_TRUE(kv.Add("A", ""));
    EXPECT_FALSE(kv.IsDirty());
    kv.Add("A", "x");
    EXPECT_TRUE(kv.IsDirty());

    TempDir dir;
    kv.Save(dir / "s");
    EXPECT_FALSE(kv.IsDirty());
    kv.Add("A", "x");
    EXPECT_FALSE(kv.IsDirty());

    KeyValueStore other;
    EXPECT_TRUE(kv.Add(other));
    EXPECT_FALSE(kv.IsDirty());
    other.Add("B", "1");
    kv.Add(other);
    EXPECT_TRUE(kv.IsDirty());
    EXPECT_EQ(kv["B"], "1");

    kv.Save();
    EXPECT_TRUE(kv.Clear());
    EXPECT_TRUE(kv.IsDirty());
    EXPECT_TRUE(kv.Entries().empty());
}

TEST(SettingsDirty, TypedReadersEnterAbsentKeysWithoutMarkingDirty) {
    TempDir dir;
    KeyValueStore kv;
    kv.Save(dir / "s");
    kv.GetInt("X");
    kv.GetString("Y");
    EXPECT_FALSE(kv["Y"].has_value());
    EXPECT_FALSE(kv.IsDirty());
    kv.Save();
    EXPECT_EQ(ReadText(dir / "s"), "X=\n");
}

TEST(SettingsFile, MissingFileIsCreatedWithTwoStamps) {
    TempDir dir;
    LogCapture log;
    KeyValueStore kv(dir / ".settings");
    EXPECT_TRUE(log.Has("Attibutes: Error - cannot open attributes file: '" + dir / ".settings" +
                        "' (2)\n"));
    std::vector<std::string> lines = sLines(ReadText(dir / ".settings"));
    ASSERT_EQ(lines.size(), 2u);
    ASSERT_EQ(lines[0].rfind("CREATED_TIME=", 0), 0u) << lines[0];
    ASSERT_EQ(lines[1].rfind("UPDATED_TIME=", 0), 0u) << lines[1];
    std::string stamp = lines[0].substr(13);
    EXPECT_EQ(lines[1].substr(13), stamp);
    // ctime's form: "Wed Dec  9 16:20:44 2026"
    ASSERT_EQ(stamp.size(), 24u) << stamp;
    int day = 0, h = 0, m = 0, sec = 0, year = 0;
    char weekday[4] = {}, month[4] = {};
    EXPECT_EQ(
        sscanf(stamp.c_str(), "%3s %3s %d %d:%d:%d %d", weekday, month, &day, &h, &m, &sec, &year),
        7)
        << stamp;
    EXPECT_EQ(stamp[13], ':');
    EXPECT_EQ(stamp[16], ':');
    EXPECT_FALSE(kv.IsDirty());
}

TEST(SettingsFile, UnchangedSaveRewritesTheSameLines) {
    TempDir dir;
    WriteText(dir / "s", "B=2\nA=1\nUPDATED_TIME=Wed Dec  9 16:20:44 2026\n");
    KeyValueStore kv(dir / "s");
    kv.Save();
    EXPECT_EQ(ReadText(dir / "s"), "A=1\nB=2\nUPDATED_TIME=Wed Dec  9 16:20:44 2026\n");
    kv.Add("A", "3");
    kv.Save();
    EXPECT_NE(ReadText(dir / "s").find("A=3\nB=2\nUPDATED_TIME="), std::string::npos);
    EXPECT_NE(kv["UPDATED_TIME"], "Wed Dec  9 16:20:44 2026");
}

TEST(SettingsFile, DefaultFileNameWhenNoneGiven) {
    TempDir dir;
    char* saved = get_current_dir_name();
    std::string cwd = saved ? saved : "/";
    free(saved);
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    LogCapture log;
    KeyValueStore kv;
    kv.Add("K", "v");
    kv.Save();
    ASSERT_EQ(chdir(cwd.c_str()), 0);
    EXPECT_TRUE(
        log.Has("Attibutes: no filename given for attributes, using default:[.settings]\n"));
    EXPECT_NE(ReadText(dir / ".settings").find("K=v\n"), std::string::npos);
}

TEST(SettingsFile, SaveReplacesTheFileWholeAndLeavesNoTemporaries) {
    TempDir dir;
    WriteText(dir / "s", "OLD=1\n");
    ASSERT_EQ(link((dir / "s").c_str(), (dir / "before").c_str()), 0);
    KeyValueStore kv(dir / "s");
    kv.Add("NEW", "2");
    kv.Save();
    // The old inode still holds the old text: the new file was renamed over it, not
    // truncated and rewritten in place, so a crash never leaves a half file.
    EXPECT_EQ(ReadText(dir / "before"), "OLD=1\n");
    EXPECT_NE(ReadText(dir / "s").find("NEW=2\nOLD=1\n"), std::string::npos);
    EXPECT_EQ(sTempFiles(dir.path), 0);
}

TEST(SettingsFile, FailedSaveKeepsTheStoreDirtyAndLogs) {
    TempDir dir;
    LogCapture log;
    KeyValueStore kv;
    kv.Add("K", "v");
    kv.Save(dir / "missing/dir/s");
    EXPECT_TRUE(kv.IsDirty());
    EXPECT_TRUE(log.Has("Attibutes: Error - cannot open attributes file for writting: '" +
                        dir / "missing/dir/s" + "' (2)\n"));
}

TEST(SettingsFile, LineBreaksInValuesCannotForgeEntries) {
    TempDir dir;
    KeyValueStore kv;
    kv.Add("LATEST_TRANSFER", "/tmp/x.bird\nLATEST_DOWNLOAD=666.bird");
    kv.Save(dir / "s");
    KeyValueStore back(dir / "s");
    EXPECT_FALSE(back["LATEST_DOWNLOAD"].has_value());
    EXPECT_EQ(back["LATEST_TRANSFER"], "/tmp/x.bird LATEST_DOWNLOAD=666.bird");
}

TEST(SettingsFile, UnreadableFileIsNotOverwritten) {
    TempDir dir;
    WriteText(dir / "s", "KEEP=1\n");
    chmod((dir / "s").c_str(), 0200);
    // The store starts afresh (it is stamped) but never saves over the file.
    ASSERT_TRUE(sWithoutRootsReach(dir.path, [&] {
        KeyValueStore kv(dir / "s");
        return kv["CREATED_TIME"].has_value();
    }));
    chmod((dir / "s").c_str(), 0600);
    EXPECT_EQ(ReadText(dir / "s"), "KEEP=1\n");
}

TEST(SettingsFile, SaveKeepsTheFilesPermissionBits) {
    TempDir dir;
    WriteText(dir / "s", "A=1\n");
    chmod((dir / "s").c_str(), 0600);
    KeyValueStore kv(dir / "s");
    kv.Add("A", "2");
    kv.Save();
    struct stat st;
    ASSERT_EQ(stat((dir / "s").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}
