// Transport enumerators behind aDiscovery_EnumerateModules.
#pragma once

#include "aDiscovery.h"

uint8_t aDiscovery_EnumerateUSB(aDiscoveryModuleFoundProc callback, void* ref);
uint8_t aDiscovery_EnumerateTCPIP(aDiscoveryModuleFoundProc callback, void* ref);

// Adds one accepted specifier to a count that stops at 255 instead of wrapping.
inline uint8_t aDiscovery_CountUp(uint8_t count) {
    return count == 255 ? count : count + 1;
}
