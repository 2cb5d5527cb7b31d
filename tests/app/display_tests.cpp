// CLI_Display drawn on a pseudo-terminal and on a plain file, and the diagnostic log.
#include <gtest/gtest.h>

#include <pty.h>
#include <termios.h>

#include <cmath>

#include "CLI_Display.h"
#include "ChildProcess.h"
#include "Log.h"

namespace {

// Log::fh is constant-initialised, so this sees its value before anything ran.
const bool sLogOutputUnsetAtStart = Log::fh == nullptr;

struct Drawn {
    std::string terminal; // what reached the pseudo-terminal (stdout)
    std::string err;
};

// Runs body in a child whose stdout is a raw pseudo-terminal.
Drawn DrawOnTerminal(const std::function<void(CLI_Display&)>& body) {
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return {};
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    const ChildResult r = RunForked(slave, [&] {
        close(master);
        CLI_Display display;
        body(display);
    });
    close(slave);
    Drawn drawn;
    drawn.err = r.err;
    char buffer[4096];
    ssize_t n;
    while ((n = read(master, buffer, sizeof(buffer))) > 0)
        drawn.terminal.append(buffer, n);
    close(master);
    return drawn;
}

std::string Chars(size_t n, char c) {
    return std::string(n, c);
}

const std::string kClear = "\r" + Chars(88, ' ') + "\r";

TEST(DisplayOnTerminal, ProgressBar) {
    EXPECT_EQ(DrawOnTerminal([](CLI_Display& d) { d.update_progress(0.5, nullptr); }).terminal,
              "\r[" + Chars(34, '=') + ">" + Chars(34, ' ') + "] ( 50% ) ");
    EXPECT_EQ(DrawOnTerminal([](CLI_Display& d) { d.update_progress(1.0, nullptr); }).terminal,
              "\r[" + Chars(69, '=') + "> ] (100% ) ");
    EXPECT_EQ(DrawOnTerminal([](CLI_Display& d) { d.update_progress(0.0, nullptr); }).terminal,
              "\r[>" + Chars(68, ' ') + "] (  0% ) ");
    // 69 - 5 - 4 = 60 places, 30 filled.
    EXPECT_EQ(DrawOnTerminal([](CLI_Display& d) { d.update_progress(0.5, "Flash"); }).terminal,
              "\r (Flash) [" + Chars(30, '=') + ">" + Chars(29, ' ') + "] ( 50% ) ");
}

TEST(DisplayOnTerminal, ProgressBarOutOfRangeInput) {
    const std::string empty = "\r[>" + Chars(68, ' ') + "] (  0% ) ";
    const std::string full = "\r[" + Chars(69, '=') + "> ] (100% ) ";
    EXPECT_EQ(DrawOnTerminal([](CLI_Display& d) { d.update_progress(-0.5, nullptr); }).terminal,
              empty);
    EXPECT_EQ(DrawOnTerminal([](CLI_Display& d) { d.update_progress(NAN, nullptr); }).terminal,
              empty);
    EXPECT_EQ(DrawOnTerminal([](CLI_Display& d) { d.update_progress(3.0, nullptr); }).terminal,
              full);
    // A label that leaves no room draws an empty bar whatever the fraction.
    const std::string label(65, 'L');
    for (double fraction : {0.0, 0.7, 1.0}) {
        char percent[8];
        snprintf(percent, sizeof(percent), "%3d", static_cast<int>(fraction * 100));
        EXPECT_EQ(DrawOnTerminal([&](CLI_Display& d) {
                      d.update_progress(fraction, label.c_str());
                  }).terminal,
                  "\r (" + label + ") [> ] (" + percent + "% ) ");
    }
}

TEST(DisplayOnTerminal, SpinnerFramesWrapAndClear) {
    const Drawn drawn = DrawOnTerminal([](CLI_Display& d) {
        for (int i = 0; i < 9; ++i)
            d.update_spinner(true, nullptr);
        d.update_spinner(false, nullptr);
        d.update_spinner(true, "Downloading"); // the counter kept its place
    });
    std::string expected;
    for (const char* frame : {".", "..", "...", "....", ".....", "....", "...", "..", "."})
        expected += std::string("\r ") + frame + "      \r";
    expected += kClear + "\r (Downloading) ..      \r";
    EXPECT_EQ(drawn.terminal, expected);
}

TEST(DisplayOnTerminal, ProgressStartDrawsNothingAndEndClears) {
    EXPECT_EQ(DrawOnTerminal([](CLI_Display& d) { d.display_progress(true); }).terminal, "");
    EXPECT_EQ(DrawOnTerminal([](CLI_Display& d) { d.display_progress(false); }).terminal, kClear);
}

TEST(DisplayOnTerminal, MessagesGoToTheirStreamsAndMutingSparesDrawing) {
    const Drawn drawn = DrawOnTerminal([](CLI_Display& d) {
        d.message(UpdaterDisplayInterface::LEVEL_INFO, "build %u", 42u);
        d.message(UpdaterDisplayInterface::LEVEL_ERROR, "failed %s", "here");
        d.mute_messages(true);
        d.message(UpdaterDisplayInterface::LEVEL_INFO, "dropped");
        d.message(UpdaterDisplayInterface::LEVEL_ERROR, "dropped");
        d.update_spinner(true, nullptr);
        d.mute_messages(false);
        d.message(UpdaterDisplayInterface::LEVEL_INFO, "back");
    });
    EXPECT_EQ(drawn.terminal, "build 42\n\r .      \rback\n");
    EXPECT_EQ(drawn.err, "failed here\n");
}

TEST(DisplayOnFile, NothingDrawnButMessagesStay) {
    TempDir dir;
    const std::string path = dir.path() + "/out";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const ChildResult r = RunForked(fd, [] {
        CLI_Display d;
        d.display_progress(true);
        d.update_progress(0.5, nullptr);
        d.update_progress(0.5, "Flash");
        d.update_spinner(true, "Downloading");
        d.update_spinner(false, "Downloading");
        d.display_progress(false);
        d.message(UpdaterDisplayInterface::LEVEL_INFO, "only this");
    });
    close(fd);
    EXPECT_EQ(ReadFile(path), "only this\n");
    EXPECT_EQ(r.err, "");
}

// Captures what Log writes during body.
std::string Logged(const std::function<void()>& body) {
    FILE* sink = tmpfile();
    if (!sink) return "<no tmpfile>";
    Log::SetOutput(sink);
    body();
    Log::SetOutput(nullptr);
    std::string text;
    rewind(sink);
    for (int c; (c = fgetc(sink)) != EOF;)
        text += static_cast<char>(c);
    fclose(sink);
    return text;
}

TEST(Log, MaskZeroAlwaysWritesOthersOnlyWhenActive) {
    Log::DeactivatePackage(0xFFFFFFFF);
    EXPECT_EQ(Logged([] {
                  Log::log(0, "always %d\n", 1);
                  Log::log(DEBUG_Network, "network\n");
                  Log::log(DEBUG_Network_Legacy, "legacy\n");
              }),
              "always 1\n");
    Log::ActivatePackage(DEBUG_Network);
    EXPECT_EQ(Logged([] {
                  Log::log(DEBUG_Network, "network\n");
                  Log::log(DEBUG_Network_Legacy, "legacy\n");
                  Log::log(DEBUG_Network | DEBUG_APP, "either\n");
                  Log::log(DEBUG_Updater, "no newline added");
              }),
              "network\neither\n");
    Log::DeactivatePackage(DEBUG_Network);
    EXPECT_EQ(Logged([] { Log::log(DEBUG_Network, "network\n"); }), "");
}

TEST(Log, LongLinesAreCut) {
    Log::DeactivatePackage(0xFFFFFFFF);
    const std::string line(5000, 'x');
    EXPECT_EQ(Logged([&] { Log::log(0, "%s", line.c_str()); }), std::string(2047, 'x'));
}

TEST(Log, DroppedBeforeOutputIsSet) {
    EXPECT_TRUE(sLogOutputUnsetAtStart);
    const ChildResult r = RunForked(STDERR_FILENO, [] {
        Log::SetOutput(nullptr);
        Log::log(0, "nowhere\n");
    });
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

} // namespace
