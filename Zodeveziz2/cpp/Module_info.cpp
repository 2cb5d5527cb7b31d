// Direct queries to a module: build number, UEI capability, entity counts and
// the echo test.
#include <cstring>

#include "Module.h"
#include "aUEI.h"

namespace Vazizori {
namespace Vuviridor {

namespace {

enum : uint8_t {
    kInfoUEI = 1,
    kInfoClass = 4,
    kInfoSubClass = 5,
    kInfoGroup = 6,
    kInfoBuild = 0xFF
};
const uint8_t kFlagsGet = 0x40;
const uint8_t kFlagsSet = 0x80;

} // namespace

// Sends request (command byte first) and waits for the reply that starts with
// its first matchLength bytes.
aErr Module::infoQuery(const uint8_t* request, size_t requestLength, size_t matchLength,
                       uint8_t* reply, size_t* replyLength) {
    if (link == nullptr || !link->isConnected()) return aErrConnection;
    aErr error = link->sendPacket(moduleAddress, request[0], requestLength - 1, request + 1);
    if (error != aErrNone) return error;
    *replyLength = matchLength;
    return link->receivePacket(moduleAddress, request, replyLength, reply);
}

aErr Module::getBuild(uint32_t* build) {
    if (build == nullptr) return aErrParam;
    if (link == nullptr) return aErrInitialization;
    if (!link->isConnected()) return aErrConnection;
    const uint8_t request[] = {cmdINFO, kInfoBuild};
    uint8_t reply[aPACKET_MAXDATA];
    size_t length = 0;
    aErr error = infoQuery(request, sizeof(request), 2, reply, &length);
    if (error != aErrNone) return error;
    if (length != 6) return aErrSize;
    *build = aUEI_RetrieveInt(reply + 2);
    return aErrNone;
}

aErr Module::hasUEI(uint8_t command, uint8_t option, uint8_t index, uint8_t flags) {
    if ((flags & 0x3F) != 0 || (flags & (kFlagsGet | kFlagsSet)) == (kFlagsGet | kFlagsSet))
        return aErrParam;
    const uint8_t request[] = {cmdINFO, kInfoUEI, command, option, index, flags};
    uint8_t reply[aPACKET_MAXDATA];
    size_t length = 0;
    aErr error = infoQuery(request, sizeof(request), 1, reply, &length);
    if (error != aErrNone) return error;
    if (length != 6 || reply[1] != kInfoUEI || reply[2] != command || reply[3] != option ||
        reply[4] != index)
        return aErrUnknown;
    return reply[5];
}

aErr Module::classQuantity(uint8_t entityClass, uint8_t* count) {
    if (count) *count = 0;
    const uint8_t request[] = {cmdINFO, kInfoClass, entityClass};
    uint8_t reply[aPACKET_MAXDATA];
    size_t length = 0;
    aErr error = infoQuery(request, sizeof(request), 1, reply, &length);
    if (error != aErrNone) return error;
    if (length != 4 || reply[1] != kInfoClass || reply[2] != entityClass) return aErrUnknown;
    if (count) *count = reply[3];
    return aErrNone;
}

aErr Module::subClassQuantity(uint8_t entityClass, uint8_t index, uint8_t* count) {
    if (count) *count = 0;
    const uint8_t request[] = {cmdINFO, kInfoSubClass, entityClass, index};
    uint8_t reply[aPACKET_MAXDATA];
    size_t length = 0;
    aErr error = infoQuery(request, sizeof(request), 1, reply, &length);
    if (error != aErrNone) return error;
    if (length != 5 || reply[1] != kInfoSubClass || reply[2] != entityClass || reply[3] != index)
        return aErrUnknown;
    if (count) *count = reply[4];
    return aErrNone;
}

aErr Module::entityGroup(uint8_t entityClass, uint8_t index, uint8_t* group) {
    if (group) *group = 0;
    const uint8_t request[] = {cmdINFO, kInfoGroup, entityClass, index};
    uint8_t reply[aPACKET_MAXDATA];
    size_t length = 0;
    aErr error = infoQuery(request, sizeof(request), 1, reply, &length);
    if (error != aErrNone) return error;
    if (length != 5 || reply[1] != kInfoGroup || reply[2] != entityClass || reply[3] != index)
        return aErrUnknown;
    if (group) *group = reply[4];
    return aErrNone;
}

aErr Module::debug(const uint8_t* data, size_t length) {
    if (length > MODULE_DEBUG_MAX || (length > 0 && data == nullptr)) return aErrParam;
    uint8_t request[aPACKET_MAXDATA];
    request[0] = cmdDEBUG;
    if (length > 0) memcpy(request + 1, data, length);
    uint8_t reply[aPACKET_MAXDATA];
    size_t replyLength = 0;
    aErr error = infoQuery(request, length + 1, 1, reply, &replyLength);
    if (error != aErrNone) return error;
    if (replyLength != length + 1 || (length > 0 && memcmp(reply + 1, data, length) != 0))
        return aErrIO;
    return aErrNone;
}

} // namespace Vuviridor
} // namespace Vazizori
