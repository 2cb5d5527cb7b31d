// Object-layer handle on one connection to one module (or to a router module
// through which other modules are reached). Never throws: results are aErr.
#pragma once

#include <cstddef>
#include <cstdint>

#include "aError.h"
#include "aLink.h"
#include "aUEI.h"

namespace Vazizori {
namespace Vuviridor {

// Network sharing of a link. The update engine switches it off before every
// connection; a default Link keeps it on.
struct aEtherConfig {
    bool enabled = true;
    bool fallback = true;
    bool localOnly = true;
    uint16_t port = 0;
    uint32_t networkInterface = 0x0100007F; // 127.0.0.1, network byte order
};

// Waits for replies, in milliseconds.
#define LINK_REPLY_WAIT_MS 1000
#define LINK_LARGE_REPLY_WAIT_MS 4000
#define LINK_LARGE_BYTES 1000

class Link {
  public:
    typedef bool (*PacketFilter)(const aPacket* packet, void* ref);

    explicit Link(const char* name);
    Link(const linkSpec& lspec, const char* name);
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    aErr getConfig(aEtherConfig* config) const;
    aErr setConfig(const aEtherConfig& config); // aErrMode while connected
    const char* getName() const;
    aErr getLinkSpecifier(linkSpec* lspec) const; // aErrNotFound when none is stored
    aErr setLinkSpecifier(const linkSpec& lspec); // aErrBusy while connected

    aErr connect();
    aErr connectThroughLinkModule(Link& router);
    aErr discoverAndConnect(linkType type, uint32_t serialNumber, uint8_t model);
    bool isConnected() const;
    uint32_t getStatus() const;
    aErr disconnect();
    aErr reset();
    aErr getModuleAddress(uint8_t* address);
    aErr enablePooledPackets(bool enable);

    aErr sendUEI(const uei& request);
    aErr sendUEI(const uei& request, uint8_t subindex);
    // The match key is the record itself (module, command, option, specifier);
    // the reply is decoded into it. An error reply is aErrNone with bit 7 set in
    // specifier and the code in value.error.
    aErr receiveUEI(uint8_t module, uint8_t command, uint8_t option, uint8_t index, uei* reply);
    aErr receiveUEI(uint8_t module, uint8_t command, uint8_t option, uint8_t index, uei* reply,
                    PacketFilter filter);
    aErr dropMatchingUEIPackets(uint8_t module, uint8_t command, uint8_t option, uint8_t index);

    // Data = command byte then length bytes; length 28 or more gives aErrParam.
    aErr sendPacket(uint8_t module, uint8_t command, size_t length, const uint8_t* data);
    // Waits for the first packet whose leading data bytes equal the *length match
    // bytes; then *length = its data size and buffer (28 bytes) gets its data.
    aErr receivePacket(uint8_t module, const uint8_t* match, size_t* length, uint8_t* buffer);

    struct impl;

  private:
    impl* state;
};

} // namespace Vuviridor
} // namespace Vazizori
