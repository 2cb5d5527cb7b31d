// Link construction, configuration and connection.
#include "LinkImpl.h"

#include <cstring>

#include "aDiscovery.h"
#include "aTime.h"

namespace Vazizori {
namespace Vuviridor {

namespace {

linkType sOtherType(linkType type) {
    return type == USB ? AETHER : USB;
}

bool sFallbackError(aErr error) {
    return error == aErrConnection || error == aErrNotFound || error == aErrInitialization;
}

struct ModelSearch {
    uint8_t model;
    linkSpec* found;
};

uint8_t sFirstOfModel(const linkSpec* lspec, bool* success, void* ref) {
    ModelSearch* search = static_cast<ModelSearch*>(ref);
    if (search->model != 0 && lspec->model != search->model) return 1;
    search->found = aLinkSpec_Copy(lspec);
    *success = search->found != nullptr;
    return 0;
}

} // namespace

std::mutex& linkCreateHelperSerializer() {
    static std::mutex serializer;
    return serializer;
}

Link::impl::impl(Link& owner_, const char* name_) : owner(owner_) {
    if (name_) name.assign(name_, strnlen(name_, LINK_NAME_MAX));
}

Link::impl::~impl() {
    if (linkId != 0) aLink_Destroy(&linkId);
    if (lspec) aLinkSpec_Destroy(&lspec);
}

bool Link::impl::connected() const {
    return linkId != 0 && aLink_GetStatus(linkId) == aLINK_RUNNING;
}

aErr Link::impl::checkExchange(uint8_t module) const {
    if (!connected()) return aErrConnection;
    if (module == 0 || (module & 1)) return aErrPacket;
    return aErrNone;
}

aErr Link::impl::put(aPacket* packet) {
    if (packet == nullptr) return aErrResource;
    aErr error = aLink_PutPacket(linkId, packet);
    aPacket_Destroy(&packet);
    return error;
}

aErr Link::impl::linkCreateHelper() {
    std::lock_guard<std::mutex> hold(linkCreateHelperSerializer());
    switch (lspec->type) {
    case USB:
        // Sharing a USB module through a link server is not built yet.
        if (config.enabled) return aErrUnimplemented;
        linkId = aLink_CreateUSB(lspec->serialNumber);
        return aErrNone;
    case TCPIP:
        linkId = aLink_CreateTCPIP(lspec->ipAddress, static_cast<uint16_t>(lspec->ipPort));
        return aErrNone;
    case SERIAL:
        linkId = aLink_CreateSerial(lspec->serialNumber, lspec->portName, lspec->baudRate);
        return aErrNone;
    case AETHER:
        if (!config.enabled) return aErrConfiguration;
        // Client links to a link server are not built yet.
        return aErrUnimplemented;
    default:
        return aErrMode;
    }
}

aErr Link::impl::waitForLink(int polls) {
    uint32_t status = aLink_GetStatus(linkId);
    switch (status) {
    case aLINK_STOPPED:
    case aLINK_STARTING:
    case aLINK_SYNCING:
        for (int i = 0; i < polls && status != aLINK_RUNNING; ++i) {
            aTime_MSSleep(LINK_WAIT_POLL_MS);
            status = aLink_GetStatus(linkId);
        }
        return status == aLINK_RUNNING ? aErrNone : aErrConnection;
    case aLINK_RUNNING:
        return aErrNone;
    case aLINK_STOPPING:
        return aErrBusy;
    case aLINK_NOSTREAM:
    case aLINK_IOERROR:
    case aLINK_PACKETERROR:
        return aErrConnection;
    default:
        return aErrDuplicate;
    }
}

aErr Link::impl::connectHelper() {
    if (lspec == nullptr) return aErrConfiguration;
    // A router's identifier is only borrowed until creation gives us our own use
    // of the link: a failed creation must never destroy the router's.
    linkId = 0;
    aErr error = linkCreateHelper();
    if (error != aErrNone) return error;
    if (linkId == 0) return aErrConnection;
    return waitForLink(LINK_WAIT_POLLS);
}

aErr Link::impl::discoveryAndConnectHelper(linkType type, uint32_t serialNumber, uint8_t model) {
    // The specifier of a link in use stays as it is.
    if (linkId != 0) return aErrConnection;
    linkSpec* found = nullptr;
    if (serialNumber == 0) {
        ModelSearch search = {model, nullptr};
        aDiscovery_EnumerateModules(type, sFirstOfModel, &search, config.networkInterface);
        found = search.found;
    } else {
        found = aDiscovery_FindModule(type, serialNumber, config.networkInterface);
    }
    if (found == nullptr) return aErrNotFound;
    if (lspec) aLinkSpec_Destroy(&lspec);
    lspec = found;
    return owner.connect();
}

Link::Link(const char* name) : state(new impl(*this, name)) {}

Link::Link(const linkSpec& lspec, const char* name) : state(new impl(*this, name)) {
    state->lspec = aLinkSpec_Copy(&lspec);
}

Link::~Link() {
    delete state;
}

aErr Link::getConfig(aEtherConfig* config) const {
    if (config == nullptr) return aErrParam;
    *config = state->config;
    return aErrNone;
}

aErr Link::setConfig(const aEtherConfig& config) {
    if (isConnected()) return aErrMode;
    state->config = config;
    return aErrNone;
}

const char* Link::getName() const {
    return state->name.c_str();
}

aErr Link::getLinkSpecifier(linkSpec* lspec) const {
    if (lspec == nullptr) return aErrParam;
    if (state->lspec == nullptr) return aErrNotFound;
    memcpy(lspec, state->lspec, sizeof(linkSpec));
    return aErrNone;
}

aErr Link::setLinkSpecifier(const linkSpec& lspec) {
    if (isConnected()) return aErrBusy;
    linkSpec* copy = aLinkSpec_Copy(&lspec);
    if (copy == nullptr) return aErrMemory;
    if (state->lspec) aLinkSpec_Destroy(&state->lspec);
    state->lspec = copy;
    return aErrNone;
}

aErr Link::connect() {
    if (state->linkId != 0) return aErrConnection;
    return state->connectHelper();
}

aErr Link::connectThroughLinkModule(Link& router) {
    if (router.state == nullptr || router.state->linkId == 0) return aErrInitialization;
    if (state->linkId != 0) return aErrConnection;
    state->linkId = router.state->linkId;
    return state->connectHelper();
}

aErr Link::discoverAndConnect(linkType type, uint32_t serialNumber, uint8_t model) {
    aErr error = state->discoveryAndConnectHelper(type, serialNumber, model);
    if (sFallbackError(error) && (type == USB || type == AETHER) && state->config.fallback)
        error = state->discoveryAndConnectHelper(sOtherType(type), serialNumber, model);
    return error;
}

bool Link::isConnected() const {
    return state->connected();
}

uint32_t Link::getStatus() const {
    if (state->linkId == 0) return aLINK_PACKETERROR;
    return aLink_GetStatus(state->linkId);
}

aErr Link::disconnect() {
    if (state->linkId != 0) aLink_Destroy(&state->linkId);
    state->linkId = 0;
    return aErrNone;
}

aErr Link::reset() {
    if (state->linkId != 0) aLink_Reset(state->linkId);
    return aErrNone;
}

aErr Link::enablePooledPackets(bool enable) {
    if (state->linkId == 0) return aErrConnection;
    return aLink_EnablePooledPackets(state->linkId, enable);
}

} // namespace Vuviridor
} // namespace Vazizori
