// The Updater's download operations in process, with a display that records what it is told.
#include "BirdFile.h"
#include "BirdFixtures.h"
#include "ClientTestSupport.h"
#include "Updater.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <stdexcept>

namespace {

class RecordingDisplay : public UpdaterDisplayInterface {
  public:
    void display_progress(bool) override {}
    void update_progress(double, const char*) override {}
    void update_spinner(bool on, const char* label) override {
        events.push_back(std::string(on ? "spin " : "stop ") + label);
    }
    void info_message(const char* text) override { events.push_back(std::string("I ") + text); }
    void error_message(const char* text) override { events.push_back(std::string("E ") + text); }

    // Events with runs of "spin" folded into one, and how many there were.
    std::vector<std::string> folded(int* spins = nullptr) const {
        std::vector<std::string> out;
        int count = 0;
        for (const auto& e : events) {
            if (e.rfind("spin ", 0) == 0) count++;
            if (e.rfind("spin ", 0) == 0 && !out.empty() && out.back() == e) continue;
            out.push_back(e);
        }
        if (spins) *spins = count;
        return out;
    }
    std::vector<std::string> events;
};

class DownloadEngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        served.write(std::string(kSerialText) + "/12345.bird",
                     AsText(MakeBird(12345, "1.2.3", kSerial)));
        served.write(std::string(kSerialText) + "/100.bird",
                     AsText(MakeBird(100, "1.1.0", kSerial)));
    }
    std::string stored(const std::string& name) const {
        return store.path() + "/" + kSerialText + "/" + name;
    }

    ScratchDir served;
    ScratchDir store;
    RecordingDisplay display;
};

using Events = std::vector<std::string>;

} // namespace

TEST_F(DownloadEngineTest, LatestBuildIsFetchedWhileTheSpinnerTurns) {
    LocalUpdateServer server(served.path(),
                             {"--fault", "slow", "--fault-op", "bird", "--delay-ms", "800"});
    Updater updater(server.url().c_str(), store.path().c_str(), display);
    EXPECT_EQ(updater.Download_Firmware(kSerial, "", false, false), 12345u);
    int spins = 0;
    EXPECT_EQ(display.folded(&spins),
              (Events{"I Retrieving build 12345", "I Validating build 12345 with server",
                      "I Build 12345 is valid", "spin Downloading", "stop Downloading"}));
    EXPECT_GE(spins, 2) << "the spinner turns again while the reply is outstanding";
    EXPECT_EQ(ReadFile(stored("12345.bird")),
              ReadFile(served / (std::string(kSerialText) + "/12345.bird")));
}

TEST_F(DownloadEngineTest, LoadBirdReadsTheStoreAndDownloadsOnlyWhenAsked) {
    LocalUpdateServer server(served.path(), {"--quiet"});
    Updater updater(server.url().c_str(), store.path().c_str(), display);
    try {
        updater.load_bird("Updating", "", kSerial, 100, false);
        FAIL() << "no error for a build the store lacks";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Error reading birdfile");
    }
    EXPECT_FALSE(std::filesystem::exists(stored("100.bird")));

    display.events.clear();
    BirdFile file = updater.load_bird("Recovering", "", kSerial, 100, true);
    EXPECT_EQ(file.GetBuild(), 100u);
    EXPECT_EQ(display.folded(),
              (Events{"I Recovering firmware with build: 100", "I Downloading firmware build 100",
                      "I Retrieving build 100", "I Validating build 100 with server",
                      "I Build 100 is valid", "spin Downloading", "stop Downloading"}));

    display.events.clear();
    EXPECT_EQ(updater.load_bird("Updating", "", kSerial, 100, false).GetVersion(), "1.1.0");
    std::string path = served / (std::string(kSerialText) + "/12345.bird");
    EXPECT_EQ(updater.load_bird("Updating", path, kSerial, 0, false).GetBuild(), 12345u);
    EXPECT_EQ(display.events,
              (Events{"I Updating firmware with build: 100", "I Updating from Birdfile: " + path}));
}

TEST_F(DownloadEngineTest, StoreThatCannotBeOpenedIsReported) {
    store.write("plainfile", "x");
    std::string root = store / "plainfile";
    Updater updater("http://127.0.0.1:1/cgi/u", root.c_str(), display);
    EXPECT_TRUE(updater.Get_BuildListLocal(kSerial).empty());
    EXPECT_EQ(display.events,
              (Events{"E Failed to Create UpdaterStore in: Get_BuildListLocal - Exception: "
                      "UpdaterStore: " +
                      root + " exists and is a file"}));
}

TEST_F(DownloadEngineTest, BadArgumentsAskNoServer) {
    struct Case {
        uint32_t serial;
        const char* build;
        const char* shown;
    } cases[] = {
        {kSerial, "12a", "E Build number '12a' must be an number"},
        {kSerial, "-1", "E Build number '-1' must be an number"},
        {kSerial, "4294967296", "E Build number '4294967296' must be an number"},
        {0, "", "E Serial Number must be non-zero"},
    };
    // Nothing listens here: a request would add a server message.
    std::string url = "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/cgi/u";
    for (const auto& c : cases) {
        display.events.clear();
        Updater updater(url.c_str(), store.path().c_str(), display);
        EXPECT_EQ(updater.Download_Firmware(c.serial, c.build, false, false), 0u);
        EXPECT_EQ(display.events, Events{c.shown});
    }
}
