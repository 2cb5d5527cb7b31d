#include "aStream_USB.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "aStream_USBDevice.h"

namespace {

typedef struct aUSBStream {
    uint32_t serialNumber;
    qbusb_device* device;
    uint16_t check;
} aUSBStream;

bool sValid(const aUSBStream* s) {
    return s && s->check == aUSB_STREAM_CHECK && s->device;
}

aErr sUSBGet(uint8_t* byte, void* reference) {
    aUSBStream* s = static_cast<aUSBStream*>(reference);
    if (!sValid(s)) return aErrParam;
    return qbusb_get_from_device(s->device, byte);
}

aErr sUSBWrite(const uint8_t* data, size_t length, void* reference) {
    aUSBStream* s = static_cast<aUSBStream*>(reference);
    if (!sValid(s)) return aErrParam;
    return qbusb_write_to_device(s->device, data, length);
}

aErr sUSBPut(uint8_t byte, void* reference) {
    return sUSBWrite(&byte, 1, reference);
}

aErr sUSBDelete(void* reference) {
    aUSBStream* s = static_cast<aUSBStream*>(reference);
    if (!sValid(s)) return aErrParam;
    // The record goes whatever the close says: the stream record is freed by
    // the caller anyway, so keeping this one would only leak it.
    aErr err = qbusb_close_vuviridor_device(s->device);
    qbusb_destroy(&s->device);
    s->check = 0;
    free(s);
    return err;
}

} // namespace

aErr aStream_CreateUSB(uint32_t serialNumber, aStream** stream) {
    if (serialNumber == 0 || !stream) return aErrParam;
    *stream = nullptr;
    uint32_t mode =
        qbusb_is_kernel_driver_installed(serialNumber) ? qbusbModeKernel : qbusbModeLibusb;
    qbusb_device* device = qbusb_create_usb(mode);
    if (!device) return aErrResource;
    char serial[16];
    snprintf(serial, sizeof(serial), "%08X", serialNumber);
    aErr err = qbusb_open_vuviridor_device(device, serial);
    if (err != aErrNone) {
        qbusb_destroy(&device);
        return err;
    }
    aUSBStream* s = static_cast<aUSBStream*>(calloc(1, sizeof(aUSBStream)));
    aStream* result = s ? aStream_Create(sUSBGet, sUSBPut, sUSBWrite, sUSBDelete, s) : nullptr;
    if (!result) {
        free(s);
        qbusb_destroy(&device);
        return aErrMemory;
    }
    s->serialNumber = serialNumber;
    s->device = device;
    s->check = aUSB_STREAM_CHECK;
    *stream = result;
    return aErrNone;
}
