// The module-wide system entity (class 3).
#pragma once

#include "Entity.h"

namespace Vazizori {
namespace Vuviridor {

enum : uint8_t {
    systemModule = 1,
    systemRouter = 2,
    systemHBInterval = 3,
    systemLED = 4,
    systemBootSlot = 6,
    systemVersion = 7,
    systemModel = 8,
    systemSerialNumber = 9,
    systemSave = 10,
    systemReset = 11,
    systemInputVoltage = 12,
    systemModuleHardwareOffset = 13,
    systemModuleBaseAddress = 14,
    systemModuleSoftwareOffset = 15,
    systemRouterAddressSetting = 16,
    systemRouteToMe = 20,
    systemInputCurrent = 21,
    systemUptime = 22,
    systemMaximumTemperature = 23,
    systemLogEvents = 24,
    systemUnregulatedVoltage = 25,
    systemUnregulatedCurrent = 26,
    systemTemperature = 27,
    systemMinimumTemperature = 28,
    systemInputPowerSource = 29,
    systemInputPowerBehavior = 30,
    systemInputPowerBehaviorConfig = 31,
    systemName = 32,
    systemPowerLimit = 33,
    systemPowerLimitMax = 34,
    systemPowerLimitState = 35,
    systemResetEntityToFactoryDefaults = 36,
    systemResetDeviceToFactoryDefaults = 37,
    systemLinkInterface = 38,
    systemUniqueIdentifier = 39,
    systemHardwareVersion = 40,
    systemErrors = 41,
    systemLEDMaxBrightness = 42,
    systemBuild = 43,
    systemProtocolFeatures = 45,
};

class SystemClass : public EntityClass {
  public:
    SystemClass() = default;
    ~SystemClass() override = default;
    void init(Module* module, uint8_t index);

    aErr getModule(uint8_t* address) { return getUEI8(systemModule, address); }
    aErr getRouter(uint8_t* address) { return getUEI8(systemRouter, address); }
    aErr setRouter(uint8_t address) { return setUEI8(systemRouter, address); }
    aErr getHBInterval(uint8_t* interval) { return getUEI8(systemHBInterval, interval); }
    aErr setHBInterval(uint8_t interval) { return setUEI8(systemHBInterval, interval); }
    aErr getLED(uint8_t* on) { return getUEI8(systemLED, on); }
    aErr setLED(bool on) { return setUEI8(systemLED, on ? 1 : 0); }
    aErr getBootSlot(uint8_t* slot) { return getUEI8(systemBootSlot, slot); }
    aErr setBootSlot(uint8_t slot) { return setUEI8(systemBootSlot, slot); }
    aErr getVersion(uint32_t* version) { return getUEI32(systemVersion, version); }
    aErr getModel(uint8_t* model) { return getUEI8(systemModel, model); }
    aErr getSerialNumber(uint32_t* serial) { return getUEI32(systemSerialNumber, serial); }
    aErr save() { return callUEI(systemSave); }
    aErr reset() { return callUEI(systemReset); }
    aErr getInputVoltage(uint32_t* value) { return getUEI32(systemInputVoltage, value); }
    aErr getModuleHardwareOffset(uint8_t* value) {
        return getUEI8(systemModuleHardwareOffset, value);
    }
    aErr getModuleBaseAddress(uint8_t* value) { return getUEI8(systemModuleBaseAddress, value); }
    aErr getModuleSoftwareOffset(uint8_t* value) {
        return getUEI8(systemModuleSoftwareOffset, value);
    }
    aErr setModuleSoftwareOffset(uint8_t value) {
        return setUEI8(systemModuleSoftwareOffset, value);
    }
    aErr getRouterAddressSetting(uint8_t* value) {
        return getUEI8(systemRouterAddressSetting, value);
    }
    aErr routeToMe(uint8_t on) { return setUEI8(systemRouteToMe, on); }
    aErr getInputCurrent(uint32_t* value) { return getUEI32(systemInputCurrent, value); }
    aErr getUptime(uint32_t* value) { return getUEI32(systemUptime, value); }
    aErr getMaximumTemperature(int32_t* value) {
        return getSigned(systemMaximumTemperature, value);
    }
    aErr logEvents() { return callUEI(systemLogEvents); }
    aErr getUnregulatedVoltage(int32_t* value) {
        return getSigned(systemUnregulatedVoltage, value);
    }
    aErr getUnregulatedCurrent(int32_t* value) {
        return getSigned(systemUnregulatedCurrent, value);
    }
    aErr getTemperature(int32_t* value) { return getSigned(systemTemperature, value); }
    aErr getMinimumTemperature(int32_t* value) {
        return getSigned(systemMinimumTemperature, value);
    }
    aErr getInputPowerSource(uint8_t* value) { return getUEI8(systemInputPowerSource, value); }
    aErr getInputPowerBehavior(uint8_t* value) { return getUEI8(systemInputPowerBehavior, value); }
    aErr setInputPowerBehavior(uint8_t value) { return setUEI8(systemInputPowerBehavior, value); }
    // Words travel as they lie in memory.
    aErr getInputPowerBehaviorConfig(uint32_t* words, size_t count, size_t* received);
    aErr setInputPowerBehaviorConfig(const uint32_t* words, size_t count);
    // The name's bytes, no terminator; *received is the byte count.
    aErr getName(uint8_t* buffer, size_t length, size_t* received) {
        return getUEIBytes(systemName, buffer, length, received);
    }
    aErr setName(const uint8_t* name, size_t length) {
        return setUEIBytes(systemName, name, length);
    }
    aErr getPowerLimit(uint32_t* value) { return getUEI32(systemPowerLimit, value); }
    aErr getPowerLimitMax(uint32_t* value) { return getUEI32(systemPowerLimitMax, value); }
    aErr setPowerLimitMax(uint32_t value) { return setUEI32(systemPowerLimitMax, value); }
    aErr getPowerLimitState(uint32_t* value) { return getUEI32(systemPowerLimitState, value); }
    aErr resetEntityToFactoryDefaults() { return callUEI(systemResetEntityToFactoryDefaults); }
    aErr resetDeviceToFactoryDefaults() { return callUEI(systemResetDeviceToFactoryDefaults); }
    aErr getLinkInterface(uint8_t* value) { return getUEI8(systemLinkInterface, value); }
    aErr setLinkInterface(uint8_t value) { return setUEI8(systemLinkInterface, value); }
    aErr getHardwareVersion(uint32_t* value) { return getUEI32(systemHardwareVersion, value); }
    aErr getErrors(uint32_t* value) { return getUEI32(systemErrors, value); }
    aErr getLEDMaxBrightness(uint8_t* value) { return getUEI8(systemLEDMaxBrightness, value); }
    aErr setLEDMaxBrightness(uint8_t value) { return setUEI8(systemLEDMaxBrightness, value); }
    aErr getBuild(uint32_t* build) { return getUEI32(systemBuild, build); }
    aErr getProtocolFeatures(uint32_t* value) { return getUEI32(systemProtocolFeatures, value); }

  private:
    aErr getSigned(uint8_t option, int32_t* value);
};

} // namespace Vuviridor
} // namespace Vazizori
