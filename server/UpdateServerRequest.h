// The update server's query protocol: one GET per request, line-oriented replies.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

class UpdateServerRequest {
  public:
    // Used when a request is given no URL. The ".example" host never resolves,
    // so nothing leaves the machine unless a real server is named with -u.
    static constexpr const char* DEFAULT_URL = "http://updates.vazizori.example/cgi/u";

    using BuildMap = std::map<std::string, std::string>;
    using BuildEntry = std::pair<std::string, std::string>;

    static bool ping(const std::string& url = DEFAULT_URL);
    static bool QueryBuild(uint32_t serial, std::string& build, std::string& firmware,
                           const std::string& url = DEFAULT_URL);
    static bool GetBuild(uint32_t serial, const std::string& firmware, const std::string& build,
                         std::string& fileText, const std::string& url = DEFAULT_URL,
                         bool noCal = false);
    static bool GetBuildList(uint32_t serial, BuildMap& builds,
                             const std::string& url = DEFAULT_URL);
    static bool GetRecoveryInfo(const uint32_t fingerprint[4], uint32_t& serial, uint32_t& build,
                                const std::string& url = DEFAULT_URL);
    static bool GetDeviceJWT(uint32_t serial, std::string& token,
                             const std::string& url = DEFAULT_URL);

    // Newest version first; entries whose version is not three numbers go last.
    static std::vector<BuildEntry> SortBuildsByVersion(const BuildMap& builds);
    // Exactly three "."-separated parts (empty parts kept), or an empty list.
    static std::vector<std::string> SplitVuviridorVersion(const std::string& version);
    // True when a's version is newer than b's.
    static bool _sortVersion(const BuildEntry& a, const BuildEntry& b);
};
