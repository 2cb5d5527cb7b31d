#include "aDiscovery.h"

#include <cstring>

#include "aDiscoveryInternal.h"

namespace {

bool sSameSerial(const linkSpec* found, const linkSpec* wanted) {
    return found->serialNumber == wanted->serialNumber;
}

uint8_t cbSNCallback(const linkSpec* lspec, bool* success, void* ref) {
    linkSpec* wanted = static_cast<linkSpec*>(ref);
    if (!sSameSerial(lspec, wanted)) return 1;
    memcpy(wanted, lspec, sizeof(linkSpec));
    *success = true;
    return 0;
}

uint8_t cbFirstCallback(const linkSpec* lspec, bool* success, void* ref) {
    if (lspec->serialNumber == 0) return 1;
    memcpy(ref, lspec, sizeof(linkSpec));
    *success = true;
    return 0;
}

linkSpec* sFind(linkType type, uint32_t serialNumber, uint32_t networkInterface,
                aDiscoveryModuleFoundProc callback) {
    linkSpec* lspec = aLinkSpec_Create(type);
    if (lspec == nullptr) return nullptr;
    lspec->serialNumber = serialNumber;
    lspec->module = 0;
    lspec->router = 0;
    if (aDiscovery_EnumerateModules(type, callback, lspec, networkInterface) == 0)
        aLinkSpec_Destroy(&lspec);
    return lspec;
}

} // namespace

uint8_t aDiscovery_EnumerateModules(linkType type, aDiscoveryModuleFoundProc callback, void* ref,
                                    uint32_t networkInterface) {
    (void)networkInterface; // only network discovery of shared modules needs it
    if (callback == nullptr) return 0;
    switch (type) {
    case USB:
        return aDiscovery_EnumerateUSB(callback, ref);
    case TCPIP:
        return aDiscovery_EnumerateTCPIP(callback, ref);
    default:
        // AETHER: modules shared by link servers are not announced yet.
        return 0;
    }
}

linkSpec* aDiscovery_FindModule(linkType type, uint32_t serialNumber, uint32_t networkInterface) {
    return sFind(type, serialNumber, networkInterface, cbSNCallback);
}

linkSpec* aDiscovery_FindFirstModule(linkType type, uint32_t networkInterface) {
    return sFind(type, 0, networkInterface, cbFirstCallback);
}
