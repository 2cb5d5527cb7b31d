// Common request steps: GET, status and "ok" checks, lines of the reply.
#pragma once

#include <map>
#include <string>
#include <vector>

// Runs the request named `name`; on success fills the non-empty lines of the
// body (the "ok" line first) and returns true. Logs every failure.
bool ServerReply_Run(const char* name, const std::string& url,
                     const std::map<std::string, std::string>& parameters,
                     std::vector<std::string>& lines);

// Body cut at "\n" with empty lines skipped.
std::vector<std::string> ServerReply_Lines(const std::string& body);

// Text up to the first "\r" or "\n".
std::string ServerReply_UntilLineEnd(const std::string& text);
