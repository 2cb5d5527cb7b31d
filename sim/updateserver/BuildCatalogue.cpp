#include "BuildCatalogue.h"

#include "BirdVersion.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace fs = std::filesystem;

namespace {

bool sAllDigits(const std::string& text, bool hex) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [hex](unsigned char c) {
        return hex ? isxdigit(c) != 0 : isdigit(c) != 0;
    });
}

std::string sBase64Url(const std::string& text) {
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (unsigned char c : text) {
        bits = bits << 8 | c;
        count += 8;
        while (count >= 6) {
            out += alphabet[(bits >> (count - 6)) & 0x3F];
            count -= 6;
        }
    }
    if (count > 0) out += alphabet[(bits << (6 - count)) & 0x3F];
    return out;
}

} // namespace

std::string BuildCatalogue::SerialText(const std::string& text) {
    if (text.size() != 8 || !sAllDigits(text, true)) return "";
    std::string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    return upper;
}

bool BuildCatalogue::HasDevice(const std::string& serial) const {
    std::error_code ec;
    return !serial.empty() && fs::is_directory(fs::path(root) / serial, ec);
}

std::vector<uint32_t> BuildCatalogue::Builds(const std::string& serial) const {
    std::vector<uint32_t> builds;
    if (!HasDevice(serial)) return builds;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path(root) / serial, ec)) {
        std::string name = entry.path().filename().string();
        if (name.size() <= 5 || name.compare(name.size() - 5, 5, ".bird") != 0) continue;
        std::string number = name.substr(0, name.size() - 5);
        if (!sAllDigits(number, false) || number.size() > 10) continue;
        unsigned long value = std::stoul(number);
        if (value > 0 && value <= UINT32_MAX && entry.is_regular_file(ec))
            builds.push_back((uint32_t)value);
    }
    std::sort(builds.begin(), builds.end());
    return builds;
}

std::map<std::string, std::string> BuildCatalogue::Meta(const std::string& serial) const {
    std::map<std::string, std::string> meta;
    std::ifstream file(fs::path(root) / serial / ".server");
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t eq = line.find('=');
        if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
        meta[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return meta;
}

std::string BuildCatalogue::Version(const std::string& serial, uint32_t build) const {
    auto meta = Meta(serial);
    auto it = meta.find("version." + std::to_string(build));
    if (it != meta.end()) return it->second;
    return BirdVersion_Read(BuildPath(serial, build));
}

uint32_t BuildCatalogue::Latest(const std::string& serial) const {
    auto meta = Meta(serial);
    auto it = meta.find("latest");
    if (it != meta.end() && sAllDigits(it->second, false)) return (uint32_t)std::stoul(it->second);
    std::vector<uint32_t> builds = Builds(serial);
    return builds.empty() ? 0 : builds.back();
}

std::string BuildCatalogue::FirmwareId(const std::string& serial) const {
    auto meta = Meta(serial);
    auto it = meta.find("fw");
    return it != meta.end() ? it->second : "std";
}

std::string BuildCatalogue::Token(const std::string& serial) const {
    auto meta = Meta(serial);
    auto it = meta.find("jwt");
    if (it != meta.end()) return it->second;
    // Unsigned stand-in: the tool only checks the token's form.
    return sBase64Url("{\"alg\":\"none\",\"typ\":\"JWT\"}") + "." +
           sBase64Url("{\"sn\":\"" + serial + "\",\"features\":[]}") + "." +
           sBase64Url("vzupdate-server");
}

std::string BuildCatalogue::BuildPath(const std::string& serial, uint32_t build) const {
    return (fs::path(root) / serial / (std::to_string(build) + ".bird")).string();
}

bool BuildCatalogue::Recovery(const std::string& fingerprint, uint32_t& serial,
                              uint32_t& build) const {
    unsigned w[4];
    if (sscanf(fingerprint.c_str(), "%8x %8x %8x %8x", &w[0], &w[1], &w[2], &w[3]) != 4)
        return false;
    std::ifstream file(fs::path(root) / ".recovery");
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream in(line);
        unsigned v[4], s;
        unsigned long b;
        if (!(in >> std::hex >> v[0] >> v[1] >> v[2] >> v[3] >> s >> std::dec >> b)) continue;
        if (v[0] == w[0] && v[1] == w[1] && v[2] == w[2] && v[3] == w[3]) {
            serial = s;
            build = (uint32_t)b;
            return true;
        }
    }
    return false;
}

bool BuildCatalogue::CannedReply(const std::string& serial, const std::string& op,
                                 std::string& body) const {
    if (op.empty() || op.find_first_of("/\\.") != std::string::npos) return false;
    fs::path dir = HasDevice(serial) ? fs::path(root) / serial : fs::path(root);
    std::ifstream file(dir / (".reply." + op), std::ios::binary);
    if (!file) return false;
    body.assign((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return true;
}
