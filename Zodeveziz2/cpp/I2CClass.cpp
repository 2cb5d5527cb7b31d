#include "I2CClass.h"

#include <cstring>

namespace Vazizori {
namespace Vuviridor {

namespace {
const size_t kReplyHeader = 5; // class, index, address, count, status
const uint8_t kPullup = 1;
} // namespace

void I2CClass::init(Module* module, uint8_t index) {
    EntityClass::init(module, cmdI2C, index);
    speed = 0;
}

// Sends request (class byte first), waits for the reply that starts with the
// match bytes and turns the status byte into the result.
aErr I2CClass::transfer(const uint8_t* request, size_t requestLength, const uint8_t* match,
                        size_t matchLength, uint8_t* reply, size_t* replyLength) {
    aErr error = sendPacket(request[0], requestLength - 1, request + 1);
    if (error != aErrNone) return error;
    *replyLength = matchLength;
    error = receivePacket(match, replyLength, reply);
    if (error != aErrNone) return error;
    if (*replyLength < kReplyHeader) return aErrPacket;
    if (reply[4] & 0x80) return reply[4] & 0x7F;
    return aErrNone;
}

aErr I2CClass::read(uint8_t address, size_t length, uint8_t* buffer) {
    if (length > I2C_MAX_TRANSFER) return aErrSize;
    if (buffer == nullptr && length > 0) return aErrParam;
    const uint8_t request[] = {cmdI2C, getIndex(), static_cast<uint8_t>(address | 1),
                               static_cast<uint8_t>(length), speed};
    uint8_t reply[aPACKET_MAXDATA];
    size_t replyLength = 0;
    aErr error = transfer(request, sizeof(request), request, 3, reply, &replyLength);
    if (error != aErrNone) return error;
    size_t count = reply[3];
    // A count beyond the packet or the caller's buffer is a broken reply.
    if (count > length || count > replyLength - kReplyHeader) return aErrSize;
    if (count > 0) memcpy(buffer, reply + kReplyHeader, count);
    return aErrNone;
}

aErr I2CClass::write(uint8_t address, size_t length, const uint8_t* data) {
    if (length > I2C_MAX_TRANSFER) return aErrSize;
    if (data == nullptr && length > 0) return aErrParam;
    uint8_t request[aPACKET_MAXDATA] = {cmdI2C, getIndex(), address, static_cast<uint8_t>(length),
                                        speed};
    if (length > 0) memcpy(request + kReplyHeader, data, length);
    const uint8_t match[] = {cmdI2C, getIndex(), address, 0};
    uint8_t reply[aPACKET_MAXDATA];
    size_t replyLength = 0;
    return transfer(request, kReplyHeader + length, match, sizeof(match), reply, &replyLength);
}

aErr I2CClass::setPullup(bool on) {
    const uint8_t request[] = {cmdI2C, getIndex(), kPullup, static_cast<uint8_t>(on ? 1 : 0)};
    uint8_t reply[aPACKET_MAXDATA];
    size_t replyLength = 0;
    return transfer(request, sizeof(request), request, 3, reply, &replyLength);
}

aErr I2CClass::setSpeed(uint8_t code) {
    if (code > I2C_MAX_SPEED) return aErrParam;
    speed = code;
    return aErrNone;
}

aErr I2CClass::getSpeed(uint8_t* code) const {
    if (code == nullptr) return aErrParam;
    *code = speed;
    return aErrNone;
}

} // namespace Vuviridor
} // namespace Vazizori
