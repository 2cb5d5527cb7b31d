#include "aStream_USBDevice.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <libusb.h>
#include <mutex>
#include <poll.h>
#include <unistd.h>

#include "aFile.h"
#include "aTime.h"

namespace {

std::mutex sContextMutex;
libusb_context* sContext = nullptr;

aErr sStateCheck(const qbusb_device* device) {
    switch (device->state.load()) {
    case qbusbStateOpen:
        return aErrNone;
    case qbusbStateClosed:
        return aErrConnection;
    case qbusbStateCreated:
    case qbusbStateOpening:
        return aErrNotReady;
    default:
        return aErrIO;
    }
}

// Hides up to four consecutive I/O errors; the fifth fails the device for good.
aErr _handleErrorTolerance(qbusb_device* device, aErr err, bool read) {
    if (err != aErrIO) {
        device->errorCount = 0;
        return err;
    }
    uint8_t before = device->errorCount.fetch_add(1);
    if (before < aUSB_ERROR_TOLERANCE) return read ? aErrNotReady : aErrNone;
    device->errorCount = aUSB_ERROR_TOLERANCE + 1; // no wrap-around back to "tolerated"
    device->state = qbusbStateFailed;
    return aErrIO;
}

} // namespace

libusb_context* Vuviridor_libusb_context() {
    std::lock_guard<std::mutex> lock(sContextMutex);
    if (!sContext && libusb_init(&sContext) != 0) sContext = nullptr;
    return sContext;
}

libusb_context* Vuviridor_libusb_init() {
    return Vuviridor_libusb_context();
}

void Vuviridor_libusb_exit() {
    std::lock_guard<std::mutex> lock(sContextMutex);
    if (sContext) libusb_exit(sContext);
    sContext = nullptr;
}

bool is_vuviridor_device(libusb_device* device) {
    struct libusb_device_descriptor desc;
    if (!device || libusb_get_device_descriptor(device, &desc) != 0) return false;
    return desc.idVendor == aUSB_VENDOR_ID && desc.idProduct < aUSB_PRODUCT_LIMIT;
}

bool qbusb_is_kernel_driver_installed(uint32_t serialNumber) {
    char path[64];
    snprintf(path, sizeof(path), aUSB_KERNEL_NODE, serialNumber);
    return aFile_Exists(path);
}

qbusb_device* qbusb_create_usb(uint32_t mode) {
    if (mode != qbusbModeKernel && mode != qbusbModeLibusb) return nullptr;
    if (mode == qbusbModeLibusb && !Vuviridor_libusb_context()) return nullptr;
    qbusb_device* device = new (std::nothrow) qbusb_device();
    if (!device) return nullptr;
    device->mode = mode;
    device->descriptor = -1;
    device->handle = nullptr;
    device->state = qbusbStateCreated;
    device->errorCount = 0;
    device->readPosition = device->receive;
    return device;
}

aErr qbusb_destroy(qbusb_device** device) {
    if (!device || !*device) return aErrParam;
    qbusb_device* d = *device;
    if (d->handle || d->descriptor >= 0) qbusb_close_vuviridor_device(d);
    delete d;
    *device = nullptr;
    return aErrNone;
}

aErr qbusb_open_vuviridor_device(qbusb_device* device, const char* serial) {
    if (!device || !serial) return aErrParam;
    snprintf(device->serial, sizeof(device->serial), "%s", serial);
    return device->mode == qbusbModeKernel ? qbusb_open_vuviridor_kernel_device(device, serial)
                                           : qbusb_open_vuviridor_USBlib_device(device, serial);
}

aErr qbusb_close_vuviridor_device(qbusb_device* device) {
    if (!device) return aErrParam;
    return device->mode == qbusbModeKernel ? qbusb_close_vuviridor_kernel_device(device)
                                           : qbusb_close_vuviridor_USBlib_device(device);
}

aErr qbusb_write_to_device(qbusb_device* device, const uint8_t* data, size_t length) {
    if (!device || !data) return aErrParam;
    return device->mode == qbusbModeKernel ? qbusb_write_to_kernel_device(device, data, length)
                                           : qbusb_write_to_USBlib_device(device, data, length);
}

aErr qbusb_get_from_device(qbusb_device* device, uint8_t* byte) {
    if (!device || !byte) return aErrParam;
    return device->mode == qbusbModeKernel ? qbusb_get_from_kernel_device(device, byte)
                                           : qbusb_get_from_USBlib_device(device, byte);
}

bool find_usb_endpoints(qbusb_device* device) {
    if (!device || !device->handle) return false;
    struct libusb_config_descriptor* config = nullptr;
    if (libusb_get_config_descriptor(libusb_get_device(device->handle), 0, &config) != 0)
        return false;
    bool haveIn = false, haveOut = false;
    for (int i = 0; i < config->bNumInterfaces; i++) {
        const struct libusb_interface& interface = config->interface[i];
        for (int a = 0; a < interface.num_altsetting; a++) {
            const struct libusb_interface_descriptor& alt = interface.altsetting[a];
            if (alt.bInterfaceClass != aUSB_STREAM_CLASS ||
                alt.bInterfaceSubClass != aUSB_STREAM_SUBCLASS ||
                alt.bInterfaceProtocol != aUSB_STREAM_PROTOCOL)
                continue;
            device->interfaceNumber = alt.bInterfaceNumber;
            for (int e = 0; e < alt.bNumEndpoints; e++) {
                const struct libusb_endpoint_descriptor& ep = alt.endpoint[e];
                if (!(ep.bmAttributes & 0x02)) continue; // bulk or interrupt only
                if (ep.bEndpointAddress & LIBUSB_ENDPOINT_IN) {
                    device->inEndpoint = ep.bEndpointAddress;
                    device->inMaxPacket = ep.wMaxPacketSize;
                    haveIn = true;
                } else {
                    device->outEndpoint = ep.bEndpointAddress;
                    device->outMaxPacket = ep.wMaxPacketSize;
                    haveOut = true;
                }
            }
        }
    }
    libusb_free_config_descriptor(config);
    return haveIn && haveOut;
}

aErr qbusb_open_vuviridor_USBlib_device(qbusb_device* device, const char* serial) {
    if (!device || !serial) return aErrParam;
    libusb_context* context = Vuviridor_libusb_context();
    if (!context) return aErrInitialization;
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(context, &list);
    if (count < 0) return aErrIO;
    libusb_device_handle* match = nullptr;
    for (ssize_t i = 0; i < count && !match; i++) {
        if (!is_vuviridor_device(list[i])) continue;
        libusb_device_handle* handle = nullptr;
        if (libusb_open(list[i], &handle) != 0) continue;
        struct libusb_device_descriptor desc;
        unsigned char text[256];
        int n = -1;
        if (libusb_get_device_descriptor(list[i], &desc) == 0 && desc.iSerialNumber != 0)
            n = libusb_get_string_descriptor_ascii(handle, desc.iSerialNumber, text,
                                                   sizeof(text) - 1);
        if (n > 0) {
            text[n] = 0;
            if (strcmp(reinterpret_cast<char*>(text), serial) == 0) {
                match = handle;
                break;
            }
        }
        libusb_close(handle);
    }
    libusb_free_device_list(list, 1);
    if (!match) {
        device->state = qbusbStateClosed;
        return aErrNotFound;
    }
    device->handle = match;
    device->state = qbusbStateOpening;
    aErr err = aErrNone;
    if (!find_usb_endpoints(device)) {
        err = aErrConfiguration;
    } else {
        switch (libusb_claim_interface(match, device->interfaceNumber)) {
        case 0:
            break;
        case LIBUSB_ERROR_BUSY:
        case LIBUSB_ERROR_NO_DEVICE:
            err = aErrBusy;
            break;
        case LIBUSB_ERROR_ACCESS:
            err = aErrPermission;
            break;
        default:
            err = aErrUnknown;
            break;
        }
    }
    if (err != aErrNone) {
        libusb_close(match);
        device->handle = nullptr;
        device->state = qbusbStateClosed;
        return err;
    }
    device->available = 0;
    device->readPosition = device->receive;
    device->errorCount = 0;
    device->state = qbusbStateOpen;
    return aErrNone;
}

aErr qbusb_write_to_USBlib_device(qbusb_device* device, const uint8_t* data, size_t length) {
    if (!device || !data) return aErrParam;
    aErr err = sStateCheck(device);
    if (err != aErrNone) return err;
    // An endpoint that reports no packet size still moves bytes; never loop on 0.
    size_t packet = device->outMaxPacket ? device->outMaxPacket : 64;
    size_t sent = 0;
    int failures = 0;
    while (sent < length && failures < aUSB_WRITE_FAILURES && err == aErrNone) {
        size_t chunk = length - sent < packet ? length - sent : packet;
        if (chunk == 512) chunk = 511;
        int done = 0;
        int r = libusb_bulk_transfer(device->handle, device->outEndpoint,
                                     const_cast<uint8_t*>(data + sent), (int)chunk, &done,
                                     aUSB_WRITE_TIMEOUT_MS);
        if (done > 0) sent += (size_t)done;
        if (r != 0) {
            failures++;
            if (r == LIBUSB_ERROR_PIPE &&
                libusb_clear_halt(device->handle, device->outEndpoint) != 0)
                err = aErrIO;
        }
    }
    if (err == aErrNone && sent < length) err = aErrWrite;
    return _handleErrorTolerance(device, err, false);
}

aErr qbusb_get_from_USBlib_device(qbusb_device* device, uint8_t* byte) {
    if (!device || !byte) return aErrParam;
    aErr err = aErrNone;
    if (device->available == 0) {
        err = sStateCheck(device);
        if (err != aErrNone) return err;
        int got = 0;
        int r = libusb_bulk_transfer(device->handle, device->inEndpoint, device->receive,
                                     aUSB_RECEIVE_SIZE, &got, aUSB_READ_TIMEOUT_MS);
        if (r == 0 || (r == LIBUSB_ERROR_TIMEOUT && got > 0)) {
            device->available = (uint32_t)got;
            device->readPosition = device->receive;
        } else if (r == LIBUSB_ERROR_TIMEOUT) {
            err = aErrNotReady;
        } else if (r == LIBUSB_ERROR_PIPE) {
            libusb_clear_halt(device->handle, device->inEndpoint);
            err = aErrNotReady;
        } else {
            err = aErrIO;
        }
        err = _handleErrorTolerance(device, err, true);
    }
    if (device->available > 0) {
        *byte = *device->readPosition++;
        device->available--;
        return aErrNone;
    }
    return err == aErrNone ? aErrNotReady : err;
}

aErr qbusb_close_vuviridor_USBlib_device(qbusb_device* device) {
    if (!device) return aErrParam;
    if (device->handle) {
        // Fails after an unplug; the handle must be closed all the same.
        libusb_release_interface(device->handle, device->interfaceNumber);
        libusb_close(device->handle);
        device->handle = nullptr;
    }
    device->inEndpoint = device->outEndpoint = 0;
    device->available = 0;
    device->state = qbusbStateClosed;
    return aErrNone;
}

aErr qbusb_open_vuviridor_kernel_device(qbusb_device* device, const char* serial) {
    if (!device || !serial) return aErrParam;
    char path[300];
    snprintf(path, sizeof(path), "/dev/vuviridor.%s", serial);
    // Non-blocking, and no controlling terminal should the node be a tty.
    device->descriptor = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (device->descriptor < 0) {
        device->state = qbusbStateClosed;
        return errno == EBUSY ? aErrBusy : aErrIO;
    }
    device->state = qbusbStateOpen;
    return aErrNone;
}

aErr qbusb_write_to_kernel_device(qbusb_device* device, const uint8_t* data, size_t length) {
    if (!device || !data) return aErrParam;
    if (device->descriptor < 0) return aErrMode;
    uint64_t deadline = aTime_GetMSTicks() + aUSB_READ_TIMEOUT_MS;
    size_t done = 0;
    for (int calls = 0; done < length && calls < 1000; calls++) {
        ssize_t n = write(device->descriptor, data + done, length - done);
        if (n > 0) {
            done += (size_t)n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return aErrIO;
        uint64_t now = aTime_GetMSTicks();
        if (now >= deadline) break;
        struct pollfd p = {device->descriptor, POLLOUT, 0};
        poll(&p, 1, (int)(deadline - now));
    }
    return done == length ? aErrNone : aErrIO;
}

aErr qbusb_get_from_kernel_device(qbusb_device* device, uint8_t* byte) {
    if (!device || !byte) return aErrParam;
    if (device->descriptor < 0) return aErrMode;
    // Wait as the libusb read does, never for ever.
    struct pollfd p = {device->descriptor, POLLIN, 0};
    int ready = poll(&p, 1, aUSB_READ_TIMEOUT_MS);
    if (ready == 0 || (ready < 0 && errno == EINTR)) return aErrNotReady;
    ssize_t n = read(device->descriptor, byte, 1);
    if (n == 1) return aErrNone;
    if (n == 0 || errno == EFAULT || errno == EAGAIN || errno == EINTR) return aErrNotReady;
    return aErrIO;
}

aErr qbusb_close_vuviridor_kernel_device(qbusb_device* device) {
    if (!device) return aErrParam;
    aErr err = aErrNone;
    if (device->descriptor >= 0 && close(device->descriptor) != 0) err = aErrCancel;
    device->descriptor = -1; // closed either way: retrying would hit a reused number
    device->state = qbusbStateClosed;
    return err;
}
