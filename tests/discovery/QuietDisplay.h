// A display that draws nothing and keeps the error messages to compare.
#pragma once

#include <string>
#include <vector>

#include "UpdaterDisplayInterface.h"

class QuietDisplay : public UpdaterDisplayInterface {
  public:
    void display_progress(bool) override {}
    void update_progress(double, const char*) override {}
    void update_spinner(bool, const char*) override {}
    void info_message(const char*) override {}
    void error_message(const char* text) override { errors.push_back(text); }
    std::vector<std::string> errors;
};
