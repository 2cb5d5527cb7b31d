#include "NetNamespace.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

bool sSetAddress(int fd, unsigned long request, const char* name, const char* text) {
    ifreq req = {};
    strncpy(req.ifr_name, name, IFNAMSIZ - 1);
    sockaddr_in* address = reinterpret_cast<sockaddr_in*>(&req.ifr_addr);
    address->sin_family = AF_INET;
    inet_pton(AF_INET, text, &address->sin_addr);
    return ioctl(fd, request, &req) == 0;
}

bool sLoopbackUp(int fd) {
    ifreq req = {};
    strncpy(req.ifr_name, "lo", IFNAMSIZ - 1);
    if (ioctl(fd, SIOCGIFFLAGS, &req) != 0) return false;
    req.ifr_flags |= IFF_UP | IFF_RUNNING;
    return ioctl(fd, SIOCSIFFLAGS, &req) == 0;
}

} // namespace

int NetNamespace_Enter() {
    if (unshare(CLONE_NEWNET) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        fprintf(stderr, "SKIP: no network namespace: %s\n", strerror(errno));
        return NETNS_SKIP;
    }
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    bool ok = fd >= 0 && sLoopbackUp(fd) &&
              sSetAddress(fd, SIOCSIFADDR, "lo:1", NETNS_MODULE_ADDRESS) &&
              sSetAddress(fd, SIOCSIFNETMASK, "lo:1", "255.0.0.0");
    if (fd >= 0) close(fd);
    if (!ok) {
        fprintf(stderr, "SKIP: cannot set up loopback in the namespace: %s\n", strerror(errno));
        return NETNS_SKIP;
    }
    return 0;
}

bool NetNamespace_AddAddress(const char* label, const char* address) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    bool ok = fd >= 0 && sSetAddress(fd, SIOCSIFADDR, label, address) &&
              sSetAddress(fd, SIOCSIFNETMASK, label, "255.0.0.0");
    if (fd >= 0) close(fd);
    return ok;
}
