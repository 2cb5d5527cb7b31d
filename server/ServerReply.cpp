#include "ServerReply.h"

#include "HTTPRequest.h"
#include "Log.h"

#include <exception>

std::vector<std::string> ServerReply_Lines(const std::string& body) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('\n', start);
        if (end == std::string::npos) end = body.size();
        if (end > start) lines.push_back(body.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string ServerReply_UntilLineEnd(const std::string& text) {
    return text.substr(0, text.find_first_of("\r\n"));
}

bool ServerReply_Run(const char* name, const std::string& url,
                     const std::map<std::string, std::string>& parameters,
                     std::vector<std::string>& lines) {
    try {
        HTTPResponse response = HTTPRequest::GET(url, parameters);
        if (response.get_status() != 200) {
            if (std::string(name) == "ping")
                Log::log(DEBUG_ServerComm, "PING ==> [%d] [%s]\n", (int)response.get_status(),
                         response.get_response().c_str());
            else
                Log::log(DEBUG_ServerComm, "%s ==> [%d] [%s]\n", name, (int)response.get_status(),
                         response.get_response().c_str());
            return false;
        }
        lines = ServerReply_Lines(response.get_response());
        if (lines.empty() || lines[0].compare(0, 2, "ok") != 0) {
            Log::log(DEBUG_ServerComm, "ServerCommClass: %s failed [%s]\n", name,
                     response.get_request().c_str());
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        Log::log(DEBUG_ServerComm, "%s ==> [%s]\n", name, e.what());
        return false;
    }
}
