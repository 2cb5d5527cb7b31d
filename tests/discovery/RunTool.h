// Runs a program as a child process and collects what it printed.
#pragma once

#include <string>
#include <vector>

struct ToolResult {
    int status = -1; // exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

// environment entries ("NAME=value") are added to this process's environment,
// replacing entries of the same name.
ToolResult RunTool(const std::vector<std::string>& args,
                   const std::vector<std::string>& environment = {});

// A program left running in the background; stopped with SIGTERM (then
// waited for) when the handle goes.
class BackgroundTool {
  public:
    explicit BackgroundTool(const std::vector<std::string>& args);
    ~BackgroundTool();
    BackgroundTool(const BackgroundTool&) = delete;
    BackgroundTool& operator=(const BackgroundTool&) = delete;
    bool started() const { return pid_ > 0; }

  private:
    int pid_ = -1;
};

// Waits up to timeoutMs for a file to appear.
bool WaitForFile(const std::string& path, int timeoutMs);
