// Where and how to reach one module. The record travels as 128 bytes inside
// discovery answers, so its layout is fixed: little-endian integers, the IPv4
// address in network byte order, unused bytes zero.
#pragma once

#include <cstddef>
#include <cstdint>

#include "aError.h"

typedef enum linkType : uint32_t {
    linkTypeAny = 0, // none; "any" in discovery requests
    USB = 1,
    TCPIP = 2,
    SERIAL = 3,
    AETHER = 4, // network client of a link server
} linkType;

#define aLINKSPEC_SIZE 128
#define aLINKSPEC_PORTNAME_SIZE 100

typedef struct linkSpec {
    uint32_t type; // linkType
    uint32_t serialNumber;
    uint32_t module; // even address; 0 when not yet read
    uint32_t router;
    uint32_t routerSerialNumber;
    uint32_t model;
    union {
        uint32_t ipAddress; // TCPIP, AETHER: network byte order
        uint32_t baudRate;  // SERIAL: bits per second
    };
    union {
        uint32_t ipPort;                        // TCPIP, AETHER
        char portName[aLINKSPEC_PORTNAME_SIZE]; // SERIAL: zero-terminated device path
    };
} linkSpec;

static_assert(sizeof(linkSpec) == aLINKSPEC_SIZE, "linkSpec travels as 128 bytes");
static_assert(offsetof(linkSpec, model) == 20 && offsetof(linkSpec, ipAddress) == 24 &&
                  offsetof(linkSpec, ipPort) == 28 && offsetof(linkSpec, portName) == 28,
              "linkSpec field offsets are part of the wire format");

linkSpec* aLinkSpec_Create(linkType type);
linkSpec* aLinkSpec_Copy(const linkSpec* lspec);
aErr aLinkSpec_Destroy(linkSpec** lspec);

// The 128-byte wire form, independent of host byte order.
aErr aLinkSpec_Serialize(const linkSpec* lspec, uint8_t out[aLINKSPEC_SIZE]);
// Rejects a SERIAL port name without its terminating zero.
aErr aLinkSpec_Parse(const uint8_t in[aLINKSPEC_SIZE], linkSpec* lspec);
