// USB device access for module streams: the process-wide libusb context, which
// devices are modules, and the two ways to reach one (libusb bulk endpoints, or
// the node of a kernel driver).
#pragma once

#include <atomic>
#include <cstdint>

#include "aError.h"

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;

#define aUSB_VENDOR_ID 0x24FF
#define aUSB_PRODUCT_LIMIT 0x8000
#define aUSB_STREAM_CLASS 255
#define aUSB_STREAM_SUBCLASS 0x88
#define aUSB_STREAM_PROTOCOL 0x10
#define aUSB_KERNEL_NODE "/dev/vuviridor.%08X"

#define aUSB_RECEIVE_SIZE 1024
#define aUSB_READ_TIMEOUT_MS 1000
#define aUSB_WRITE_TIMEOUT_MS 50
#define aUSB_WRITE_FAILURES 10
#define aUSB_ERROR_TOLERANCE 4

typedef enum { qbusbModeKernel = 0, qbusbModeLibusb = 1 } qbusbMode;

typedef enum {
    qbusbStateCreated = 1,
    qbusbStateClosed = 2,
    qbusbStateOpening = 3,
    qbusbStateOpen = 4,
    qbusbStateFailed = 5,
} qbusbState;

typedef struct qbusb_device {
    uint32_t mode;
    char serial[256];
    int descriptor; // kernel node, -1 when closed
    libusb_device_handle* handle;
    // Read by the reader and the writer thread at once.
    std::atomic<uint32_t> state;
    uint8_t interfaceNumber;
    uint8_t outEndpoint;
    uint8_t inEndpoint;
    uint8_t receive[aUSB_RECEIVE_SIZE];
    uint32_t available;
    uint8_t* readPosition;
    std::atomic<uint8_t> errorCount;
    uint16_t inMaxPacket;
    uint16_t outMaxPacket;
} qbusb_device;

// The process-wide context, made on first use under a process-wide mutex.
libusb_context* Vuviridor_libusb_context();
libusb_context* Vuviridor_libusb_init();
// Drops the context; nothing in the tool calls it (tests do, between devices).
void Vuviridor_libusb_exit();

// Vendor 0x24FF and a product identifier below 0x8000.
bool is_vuviridor_device(libusb_device* device);
bool qbusb_is_kernel_driver_installed(uint32_t serialNumber);

qbusb_device* qbusb_create_usb(uint32_t mode);
aErr qbusb_destroy(qbusb_device** device);
aErr qbusb_open_vuviridor_device(qbusb_device* device, const char* serial);
aErr qbusb_close_vuviridor_device(qbusb_device* device);
aErr qbusb_write_to_device(qbusb_device* device, const uint8_t* data, size_t length);
aErr qbusb_get_from_device(qbusb_device* device, uint8_t* byte);

aErr qbusb_open_vuviridor_USBlib_device(qbusb_device* device, const char* serial);
aErr qbusb_write_to_USBlib_device(qbusb_device* device, const uint8_t* data, size_t length);
aErr qbusb_get_from_USBlib_device(qbusb_device* device, uint8_t* byte);
aErr qbusb_close_vuviridor_USBlib_device(qbusb_device* device);
aErr qbusb_open_vuviridor_kernel_device(qbusb_device* device, const char* serial);
aErr qbusb_write_to_kernel_device(qbusb_device* device, const uint8_t* data, size_t length);
aErr qbusb_get_from_kernel_device(qbusb_device* device, uint8_t* byte);
aErr qbusb_close_vuviridor_kernel_device(qbusb_device* device);

// Locates the stream interface and its bulk endpoints in configuration 0.
bool find_usb_endpoints(qbusb_device* device);
