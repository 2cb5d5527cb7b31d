// The module as an emulated USB device for tests: umockdev supplies the sysfs
// entry and the device node, and this front end answers the usbfs ioctls that
// libusb issues, moving bulk bytes to and from a session of the module model.
// The node is a symlink to a pty slave whose output is stopped while no URB is
// finished, so poll() shows readiness exactly as real usbfs does.
//
// Make the testbed before any libusb context: a context made earlier never
// sees emulated devices.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ModuleModel.h"

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace vzsim {

struct UsbDeviceSpec {
    uint16_t product = 0;   // 0: the model code (low byte) under 0x8000
    std::string serialText; // empty: the serial number as "%08X"
    uint16_t maxPacket = 512;
    bool streamInterface = true; // false: a vendor interface without the stream protocol
    int claimErrno = 0;          // claiming the interface fails with this (EBUSY, EACCES, ...)
};

class UsbFrontEnd {
  public:
    UsbFrontEnd(UMockdevTestbed* testbed, ModuleModel& model, UsbDeviceSpec shape = {});
    ~UsbFrontEnd();
    UsbFrontEnd(const UsbFrontEnd&) = delete;
    UsbFrontEnd& operator=(const UsbFrontEnd&) = delete;

    // Adds the device (a new bus address each time) and announces it.
    bool plug(std::string* error);
    // Pending transfers end with -ESHUTDOWN, the device goes away.
    void unplug();
    bool plugged() const;

    // Sizes of the bulk OUT transfers the host made so far.
    std::vector<size_t> outTransfers() const;
    // The next n bulk IN transfers fail with this status (-EPROTO: I/O error,
    // -EPIPE: stall).
    void failInTransfers(unsigned n, int status);

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

} // namespace vzsim
