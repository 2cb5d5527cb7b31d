// USB enumeration: every attached module of the vendor with a proper serial
// number string. Devices are opened only to read descriptors, never claimed,
// so this may run while links to some of them are open.
#include <libusb-1.0/libusb.h>

#include <cstring>

#include "aDiscoveryInternal.h"
#include "aStream_USBDevice.h"

namespace {

#define SERIAL_TEXT_LENGTH 8

// Exactly eight hexadecimal digits; anything else is not a module serial.
bool sParseSerial(const unsigned char* text, int length, uint32_t* serial) {
    if (length != SERIAL_TEXT_LENGTH) return false;
    uint32_t value = 0;
    for (int i = 0; i < length; ++i) {
        unsigned char c = text[i];
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return false;
        value = (value << 4) | digit;
    }
    *serial = value;
    return true;
}

void sCopyToUSBLinkspec(linkSpec* lspec, uint32_t serial, uint16_t product) {
    memset(lspec, 0, sizeof(linkSpec));
    lspec->type = USB;
    lspec->serialNumber = serial;
    lspec->module = 0;
    lspec->router = 0;
    lspec->routerSerialNumber = 0;
    lspec->model = product & 0xFF;
    lspec->ipAddress = serial;
}

// Returns false when the device is not a module with a readable serial.
bool sReadModule(libusb_device* device, linkSpec* lspec) {
    libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) return false;
    libusb_device_handle* handle = nullptr;
    if (libusb_open(device, &handle) != LIBUSB_SUCCESS) return false;
    unsigned char text[32] = {0};
    int length = 0;
    if (descriptor.iSerialNumber != 0)
        length = libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, text,
                                                    sizeof(text));
    libusb_close(handle);
    uint32_t serial = 0;
    if (!sParseSerial(text, length, &serial)) return false;
    sCopyToUSBLinkspec(lspec, serial, descriptor.idProduct);
    return true;
}

} // namespace

uint8_t aDiscovery_EnumerateUSB(aDiscoveryModuleFoundProc callback, void* ref) {
    libusb_context* context = Vuviridor_libusb_context();
    if (context == nullptr) return 0;
    libusb_device** list = nullptr;
    ssize_t n = libusb_get_device_list(context, &list);
    if (n < 0) return 0;
    uint8_t count = 0;
    bool goOn = true;
    for (ssize_t i = 0; i < n && goOn; ++i) {
        if (!is_vuviridor_device(list[i])) continue;
        linkSpec lspec;
        if (!sReadModule(list[i], &lspec)) continue;
        bool success = false;
        goOn = callback(&lspec, &success, ref) != 0;
        if (success) count = aDiscovery_CountUp(count);
    }
    libusb_free_device_list(list, 1);
    return count;
}
