// Console implementation of the engine's display: info to stdout, errors to stderr,
// animations only when stdout is a terminal.
#pragma once

#include "UpdaterDisplayInterface.h"

class CLI_Display : public UpdaterDisplayInterface {
  public:
    CLI_Display();
    ~CLI_Display() = default;

    void display_progress(bool on) override;
    void update_progress(double fraction, const char* label) override;
    void update_spinner(bool on, const char* label) override;
    void info_message(const char* text) override;
    void error_message(const char* text) override;
};
