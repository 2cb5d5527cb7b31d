// Private state of a Link.
#pragma once

#include <mutex>
#include <string>

#include "Link.h"

namespace Vazizori {
namespace Vuviridor {

#define LINK_NAME_MAX 1024
#define LINK_WAIT_POLLS 200
#define LINK_WAIT_POLL_MS 10

struct Link::impl {
    explicit impl(Link& owner_, const char* name_);
    ~impl();

    aErr connectHelper();
    aErr linkCreateHelper();
    aErr waitForLink(int polls);
    aErr discoveryAndConnectHelper(linkType type, uint32_t serialNumber, uint8_t model);
    bool connected() const;
    // aErrConnection when not connected, aErrPacket for module 0 or odd.
    aErr checkExchange(uint8_t module) const;
    aErr put(aPacket* packet);

    Link& owner;
    uint32_t linkId = 0;
    aEtherConfig config;
    std::string name;
    linkSpec* lspec = nullptr;
};

// Held while a Link creates its procedural link.
std::mutex& linkCreateHelperSerializer();

} // namespace Vuviridor
} // namespace Vazizori
