// Runs a program as a child process and collects what it printed.
#pragma once

#include <string>
#include <vector>

struct ToolResult {
    int status = -1; // exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

// environment entries ("NAME=value") are added to this process's environment.
ToolResult RunTool(const std::vector<std::string>& args,
                   const std::vector<std::string>& environment = {});
