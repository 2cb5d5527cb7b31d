// One HTTP GET over libcurl; knows nothing of the update server's protocol.
#pragma once

#include "HTTPResponse.h"

#include <map>
#include <string>

// Transfer limits. A stalled server must not hang the tool forever, yet a large
// BIRD file on a slow link must still get through: the low-speed rule only ends
// a transfer that moved less than low_speed_bytes per second for
// low_speed_seconds in a row.
struct HTTPLimits {
    long connect_timeout_ms = 15000;
    long low_speed_bytes = 1;
    long low_speed_seconds = 60;
};

class HTTPRequest {
  public:
    // Throws std::runtime_error with libcurl's text on a failed transfer; any
    // completed transfer is returned whatever its status.
    static HTTPResponse GET(const std::string& url,
                            const std::map<std::string, std::string>& parameters);

    // base?k1=v1&k2=v2& in key order, nothing escaped; the base alone when empty.
    static std::string ComposeURL(const std::string& url,
                                  const std::map<std::string, std::string>& parameters);

    static HTTPLimits GetLimits();
    static void SetLimits(const HTTPLimits& limits);
};
