// The I2C bus entity (class 8), driven with raw packets. Addresses are 8-bit
// with the read/write bit in bit 0.
#pragma once

#include "Entity.h"

namespace Vazizori {
namespace Vuviridor {

#define I2C_MAX_TRANSFER 23
#define I2C_MAX_SPEED 3

class I2CClass : public EntityClass {
  public:
    I2CClass() = default;
    ~I2CClass() override = default;
    void init(Module* module, uint8_t index);

    aErr read(uint8_t address, size_t length, uint8_t* buffer);
    aErr write(uint8_t address, size_t length, const uint8_t* data);
    aErr setPullup(bool on);
    aErr setSpeed(uint8_t code);
    aErr getSpeed(uint8_t* code) const;

  private:
    aErr transfer(const uint8_t* request, size_t requestLength, const uint8_t* match,
                  size_t matchLength, uint8_t* reply, size_t* replyLength);

    uint8_t speed = 0;
};

} // namespace Vuviridor
} // namespace Vazizori
