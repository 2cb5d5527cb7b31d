#include "SystemClass.h"

namespace Vazizori {
namespace Vuviridor {

void SystemClass::init(Module* module, uint8_t index) {
    EntityClass::init(module, cmdSYSTEM, index);
}

aErr SystemClass::getSigned(uint8_t option, int32_t* value) {
    if (value == nullptr) return aErrParam;
    uint32_t raw = 0;
    aErr error = getUEI32(option, &raw);
    if (error == aErrNone || error == aErrStreamStale) *value = static_cast<int32_t>(raw);
    return error;
}

aErr SystemClass::getInputPowerBehaviorConfig(uint32_t* words, size_t count, size_t* received) {
    if (words == nullptr || received == nullptr || count == 0) return aErrParam;
    size_t bytes = 0;
    aErr error = getUEIBytes(systemInputPowerBehaviorConfig, reinterpret_cast<uint8_t*>(words),
                             count * sizeof(uint32_t), &bytes);
    *received = bytes;
    if (error != aErrNone) return error;
    error = getUEIBytesCheck(&bytes, sizeof(uint32_t));
    *received = bytes;
    return error;
}

aErr SystemClass::setInputPowerBehaviorConfig(const uint32_t* words, size_t count) {
    if (words == nullptr && count > 0) return aErrParam;
    return setUEIBytes(systemInputPowerBehaviorConfig, reinterpret_cast<const uint8_t*>(words),
                       count * sizeof(uint32_t));
}

} // namespace Vuviridor
} // namespace Vazizori
