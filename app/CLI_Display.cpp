#include "CLI_Display.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int kBarWidth = 69;
constexpr int kClearWidth = 88;
constexpr char kBarRun[] = "=====================================================================";
static_assert(sizeof(kBarRun) - 1 == kBarWidth);

const char* const sFrames[8] = {".", "..", "...", "....", ".....", "....", "...", ".."};
// One animation position for every display in the process.
uint8_t sFrame = 0;

bool sOnTerminal() {
    return isatty(fileno(stdout)) == 1;
}

void sClearLine() {
    printf("\r%*s\r", kClearWidth, " ");
}

} // namespace

CLI_Display::CLI_Display() {
    // Progress drawing and messages must appear at once and in call order.
    setvbuf(stdout, nullptr, _IONBF, 0);
    setvbuf(stderr, nullptr, _IONBF, 0);
}

void CLI_Display::display_progress(bool on) {
    if (!sOnTerminal()) return;
    if (!on) sClearLine();
}

void CLI_Display::update_progress(double fraction, const char* label) {
    if (!sOnTerminal()) return;
    // Out-of-range or NaN fractions would make the precision negative or past the run.
    if (!(fraction >= 0.0)) fraction = 0.0;
    if (fraction > 1.0) fraction = 1.0;

    int width = kBarWidth;
    if (label) {
        // A label of 65 characters or more leaves no room: draw an empty bar.
        const size_t room = kBarWidth - 4;
        const size_t length = strlen(label);
        width = length >= room ? 0 : static_cast<int>(room - length);
    }
    const int filled = static_cast<int>(width * fraction);
    const int percent = static_cast<int>(fraction * 100);
    if (label)
        printf("\r (%s) [%.*s>%*s] (%3d%% ) ", label, filled, kBarRun, width - filled - 1, "",
               percent);
    else
        printf("\r[%.*s>%*s] (%3d%% ) ", filled, kBarRun, width - filled - 1, "", percent);
}

void CLI_Display::update_spinner(bool on, const char* label) {
    if (!sOnTerminal()) return;
    if (!on) {
        sClearLine();
        return;
    }
    if (label)
        printf("\r (%s) %s      \r", label, sFrames[sFrame]);
    else
        printf("\r %s      \r", sFrames[sFrame]);
    sFrame = (sFrame + 1) % 8;
}

void CLI_Display::info_message(const char* text) {
    fputs(text ? text : "", stdout);
    fputc('\n', stdout);
}

void CLI_Display::error_message(const char* text) {
    fputs(text ? text : "", stderr);
    fputc('\n', stderr);
}
