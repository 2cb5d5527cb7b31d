// Discovery flows: modules reachable directly over USB or TCP/IP, and the
// modules on the I2C network behind a router module; identity queries shared
// with the update flow. Discovery only reads.
#include <cstring>

#include "I2CClass.h"
#include "Log.h"
#include "Module.h"
#include "SystemClass.h"
#include "Updater.h"
#include "aDefs.h"
#include "aDiscovery.h"
#include "aVersion.h"

using namespace Vazizori::Vuviridor;

namespace {

const uint32_t kLocalInterface = 0x0100007F; // 127.0.0.1 as stored (network order)
const uint8_t kDefaultAddress = 2;
const uint8_t kFirstProbe = 2;
const uint8_t kLastProbe = 253;
const uint8_t kI2CSpeed = 3;
const uint8_t kInfoBuild = 0xFF;
const size_t kNameBuffer = 32;

uint8_t _discovered_device(const linkSpec* lspec, bool* success, void* ref) {
    DeviceInfo info;
    info.spec = *lspec;
    static_cast<std::vector<DeviceInfo>*>(ref)->push_back(info);
    *success = true;
    return 1;
}

struct LinkSearch {
    uint32_t serial;
    linkType found;
};

uint8_t _discovered_link(const linkSpec* lspec, bool* success, void* ref) {
    LinkSearch* search = static_cast<LinkSearch*>(ref);
    *success = true;
    if (lspec->serialNumber != search->serial) return 1;
    Log::log(DEBUG_Network, "NETWORK: Found device [%08X] via link type [%d]\n", search->serial,
             static_cast<int>(lspec->type));
    search->found = static_cast<linkType>(lspec->type);
    return 0;
}

// Reads what a connected module tells about itself into one entry.
void sIdentify(Module& module, DeviceInfo& info) {
    info.build_number = _get_build_number(module);
    info.error = _get_version(module, info);
    if (info.error == aErrNone) info.error = _get_device_name(module, info);
}

// A member of the router's network, probed at one I2C address; false when
// nobody usable answers there.
bool sProbeMember(Module& router, const linkSpec& routerSpec, uint32_t router_serial, linkType type,
                  uint8_t address, UpdaterDisplayInterface& display, DeviceInfo& info) {
    Log::log(DEBUG_Updater, "Attempt Connect on address: 0x%02x\n", address);
    Module member(address, false, 0);
    _disableEther(member, display);
    if (member.connectThroughLinkModule(&router) != aErrNone) return false;
    SystemClass system;
    system.init(&member, 0);
    uint32_t serial = 0;
    if (system.getSerialNumber(&serial) != aErrNone) {
        member.disconnect();
        return false;
    }
    Log::log(DEBUG_Updater, "Got Serial [0x%08X]\n", serial);
    const size_t transport = offsetof(linkSpec, ipAddress);
    memcpy(reinterpret_cast<uint8_t*>(&info.spec) + transport,
           reinterpret_cast<const uint8_t*>(&routerSpec) + transport, sizeof(linkSpec) - transport);
    info.spec.type = type;
    info.spec.serialNumber = serial;
    info.spec.router = router.getModuleAddress();
    info.spec.routerSerialNumber = router_serial;
    info.network_address = address;
    info.build_number = _get_build_number(member);
    info.error = _get_version(member, info);
    uint8_t model = 0;
    aErr error = system.getModel(&model);
    if (error != aErrNone) {
        info.error = error;
    } else {
        info.spec.model = model;
        info.model_name = aDefs_GetModelName(model);
    }
    member.disconnect();
    return true;
}

} // namespace

aErr _disableEther(Module& module, UpdaterDisplayInterface& display) {
    aEtherConfig config;
    config.enabled = false;  // no link server in front of a USB module
    config.fallback = false; // no retry over the other transport
    config.localOnly = true;
    config.port = 0;
    config.networkInterface = kLocalInterface;
    aErr error = module.setConfig(config);
    if (error != aErrNone)
        display.message(UpdaterDisplayInterface::LEVEL_ERROR,
                        "Failed to SET network configuration");
    return error;
}

uint32_t _get_build_number(Module& module) {
    Link* link = module.getLink();
    if (link == nullptr) return 0;
    const uint8_t address = module.getModuleAddress();
    const uint8_t request = kInfoBuild;
    if (link->sendPacket(address, cmdINFO, 1, &request) != aErrNone) return 0;
    const uint8_t match[] = {cmdINFO, kInfoBuild};
    uint8_t reply[aPACKET_MAXDATA];
    size_t length = sizeof(match);
    if (link->receivePacket(address, match, &length, reply) != aErrNone || length != 6) return 0;
    return static_cast<uint32_t>(reply[2]) << 24 | reply[3] << 16 | reply[4] << 8 | reply[5];
}

aErr _get_version(Module& module, DeviceInfo& info) {
    SystemClass system;
    system.init(&module, 0);
    uint32_t version = 0;
    aErr error = system.getVersion(&version);
    if (error != aErrNone) return error;
    info.version_major = aVersion_ParseMajor(version);
    info.version_minor = aVersion_ParseMinor(version);
    info.version_patch = aVersion_ParsePatch(version);
    uint8_t address = 0;
    if ((error = system.getModule(&address)) != aErrNone) return error;
    info.spec.module = address;
    if ((error = system.getRouter(&address)) != aErrNone) return error;
    info.spec.router = address;
    return aErrNone;
}

aErr _get_device_name(Module& module, DeviceInfo& info) {
    SystemClass system;
    system.init(&module, 0);
    uint8_t name[kNameBuffer];
    size_t received = 0;
    aErr error = system.getName(name, sizeof(name), &received);
    if (error == aErrNone) info.device_name.assign(reinterpret_cast<char*>(name), received);
    return error;
}

linkType _discover_link_type(uint32_t serial) {
    for (linkType type : {USB, TCPIP}) {
        LinkSearch search = {serial, linkTypeAny};
        aDiscovery_EnumerateModules(type, _discovered_link, &search, kLocalInterface);
        if (search.found != linkTypeAny) return search.found;
    }
    return linkTypeAny;
}

std::vector<DeviceInfo> Updater::Discover_Devices(linkType type) {
    std::vector<linkType> transports;
    if (type == linkTypeAny)
        transports = {USB, TCPIP};
    else
        transports = {type};
    std::vector<DeviceInfo> list;
    for (linkType transport : transports)
        aDiscovery_EnumerateModules(transport, _discovered_device, &list, kLocalInterface);

    for (DeviceInfo& info : list) {
        info.model_name = aDefs_GetModelName(info.spec.model);
        Module module(kDefaultAddress, 0);
        if (_disableEther(module, display) != aErrNone) continue;
        info.error = module.connectFromSpec(info.spec);
        if (info.error == aErrNone) sIdentify(module, info);
        module.disconnect();
    }
    return list;
}

std::vector<DeviceInfo> Updater::Discover_QBNetwork_Devices(uint32_t router_serial, linkType type) {
    const auto error_level = UpdaterDisplayInterface::LEVEL_ERROR;
    std::vector<DeviceInfo> list;
    if (type == linkTypeAny) type = _discover_link_type(router_serial);
    linkSpec* found = aDiscovery_FindModule(type, router_serial, kLocalInterface);
    if (found == nullptr) return list;
    linkSpec routerSpec = *found;
    aLinkSpec_Destroy(&found);

    Log::log(DEBUG_Updater, "Found Link Module");
    Module router(kDefaultAddress, 0);
    if (_disableEther(router, display) != aErrNone) return list;
    aErr error = router.connectFromSpec(routerSpec);
    if (error != aErrNone) {
        display.message(error_level, "Error %d on connectFromSpec", static_cast<int>(error));
        return list;
    }
    SystemClass routerSystem;
    routerSystem.init(&router, 0);
    if ((error = routerSystem.routeToMe(1)) != aErrNone) {
        display.message(error_level, "Error %d on route to me", static_cast<int>(error));
        router.disconnect();
        return list;
    }
    I2CClass i2c;
    i2c.init(&router, 0);
    i2c.setSpeed(kI2CSpeed);

    const uint8_t probe[2] = {0x00, 0x00};
    for (unsigned address = kFirstProbe; address <= kLastProbe; address += 2) {
        if (address == router.getModuleAddress()) continue;
        Log::log(DEBUG_Updater, "Searching Address 0x%02x\n", address);
        if (i2c.write(static_cast<uint8_t>(address), sizeof(probe), probe) != aErrNone) continue;
        DeviceInfo info;
        if (sProbeMember(router, routerSpec, router_serial, type, static_cast<uint8_t>(address),
                         display, info))
            list.push_back(info);
    }
    routerSystem.routeToMe(0);
    router.disconnect();
    return list;
}
