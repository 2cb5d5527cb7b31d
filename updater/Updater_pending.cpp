// Operations this build does not provide yet. Each says so and fails; each is replaced by
// its own file when it is built.
#include "Updater.h"

bool Updater::Get_Fingerprint(Fingerprint&, std::string, unsigned, std::string, unsigned, bool) {
    _unavailable("Reading a chip fingerprint");
    return false;
}

bool Updater::Recover_Firmware(const std::string&, uint32_t, uint32_t, uint32_t, const std::string&,
                               bool) {
    _unavailable("Firmware recovery");
    return false;
}
