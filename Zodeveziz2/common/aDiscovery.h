// Module discovery: which modules can be reached over a transport, one linkSpec
// per module handed to the caller's callback.
#pragma once

#include <cstdint>

#include "aError.h"
#include "aLinkSpec.h"

// TCP/IP discovery datagrams: request to the group, replies to the requester.
#define aDISCOVERY_GROUP "232.2.2.2"
#define aDISCOVERY_REQUEST_PORT 9888
#define aDISCOVERY_REPLY_PORT 9889
#define aDISCOVERY_DATAGRAM 16
#define aDISCOVERY_RECEIVE_TIMEOUT_MS 2000

// Called on the caller's thread with a specifier that is valid only during the
// call. Set *success to count it; return non-zero to go on, 0 to stop.
typedef uint8_t (*aDiscoveryModuleFoundProc)(const linkSpec* lspec, bool* success, void* ref);

// Number of specifiers the callback accepted (saturates at 255). The interface
// address (network byte order) is used for AETHER only.
uint8_t aDiscovery_EnumerateModules(linkType type, aDiscoveryModuleFoundProc callback, void* ref,
                                    uint32_t networkInterface);

// A new specifier owned by the caller (aLinkSpec_Destroy), or null.
linkSpec* aDiscovery_FindModule(linkType type, uint32_t serialNumber, uint32_t networkInterface);
// The first module found with a non-zero serial number, or null.
linkSpec* aDiscovery_FindFirstModule(linkType type, uint32_t networkInterface);
