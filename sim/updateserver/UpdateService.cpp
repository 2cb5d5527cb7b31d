#include "UpdateService.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

std::string sBase64(const std::string& bytes) {
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        uint32_t g = (uint8_t)bytes[i] << 16 | (uint8_t)bytes[i + 1] << 8 | (uint8_t)bytes[i + 2];
        out += alphabet[g >> 18];
        out += alphabet[(g >> 12) & 63];
        out += alphabet[(g >> 6) & 63];
        out += alphabet[g & 63];
    }
    size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t g = (uint8_t)bytes[i] << 16 | (rest > 1 ? (uint8_t)bytes[i + 1] << 8 : 0);
        out += alphabet[g >> 18];
        out += alphabet[(g >> 12) & 63];
        out += rest > 1 ? alphabet[(g >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string sGet(const std::map<std::string, std::string>& query, const char* key) {
    auto it = query.find(key);
    return it == query.end() ? "" : it->second;
}

std::string sRefuse(const std::string& why) {
    return "error " + why + "\n";
}

std::string sBuild(const BuildCatalogue& catalogue, const std::string& serial,
                   const std::string& bld, Fault fault) {
    if (bld.empty() || bld.size() > 10 || bld.find_first_not_of("0123456789") != std::string::npos)
        return sRefuse("bad build");
    std::ifstream file(catalogue.BuildPath(serial, (uint32_t)std::stoul(bld)), std::ios::binary);
    if (!file) return sRefuse("unknown build");
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (fault == Fault::Truncate) bytes.resize(bytes.size() / 2);
    std::string text = sBase64(bytes);
    if (fault == Fault::BadBase64 && text.size() >= 8) text[text.size() / 2] = '*';
    return "ok\n" + text + "\n";
}

std::string sAnswer(const BuildCatalogue& catalogue,
                    const std::map<std::string, std::string>& query, Fault fault) {
    std::string op = sGet(query, "op");
    std::string serial = BuildCatalogue::SerialText(sGet(query, "sn"));
    std::string canned;
    if (catalogue.CannedReply(serial, op, canned)) return canned;
    if (op == "hi") return "ok\n";
    if (op == "fix") {
        uint32_t sn = 0, build = 0;
        if (!catalogue.Recovery(sGet(query, "fp"), sn, build))
            return sRefuse("unknown fingerprint");
        char text[64];
        snprintf(text, sizeof(text), "ok\n%08X\n%u\n", sn, build);
        return text;
    }
    if (op != "qu" && op != "bird" && op != "builds" && op != "ent_jwt")
        return sRefuse("unknown request");
    if (!catalogue.HasDevice(serial)) return sRefuse("unknown device");
    if (op == "qu") {
        uint32_t latest = catalogue.Latest(serial);
        if (latest == 0) return sRefuse("no build");
        return "ok\n" + std::to_string(latest) + "\n" + catalogue.FirmwareId(serial) + "\n";
    }
    if (op == "bird") return sBuild(catalogue, serial, sGet(query, "bld"), fault);
    if (op == "builds") {
        std::string body = "ok\n";
        for (uint32_t build : catalogue.Builds(serial))
            body += std::to_string(build) + ";" + catalogue.Version(serial, build) + "\n";
        return body;
    }
    return "ok\n" + catalogue.Token(serial) + "\n";
}

} // namespace

bool Fault_Parse(const std::string& name, Fault& fault) {
    static const std::map<std::string, Fault> names = {
        {"none", Fault::None},
        {"404", Fault::Status404},
        {"500", Fault::Status500},
        {"no-ok", Fault::NoOk},
        {"missing-lines", Fault::MissingLines},
        {"slow", Fault::Slow},
        {"stall", Fault::Stall},
        {"truncate", Fault::Truncate},
        {"bad-base64", Fault::BadBase64},
    };
    auto it = names.find(name);
    if (it == names.end()) return false;
    fault = it->second;
    return true;
}

ServiceReply UpdateService_Handle(const BuildCatalogue& catalogue,
                                  const std::map<std::string, std::string>& query,
                                  const FaultSwitch& faults) {
    ServiceReply reply;
    bool hit = faults.op.empty() || faults.op == sGet(query, "op");
    Fault fault = hit ? faults.fault : Fault::None;
    switch (fault) {
    case Fault::Status404:
        reply.status = 404;
        reply.body = "not found\n";
        return reply;
    case Fault::Status500:
        reply.status = 500;
        reply.body = "server error\n";
        return reply;
    case Fault::MissingLines:
        reply.body = "ok\n";
        return reply;
    default:
        break;
    }
    reply.body = sAnswer(catalogue, query, fault);
    if (fault == Fault::NoOk) {
        size_t eol = reply.body.find('\n');
        reply.body = "nok" + (eol == std::string::npos ? "\n" : reply.body.substr(eol));
    }
    if (fault == Fault::Slow) reply.delay_ms = faults.delay_ms;
    if (fault == Fault::Stall) reply.stall_ms = faults.delay_ms;
    return reply;
}
