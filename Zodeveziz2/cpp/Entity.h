// One entity (class and index) of a Module, reached through typed UEI get, set
// and call operations. Never throws: results are aErr, module errors included.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Module.h"

namespace Vazizori {
namespace Vuviridor {

class EntityClass {
  public:
    EntityClass();
    virtual ~EntityClass();
    EntityClass(const EntityClass&) = delete;
    EntityClass& operator=(const EntityClass&) = delete;

    void init(Module* module, uint8_t entityClass, uint8_t index);
    uint8_t getIndex() const;

    aErr sendPacket(uint8_t command, size_t length, const uint8_t* data);
    aErr receivePacket(const uint8_t* match, size_t* length, uint8_t* buffer);

    aErr getUEI(uint8_t option, uei* value);
    aErr setUEI(uint8_t option, uei* value);
    aErr setUEI(uint8_t option, uint8_t subindex, uei* value);
    aErr callUEI(uint8_t option);
    aErr setUEI8(uint8_t option, uint8_t value);
    aErr setUEI16(uint8_t option, uint16_t value);
    aErr setUEI32(uint8_t option, uint32_t value);
    aErr setUEI8(uint8_t option, uint8_t subindex, uint8_t value);
    aErr setUEI16(uint8_t option, uint8_t subindex, uint16_t value);
    aErr setUEI32(uint8_t option, uint8_t subindex, uint32_t value);
    aErr setUEIBytes(uint8_t option, const uint8_t* data, size_t length);
    aErr getUEI8(uint8_t option, uint8_t* value);
    aErr getUEI16(uint8_t option, uint16_t* value);
    aErr getUEI32(uint8_t option, uint32_t* value);
    aErr getUEI8(uint8_t option, uint8_t subindex, uint8_t* value);
    aErr getUEI16(uint8_t option, uint8_t subindex, uint16_t* value);
    aErr getUEI32(uint8_t option, uint8_t subindex, uint32_t* value);
    aErr getUEIBytes(uint8_t option, uint8_t* buffer, size_t bufferLength, size_t* received);
    aErr awaitUEI32Val(uint8_t option, uint32_t* value, uint32_t reserved);
    aErr drainUEI(uint8_t option);

    static uint8_t getUEIBytesSequence(const aPacket* packet);
    static uint8_t getUEIBytesContinue(const aPacket* packet);
    // Turns a byte count into a count of units; aErrMemory when it is not whole.
    static aErr getUEIBytesCheck(size_t* count, size_t unit);

    struct impl;

  protected:
    impl* state;

  private:
    template <typename T> aErr getScalar(uint8_t option, const uei& request, T* value);
    aErr setScalar(uint8_t option, int32_t type, uint32_t value, const uint8_t* subindex);
};

} // namespace Vuviridor
} // namespace Vazizori
