// Module connection variants and address learning.
#include "Module.h"

#include <new>

#include "aTime.h"

namespace Vazizori {
namespace Vuviridor {

Module::Module(uint8_t address, uint8_t model_) : Module(address, true, model_) {}

Module::Module(uint8_t address, bool networkingMode_, uint8_t model_)
    : link(new (std::nothrow) Link("Link")), moduleAddress(address),
      networkingMode(networkingMode_), model(model_) {}

Module::~Module() {
    delete link;
}

aErr Module::connect(linkType type, uint32_t serialNumber) {
    if (serialNumber == 0) return aErrParam;
    return discoverAndConnect(type, serialNumber);
}

aErr Module::discoverAndConnect(linkType type, uint32_t serialNumber) {
    if (link == nullptr) return aErrInitialization;
    aErr error = link->discoverAndConnect(type, serialNumber, model);
    return error == aErrNone ? _autoNetwork() : error;
}

aErr Module::connectFromSpec(const linkSpec& lspec) {
    if (link == nullptr) return aErrInitialization;
    if (link->isConnected()) return aErrBusy;
    aErr error = link->setLinkSpecifier(lspec);
    if (error == aErrNone) error = link->connect();
    return error == aErrNone ? _autoNetwork() : error;
}

aErr Module::connectThroughLinkModule(Module* router) {
    if (link == nullptr) return aErrInitialization;
    if (link->isConnected()) return aErrNone;
    if (router == nullptr || router->link == nullptr) return aErrInitialization;
    linkSpec lspec;
    aErr error = router->link->getLinkSpecifier(&lspec);
    if (error != aErrNone) return error;
    aEtherConfig config;
    router->link->getConfig(&config);
    if ((error = setConfig(config)) != aErrNone) return error;
    if (config.enabled) {
        // Reach the router's link server as a client.
        lspec.type = AETHER;
        lspec.ipAddress = config.networkInterface;
        lspec.ipPort = config.port;
    }
    if ((error = link->setLinkSpecifier(lspec)) != aErrNone) return error;
    error = link->connectThroughLinkModule(*router->link);
    // The caller chose the address of the module behind the router: keep it.
    if (error == aErrNone) networkingMode = false;
    return error;
}

aErr Module::reconnect() {
    if (link == nullptr) return aErrInitialization;
    aErr error = link->connect();
    return error == aErrNone ? _autoNetwork() : error;
}

bool Module::isConnected() const {
    return link != nullptr && link->isConnected();
}

uint32_t Module::getStatus() const {
    return link ? link->getStatus() : 8;
}

aErr Module::disconnect() {
    if (link == nullptr) return aErrInitialization;
    return link->disconnect();
}

aErr Module::getLinkSpecifier(linkSpec* lspec) const {
    if (link == nullptr) return aErrNotReady;
    return link->getLinkSpecifier(lspec);
}

aErr Module::getConfig(aEtherConfig* config) const {
    if (link == nullptr) return aErrNotReady;
    if (config == nullptr) return aErrParam;
    return link->getConfig(config);
}

aErr Module::setConfig(const aEtherConfig& config) {
    if (link == nullptr) return aErrNotReady;
    return link->setConfig(config);
}

aErr Module::_autoNetwork() {
    if (!networkingMode || link == nullptr) return aErrNone;
    uint8_t address = 0;
    aErr error = aErrNotReady;
    for (int attempt = 0; attempt < MODULE_AUTONETWORK_TRIES; ++attempt) {
        error = link->getModuleAddress(&address);
        if (error == aErrNone && address != 0) break;
        aTime_MSSleep(MODULE_AUTONETWORK_PAUSE_MS);
        if (error != aErrNotReady) break;
    }
    if (error == aErrNone && address != 0 && address != moduleAddress) moduleAddress = address;
    return error;
}

} // namespace Vuviridor
} // namespace Vazizori
