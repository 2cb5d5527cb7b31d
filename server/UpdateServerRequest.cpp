#include "UpdateServerRequest.h"

#include "Log.h"
#include "ServerReply.h"
#include "aVersion.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

std::string sHex(uint32_t value) {
    char text[16];
    snprintf(text, sizeof(text), "%08X", value);
    return text;
}

void sTrimCR(std::string& text) {
    while (!text.empty() && text.back() == '\r')
        text.pop_back();
}

// The three version numbers as 8-bit values; false (logged) when not three numbers.
bool sParseVersion(const std::string& text, uint8_t out[3]) {
    std::vector<std::string> parts = UpdateServerRequest::SplitVuviridorVersion(text);
    if (parts.size() != 3) return false;
    try {
        for (int i = 0; i < 3; i++)
            out[i] = (uint8_t)std::stoi(parts[i]);
    } catch (const std::exception& e) {
        Log::log(DEBUG_ServerComm, "%s: Exception converting version: %s\n", "_sortVersion",
                 e.what());
        return false;
    }
    return true;
}

bool sNewer(const uint8_t a[3], const uint8_t b[3]) {
    return !aVersion_IsAtLeastCompare(b[0], b[1], b[2], a[0], a[1], a[2]);
}

// The firmware identifier comes from the server's own reply and goes back into a
// query that is not escaped: anything but URL-safe characters is percent-encoded
// so that it cannot add or change parameters. "%" passes, as the text may be encoded already.
std::string sQueryValue(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '%') {
            out += (char)c;
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool sIsTokenPart(const std::string& part) {
    if (part.size() < 2) return false;
    return std::all_of(part.begin(), part.end(), [](unsigned char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == '=';
    });
}

} // namespace

bool UpdateServerRequest::ping(const std::string& url) {
    std::vector<std::string> lines;
    return ServerReply_Run("ping", url, {{"op", "hi"}, {"rv", "2"}}, lines);
}

bool UpdateServerRequest::QueryBuild(uint32_t serial, std::string& build, std::string& firmware,
                                     const std::string& url) {
    std::vector<std::string> lines;
    if (!ServerReply_Run("QueryBuild", url, {{"op", "qu"}, {"sn", sHex(serial)}}, lines))
        return false;
    if (lines.size() > 1) {
        build = lines[1];
        sTrimCR(build);
    }
    if (lines.size() > 2) firmware = ServerReply_UntilLineEnd(lines[2]);
    return true;
}

bool UpdateServerRequest::GetBuild(uint32_t serial, const std::string& firmware,
                                   const std::string& build, std::string& fileText,
                                   const std::string& url, bool noCal) {
    std::vector<std::string> lines;
    std::map<std::string, std::string> parameters = {{"bld", build},
                                                     {"fw", sQueryValue(firmware)},
                                                     {"no_cal", noCal ? "true" : "false"},
                                                     {"op", "bird"},
                                                     {"sn", sHex(serial)}};
    if (!ServerReply_Run("GetBuild", url, parameters, lines)) return false;
    fileText.clear();
    if (lines.size() > 1) {
        fileText = lines[1];
        sTrimCR(fileText);
    }
    return true;
}

bool UpdateServerRequest::GetBuildList(uint32_t serial, BuildMap& builds, const std::string& url) {
    const char* name = "GetBuildList";
    builds.clear();
    std::vector<std::string> lines;
    if (!ServerReply_Run(name, url, {{"op", "builds"}, {"sn", sHex(serial)}}, lines)) return false;
    for (size_t i = 1; i < lines.size(); i++) {
        if (lines[i].size() < 3) continue;
        Log::log(DEBUG_ServerComm, "%s processing entry: [%s]\n", name, lines[i].c_str());
        std::string entry = ServerReply_UntilLineEnd(lines[i]);
        size_t cut = entry.find(';');
        std::string build = entry.substr(0, cut);
        std::string version = cut == std::string::npos ? "" : entry.substr(cut + 1);
        version = version.substr(0, version.find(';'));
        if (build.empty()) continue;
        builds.emplace(build, version);
        Log::log(DEBUG_ServerComm, "%s [%.10s][%.10s]\n", name, build.c_str(), version.c_str());
    }
    return true;
}

bool UpdateServerRequest::GetRecoveryInfo(const uint32_t fingerprint[4], uint32_t& serial,
                                          uint32_t& build, const std::string& url) {
    const char* name = "GetRecoveryInfo";
    char fp[64];
    snprintf(fp, sizeof(fp), "%08X%%20%08X%%20%08X%%20%08X", fingerprint[0], fingerprint[1],
             fingerprint[2], fingerprint[3]);
    std::vector<std::string> lines;
    if (!ServerReply_Run(name, url, {{"brief", "true"}, {"fp", fp}, {"op", "fix"}}, lines))
        return false;
    if (lines.size() > 1) serial = (uint32_t)strtoul(lines[1].c_str(), nullptr, 16);
    if (lines.size() > 2) build = (uint32_t)strtoul(lines[2].c_str(), nullptr, 0);
    Log::log(DEBUG_ServerComm, "%s [%.20s][%.20s][%.20s]\n", name, lines[0].c_str(),
             lines.size() > 1 ? lines[1].c_str() : "", lines.size() > 2 ? lines[2].c_str() : "");
    return true;
}

bool UpdateServerRequest::GetDeviceJWT(uint32_t serial, std::string& token,
                                       const std::string& url) {
    const char* name = "GetDeviceJWT";
    std::vector<std::string> lines;
    if (!ServerReply_Run(name, url, {{"json", "false"}, {"op", "ent_jwt"}, {"sn", sHex(serial)}},
                         lines))
        return false;
    if (lines.size() < 2 || lines[1].size() <= 2) return false;
    Log::log(DEBUG_ServerComm, "%s processing entry: [%s]\n", name, lines[1].c_str());
    std::string text = ServerReply_UntilLineEnd(lines[1]);
    size_t first = text.find('.');
    if (first == std::string::npos) return false;
    size_t second = text.find('.', first + 1);
    if (second == std::string::npos) return false;
    std::string header = text.substr(0, first);
    std::string payload = text.substr(first + 1, second - first - 1);
    std::string signature = text.substr(second + 1);
    // The token is printed as it came: only the URL-safe base64 alphabet passes.
    if (!sIsTokenPart(header) || !sIsTokenPart(payload) || !sIsTokenPart(signature)) return false;
    token = header + "." + payload + "." + signature;
    return true;
}

std::vector<std::string> UpdateServerRequest::SplitVuviridorVersion(const std::string& version) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t dot = version.find('.', start);
        parts.push_back(version.substr(start, dot == std::string::npos ? dot : dot - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    if (parts.size() != 3) parts.clear();
    return parts;
}

bool UpdateServerRequest::_sortVersion(const BuildEntry& a, const BuildEntry& b) {
    uint8_t va[3], vb[3];
    if (!sParseVersion(a.second, va) || !sParseVersion(b.second, vb)) return false;
    return sNewer(va, vb);
}

std::vector<UpdateServerRequest::BuildEntry>
UpdateServerRequest::SortBuildsByVersion(const BuildMap& builds) {
    // _sortVersion alone is no strict weak ordering once a version is malformed,
    // and std::sort may then run off the list; parse once and keep such entries last.
    struct Keyed {
        BuildEntry entry;
        bool valid;
        uint8_t version[3];
    };
    std::vector<Keyed> keyed;
    for (const auto& pair : builds) {
        Keyed k{pair, false, {0, 0, 0}};
        k.valid = sParseVersion(pair.second, k.version);
        keyed.push_back(k);
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        if (a.valid != b.valid) return a.valid;
        return a.valid && sNewer(a.version, b.version);
    });
    std::vector<BuildEntry> sorted;
    for (const auto& k : keyed)
        sorted.push_back(k.entry);
    return sorted;
}
