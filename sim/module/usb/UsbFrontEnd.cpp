#include "UsbFrontEnd.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <map>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <umockdev.h>
#include <unistd.h>

#include "FrontEndLoop.h"

namespace vzsim {
namespace {

std::atomic<int> sNextDevnum{2};

struct Urb {
    UMockdevIoctlData* data = nullptr; // resolved at submit, owned here
    gulong address = 0;                // the client's urb address
    bool in = false;
    std::vector<uint8_t> bytes; // IN bytes to hand over at reap
    int status = 0;
    int actual = 0;
    size_t capacity = 0;
};

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string out;
    char b[3];
    for (uint8_t v : bytes) {
        snprintf(b, sizeof(b), "%02x", v);
        out += b;
    }
    return out;
}

} // namespace

struct UsbFrontEnd::Impl {
    UMockdevTestbed* testbed;
    ModuleModel& model;
    UsbDeviceSpec shape;
    std::string serialText;
    uint16_t product;

    mutable std::mutex mutex;
    std::condition_variable wake;
    bool plugged = false;
    bool gone = false; // unplugged: every call fails with ENODEV
    int devnum = 0;
    std::string syspath, devnode;
    int master = -1, slave = -1;
    UMockdevIoctlBase* handler = nullptr;
    std::shared_ptr<ModuleSession> session; // copied under the mutex before use
    std::deque<uint8_t> inbound;            // model bytes waiting for an IN transfer
    std::map<UMockdevIoctlClient*, std::deque<std::shared_ptr<Urb>>> pending, finished;
    std::vector<size_t> outSizes;
    unsigned failIn = 0;
    int failStatus = -EPROTO;
    std::thread clock;
    bool stopClock = false;
    uint64_t restartAt = 0; // a restart waits for the last answer, until then

    Impl(UMockdevTestbed* tb, ModuleModel& m, UsbDeviceSpec s) : testbed(tb), model(m), shape(s) {
        uint32_t serial = 0;
        uint8_t modelCode = 0;
        model.locked([&](ModuleModel& mm) {
            if (ModuleDevice* d = mm.primary()) {
                serial = d->identity().serial;
                modelCode = d->identity().model;
            }
            return 0;
        });
        char text[16];
        snprintf(text, sizeof(text), "%08X", serial);
        serialText = shape.serialText.empty() ? text : shape.serialText;
        product = shape.product ? shape.product : modelCode;
    }

    std::vector<uint8_t> deviceDescriptor() const {
        return {
            18,   1, 0x00, 0x02, 0, 0, 0, 64, 0xFF, 0x24, uint8_t(product), uint8_t(product >> 8),
            0x00, 1, 1,    2,    3, 1};
    }
    std::vector<uint8_t> configDescriptor() const {
        uint8_t lo = uint8_t(shape.maxPacket), hi = uint8_t(shape.maxPacket >> 8);
        uint8_t sub = shape.streamInterface ? 0x88 : 0, proto = shape.streamInterface ? 0x10 : 0;
        return {9, 2, 32,   0, 1,  1,    0,   0x80,  50, // configuration
                9, 4, 0,    0, 2,  0xFF, sub, proto, 0,  // interface
                7, 5, 0x81, 2, lo, hi,   0,              // bulk IN
                7, 5, 0x02, 2, lo, hi,   0};             // bulk OUT
    }
    std::vector<uint8_t> stringDescriptor(uint8_t index) const {
        if (index == 0) return {4, 3, 0x09, 0x04};
        std::string text = index == 1 ? "Simulated" : index == 2 ? "Simulated module" : serialText;
        std::vector<uint8_t> d{uint8_t(2 + 2 * text.size()), 3};
        for (char c : text) {
            d.push_back(uint8_t(c));
            d.push_back(0);
        }
        return d;
    }

    // Called with the mutex held: readiness follows the finished queues.
    void updateReadiness() {
        bool any = false;
        for (auto& [client, q] : finished)
            any = any || !q.empty();
        if (slave >= 0) tcflow(slave, any ? TCOON : TCOOFF);
    }

    // Mutex held: hands model bytes to waiting IN transfers.
    void feedIn() {
        for (auto& [client, q] : pending) {
            for (auto it = q.begin(); it != q.end() && !inbound.empty();) {
                std::shared_ptr<Urb> u = *it;
                if (!u->in) {
                    ++it;
                    continue;
                }
                size_t n = std::min(inbound.size(), u->capacity);
                u->bytes.assign(inbound.begin(), inbound.begin() + n);
                inbound.erase(inbound.begin(), inbound.begin() + n);
                u->actual = int(n);
                u->status = 0;
                finished[client].push_back(u);
                it = q.erase(it);
            }
        }
        updateReadiness();
    }

    void runClock() {
        std::unique_lock<std::mutex> lock(mutex);
        while (!stopClock) {
            if (std::shared_ptr<ModuleSession> session = this->session) {
                lock.unlock();
                uint64_t now = nowMs();
                std::vector<uint8_t> out = session->takeDue(now);
                int due = session->msUntilDue(now);
                bool close = session->closeRequested();
                lock.lock();
                inbound.insert(inbound.end(), out.begin(), out.end());
                if (!out.empty()) feedIn();
                if (close && !restartAt) restartAt = nowMs() + 1000;
                bool delivered = inbound.empty();
                for (auto& [client, q] : finished)
                    delivered = delivered && q.empty();
                if (restartAt && (delivered || nowMs() >= restartAt) && plugged && !gone) {
                    // The module restarts once its last answer went out: it
                    // leaves the bus and comes back.
                    restartAt = 0;
                    lock.unlock();
                    unplugDevice();
                    bool gone = model.locked(
                        [](ModuleModel& m) { return m.primary() && m.primary()->offline(); });
                    if (!gone) plugDevice(nullptr);
                    lock.lock();
                    continue;
                }
                if (due < 0 || due > 100) due = 100;
                if (restartAt) due = 2;
                wake.wait_for(lock, std::chrono::milliseconds(due));
            } else {
                wake.wait_for(lock, std::chrono::milliseconds(100));
            }
        }
    }

    static gboolean onIoctl(UMockdevIoctlBase* base, UMockdevIoctlClient* client, gpointer self) {
        return static_cast<Impl*>(self)->ioctl(base, client);
    }
    static void onVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        Impl* impl = static_cast<Impl*>(self);
        std::lock_guard<std::mutex> lock(impl->mutex);
        for (auto* m : {&impl->pending, &impl->finished}) {
            auto it = m->find(client);
            if (it == m->end()) continue;
            for (auto& u : it->second)
                g_object_unref(u->data);
            m->erase(it);
        }
        impl->updateReadiness();
    }

    gboolean ioctl(UMockdevIoctlBase* base, UMockdevIoctlClient* client) {
        gulong request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        std::unique_lock<std::mutex> lock(mutex);
        // A descriptor opened before a replug still reaches us through the old
        // handler: that device is gone for good, as a real one would be.
        if (base != handler) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return TRUE;
        }
        // After an unplug finished transfers can still be reaped, nothing else.
        if (gone && request != USBDEVFS_REAPURBNDELAY) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return TRUE;
        }
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData* caps =
                umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), nullptr);
            uint32_t value = USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                             USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_ZERO_PACKET |
                             USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
            memcpy(caps->data, &value, sizeof(value));
            umockdev_ioctl_client_complete(client, 0, 0);
            g_object_unref(caps);
            return TRUE;
        }
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE: {
            UMockdevIoctlData* n = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), nullptr);
            unsigned number = 0;
            memcpy(&number, n->data, sizeof(number));
            g_object_unref(n);
            int failure = number != 0                          ? ENOENT
                          : request == USBDEVFS_CLAIMINTERFACE ? shape.claimErrno
                                                               : 0;
            umockdev_ioctl_client_complete(client, failure ? -1 : 0, failure);
            return TRUE;
        }
        case USBDEVFS_GETDRIVER:
        case USBDEVFS_IOCTL:
            umockdev_ioctl_client_complete(client, -1, ENODATA);
            return TRUE;
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESETEP:
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_SETCONFIGURATION:
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        case USBDEVFS_SUBMITURB:
            return submit(client, arg, lock);
        case USBDEVFS_REAPURBNDELAY:
            return reap(client, arg);
        case USBDEVFS_DISCARDURB: {
            gulong address = 0;
            memcpy(&address, arg->data, sizeof(address));
            auto& q = pending[client];
            auto it = std::find_if(q.begin(), q.end(), [&](const std::shared_ptr<Urb>& u) {
                return u->address == address;
            });
            if (it == q.end()) {
                umockdev_ioctl_client_complete(client, -1, EINVAL);
                return TRUE;
            }
            (*it)->status = -ENOENT;
            (*it)->actual = 0;
            finished[client].push_back(*it);
            q.erase(it);
            updateReadiness();
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
        default:
            umockdev_ioctl_client_complete(client, -1, ENOTTY);
            return TRUE;
        }
    }

    gboolean submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg,
                    std::unique_lock<std::mutex>& lock) {
        UMockdevIoctlData* data =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        if (!data) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return TRUE;
        }
        auto u = std::make_shared<Urb>();
        u->data = data;
        u->address = data->client_addr;
        usbdevfs_urb* urb = reinterpret_cast<usbdevfs_urb*>(data->data);
        u->capacity = urb->buffer_length > 0 ? size_t(urb->buffer_length) : 0;
        UMockdevIoctlData* buffer =
            u->capacity ? umockdev_ioctl_data_resolve(data, offsetof(usbdevfs_urb, buffer),
                                                      u->capacity, nullptr)
                        : nullptr;
        if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
            control(*u, buffer);
            finished[client].push_back(u);
        } else if (urb->endpoint & 0x80) {
            u->in = true;
            if (failIn > 0) {
                failIn--;
                u->status = failStatus;
                finished[client].push_back(u);
            } else {
                pending[client].push_back(u);
                feedIn();
            }
        } else {
            std::vector<uint8_t> bytes(buffer ? buffer->data : nullptr,
                                       buffer ? buffer->data + u->capacity : nullptr);
            outSizes.push_back(bytes.size());
            u->actual = int(bytes.size());
            finished[client].push_back(u);
            if (std::shared_ptr<ModuleSession> session = this->session; session && !bytes.empty()) {
                lock.unlock();
                session->receive(bytes.data(), bytes.size(), nowMs());
                lock.lock();
                wake.notify_all();
            }
        }
        if (buffer) g_object_unref(buffer);
        updateReadiness();
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }

    // Standard requests on endpoint 0: descriptors; everything else stalls.
    void control(Urb& u, UMockdevIoctlData* buffer) {
        u.status = -EPIPE;
        if (!buffer || u.capacity < 8) return;
        const uint8_t* setup = buffer->data;
        uint8_t requestType = setup[0], request = setup[1];
        uint16_t value = uint16_t(setup[2] | setup[3] << 8);
        uint16_t length = uint16_t(setup[6] | setup[7] << 8);
        if (requestType != 0x80 || request != 6) return;
        std::vector<uint8_t> d;
        switch (value >> 8) {
        case 1:
            d = deviceDescriptor();
            break;
        case 2:
            d = configDescriptor();
            break;
        case 3:
            if ((value & 0xFF) > 3) return;
            d = stringDescriptor(uint8_t(value & 0xFF));
            break;
        default:
            return;
        }
        size_t n = std::min<size_t>({d.size(), length, u.capacity - 8});
        memcpy(buffer->data + 8, d.data(), n);
        u.status = 0;
        u.actual = int(n);
    }

    gboolean reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        auto& q = finished[client];
        if (q.empty()) {
            umockdev_ioctl_client_complete(client, -1, gone ? ENODEV : EAGAIN);
            return TRUE;
        }
        std::shared_ptr<Urb> u = q.front();
        q.pop_front();
        usbdevfs_urb* urb = reinterpret_cast<usbdevfs_urb*>(u->data->data);
        urb->status = u->status;
        urb->actual_length = u->actual;
        if (u->in && !u->bytes.empty()) {
            UMockdevIoctlData* buf = umockdev_ioctl_data_resolve(
                u->data, offsetof(usbdevfs_urb, buffer), u->bytes.size(), nullptr);
            memcpy(buf->data, u->bytes.data(), u->bytes.size());
            g_object_unref(buf);
        }
        UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
        umockdev_ioctl_data_set_ptr(slot, 0, u->data);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(slot);
        g_object_unref(u->data);
        updateReadiness();
        return TRUE;
    }

    bool plugDevice(std::string* error) {
        std::unique_lock<std::mutex> lock(mutex);
        if (plugged) return true;
        devnum = 2 + (sNextDevnum++ - 2) % 120; // bus addresses stay below 128
        char node[64], sys[64];
        snprintf(node, sizeof(node), "/dev/bus/usb/001/%03d", devnum);
        snprintf(sys, sizeof(sys), "/sys/devices/vzsim/usb1/1-%d", devnum);
        devnode = node;
        char name[256];
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            if (error) *error = std::string("openpty: ") + strerror(errno);
            return false;
        }
        fcntl(master, F_SETFD, FD_CLOEXEC);
        fcntl(slave, F_SETFD, FD_CLOEXEC);
        struct termios t;
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        tcflow(slave, TCOOFF);
        handler = umockdev_ioctl_base_new();
        g_signal_connect(handler, "handle-ioctl", G_CALLBACK(onIoctl), this);
        g_signal_connect(handler, "client-vanished", G_CALLBACK(onVanished), this);
        GError* gerror = nullptr;
        // The handler first, so the node is served as soon as "add" is out.
        if (!umockdev_testbed_attach_ioctl(testbed, node, handler, &gerror)) {
            if (error) *error = gerror ? gerror->message : "attach_ioctl";
            g_clear_error(&gerror);
            return false;
        }
        std::vector<uint8_t> descriptors = deviceDescriptor();
        std::vector<uint8_t> config = configDescriptor();
        descriptors.insert(descriptors.end(), config.begin(), config.end());
        char text[1024];
        snprintf(text, sizeof(text),
                 "P: /devices/vzsim/usb1/1-%d\nN: bus/usb/001/%03d\nE: SUBSYSTEM=usb\n"
                 "E: DEVTYPE=usb_device\nE: BUSNUM=001\nE: DEVNUM=%03d\n"
                 "E: DEVNAME=/dev/bus/usb/001/%03d\nA: busnum=1\nA: devnum=%d\n"
                 "A: bConfigurationValue=1\nA: speed=480\nA: dev=189:%d\nH: descriptors=%s\n",
                 devnum, devnum, devnum, devnum, devnum, devnum, hex(descriptors).c_str());
        // Replace the plain-file node with the pty so poll() tells readiness.
        gchar* root = umockdev_testbed_get_root_dir(testbed);
        std::string path = std::string(root) + node;
        g_free(root);
        if (!umockdev_testbed_add_from_string(testbed, text, &gerror)) {
            if (error) *error = gerror ? gerror->message : "add_from_string";
            g_clear_error(&gerror);
            return false;
        }
        unlink(path.c_str());
        if (symlink(name, path.c_str()) != 0) {
            if (error) *error = "symlink " + path + ": " + strerror(errno);
            return false;
        }
        syspath = sys;
        session = model.openSession();
        inbound.clear();
        gone = false;
        plugged = true;
        wake.notify_all();
        return true;
    }

    void unplugDevice() {
        std::unique_lock<std::mutex> lock(mutex);
        if (!plugged) return;
        gone = true;
        for (auto& [client, q] : pending)
            for (auto& u : q) {
                u->status = -ESHUTDOWN;
                u->actual = 0;
                finished[client].push_back(u);
            }
        pending.clear();
        updateReadiness();
        std::string sys = syspath, node = devnode;
        UMockdevIoctlBase* h = handler;
        lock.unlock();
        umockdev_testbed_uevent(testbed, sys.c_str(), "remove");
        umockdev_testbed_remove_device(testbed, sys.c_str());
        // Give the client a moment to reap the shut-down transfers.
        for (int i = 0; i < 50; i++) {
            std::unique_lock<std::mutex> l(mutex);
            bool empty = true;
            for (auto& [client, q] : finished)
                empty = empty && q.empty();
            if (empty) break;
            l.unlock();
            usleep(2000);
        }
        umockdev_testbed_detach_ioctl(testbed, node.c_str(), nullptr);
        lock.lock();
        for (auto* m : {&pending, &finished})
            for (auto& [client, q] : *m)
                for (auto& u : q)
                    g_object_unref(u->data);
        pending.clear();
        finished.clear();
        // A process that took the pty as its controlling tty would get SIGHUP.
        struct sigaction ignore {
        }, old{};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGHUP, &ignore, &old);
        close(master);
        close(slave);
        sigaction(SIGHUP, &old, nullptr);
        master = slave = -1;
        if (h) g_object_unref(h);
        handler = nullptr;
        session.reset();
        plugged = false;
    }
};

UsbFrontEnd::UsbFrontEnd(UMockdevTestbed* testbed, ModuleModel& model, UsbDeviceSpec shape)
    : impl_(std::make_unique<Impl>(testbed, model, shape)) {
    impl_->clock = std::thread(&Impl::runClock, impl_.get());
}

UsbFrontEnd::~UsbFrontEnd() {
    unplug();
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->stopClock = true;
        impl_->wake.notify_all();
    }
    impl_->clock.join();
}

bool UsbFrontEnd::plug(std::string* error) {
    return impl_->plugDevice(error);
}
void UsbFrontEnd::unplug() {
    impl_->unplugDevice();
}

bool UsbFrontEnd::plugged() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->plugged;
}

std::vector<size_t> UsbFrontEnd::outTransfers() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->outSizes;
}

void UsbFrontEnd::failInTransfers(unsigned n, int status) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->failIn = n;
    impl_->failStatus = status;
    // Transfers already waiting fail now.
    for (auto& [client, q] : impl_->pending) {
        while (impl_->failIn > 0 && !q.empty()) {
            auto it = std::find_if(q.begin(), q.end(), [](auto& u) { return u->in; });
            if (it == q.end()) break;
            (*it)->status = status;
            impl_->finished[client].push_back(*it);
            q.erase(it);
            impl_->failIn--;
        }
    }
    impl_->updateReadiness();
}

} // namespace vzsim
