// What the local update server knows: a directory of BIRD files per device.
//
//   <root>/<SERIAL>/<build>.bird   one build (SERIAL: 8 upper-case hex digits)
//   <root>/<SERIAL>/.server        optional "key=value" lines:
//                                    latest=<build>         newest build (default: highest)
//                                    fw=<text>              firmware identifier (default "std")
//                                    jwt=<token>            device token (default: made up)
//                                    version.<build>=<text> version (default: BIRD info block)
//   <root>/<SERIAL>/.reply.<op>   optional canned reply body for that request, sent as it is
//   <root>/.reply.<op>            the same for requests without a known device ("hi", "fix")
//   <root>/.recovery               optional lines "W0 W1 W2 W3 SERIAL BUILD" (hex words,
//                                  hex serial number, decimal build) for recovery requests
//
// A local firmware store has the same layout, so a store can be served as it is.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class BuildCatalogue {
  public:
    explicit BuildCatalogue(std::string root) : root(std::move(root)) {}

    // Canonical "%08X" text, or empty when `text` is no serial number.
    static std::string SerialText(const std::string& text);

    bool HasDevice(const std::string& serial) const;
    std::vector<uint32_t> Builds(const std::string& serial) const;
    std::string Version(const std::string& serial, uint32_t build) const;
    // 0 when the device has no build.
    uint32_t Latest(const std::string& serial) const;
    std::string FirmwareId(const std::string& serial) const;
    std::string Token(const std::string& serial) const;
    std::string BuildPath(const std::string& serial, uint32_t build) const;
    // The canned body for `op`, if a file holds one.
    bool CannedReply(const std::string& serial, const std::string& op, std::string& body) const;
    // Looks up four words given as text separated by blanks.
    bool Recovery(const std::string& fingerprint, uint32_t& serial, uint32_t& build) const;

  private:
    std::map<std::string, std::string> Meta(const std::string& serial) const;
    std::string root;
};
