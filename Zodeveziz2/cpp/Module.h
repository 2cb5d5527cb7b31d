// One module the host talks to: owns its Link, knows the address its packets
// carry, and adds the module-wide operations. Never throws: results are aErr.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Link.h"

namespace Vazizori {
namespace Vuviridor {

#define MODULE_AUTONETWORK_TRIES 4
#define MODULE_AUTONETWORK_PAUSE_MS 5
#define MODULE_DEBUG_MAX 27

class Module {
  public:
    Module(uint8_t address, uint8_t model);
    Module(uint8_t address, bool networkingMode, uint8_t model);
    virtual ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    aErr connect(linkType type, uint32_t serialNumber);
    aErr discoverAndConnect(linkType type, uint32_t serialNumber);
    aErr connectFromSpec(const linkSpec& lspec);
    aErr connectThroughLinkModule(Module* router);
    aErr reconnect();
    bool isConnected() const;
    uint32_t getStatus() const;
    aErr disconnect();

    uint8_t getModuleAddress() const { return moduleAddress; }
    void setModuleAddress(uint8_t address) { moduleAddress = address; }
    Link* getLink() const { return link; }
    aErr getLinkSpecifier(linkSpec* lspec) const;
    aErr getConfig(aEtherConfig* config) const;
    aErr setConfig(const aEtherConfig& config);
    void setNetworkingMode(bool mode) { networkingMode = mode; }
    aErr _autoNetwork();

    aErr getBuild(uint32_t* build);
    // 0 when the module implements that UEI with that access (flags 0, 0x40
    // get or 0x80 set), else the module's status byte.
    aErr hasUEI(uint8_t command, uint8_t option, uint8_t index, uint8_t flags);
    aErr classQuantity(uint8_t entityClass, uint8_t* count);
    aErr subClassQuantity(uint8_t entityClass, uint8_t index, uint8_t* count);
    aErr entityGroup(uint8_t entityClass, uint8_t index, uint8_t* group);
    // Echo test: the module must send back exactly the bytes sent.
    aErr debug(const uint8_t* data, size_t length);

  private:
    aErr infoQuery(const uint8_t* request, size_t requestLength, size_t matchLength, uint8_t* reply,
                   size_t* replyLength);

    Link* link;
    uint8_t moduleAddress;
    bool networkingMode;
    uint8_t model;
};

} // namespace Vuviridor
} // namespace Vazizori
