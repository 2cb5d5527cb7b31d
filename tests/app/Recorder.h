// A display that keeps every message, errors marked "E:", for comparing with
// what a command is expected to say.
#pragma once

#include <string>
#include <vector>

#include "UpdaterDisplayInterface.h"

class Recorder : public UpdaterDisplayInterface {
  public:
    void display_progress(bool) override {}
    void update_progress(double, const char*) override {}
    void update_spinner(bool, const char*) override {}
    void info_message(const char* text) override { lines.push_back(text); }
    void error_message(const char* text) override { lines.push_back(std::string("E:") + text); }

    std::vector<std::string> lines;
};
