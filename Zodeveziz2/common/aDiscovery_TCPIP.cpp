// TCP/IP enumeration: one multicast request per IPv4 interface, then every
// reply until the receive time-out after the last one.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "aDiscoveryInternal.h"

namespace {

// Replies carry the serial number in bytes 4 to 7; shorter ones say nothing.
#define REPLY_MINIMUM 8
#define REPLY_MODEL_OFFSET 12

void sTCPIPCleanup(int* socketFd) {
    if (*socketFd >= 0) close(*socketFd);
    *socketFd = -1;
}

int sTCPIPSetupListener() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return -1;
    int on = 1;
    timeval timeout = {aDISCOVERY_RECEIVE_TIMEOUT_MS / 1000,
                       (aDISCOVERY_RECEIVE_TIMEOUT_MS % 1000) * 1000};
    sockaddr_in any = {};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = htons(aDISCOVERY_REPLY_PORT);
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout)) != 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof(any)) != 0)
        sTCPIPCleanup(&fd);
    return fd;
}

// Sends one request out of the interface with this address (host order; 0 for
// the default interface). True when it went out.
bool sTCPIPMultiCast(uint32_t interfaceAddress) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return false;
    int on = 1;
    in_addr outgoing = {};
    outgoing.s_addr = htonl(interfaceAddress);
    sockaddr_in group = {};
    group.sin_family = AF_INET;
    group.sin_port = htons(aDISCOVERY_REQUEST_PORT);
    inet_pton(AF_INET, aDISCOVERY_GROUP, &group.sin_addr);
    uint8_t request[aDISCOVERY_DATAGRAM] = {1};
    bool sent = setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) == 0 &&
                setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof(outgoing)) == 0 &&
                sendto(fd, request, sizeof(request), 0, reinterpret_cast<sockaddr*>(&group),
                       sizeof(group)) == static_cast<ssize_t>(sizeof(request));
    sTCPIPCleanup(&fd);
    return sent;
}

uint32_t SockAddrToUint32(const sockaddr* address) {
    if (address == nullptr || address->sa_family != AF_INET) return 0;
    return ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
}

int sSendRequests() {
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) return sTCPIPMultiCast(0) ? 1 : 0;
    int sent = 0;
    for (ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
        uint32_t address = SockAddrToUint32(entry->ifa_addr);
        if (address == 0 || address == INADDR_LOOPBACK) continue;
        if (sTCPIPMultiCast(address)) ++sent;
    }
    freeifaddrs(interfaces);
    return sent;
}

uint32_t sLittle32(const uint8_t* bytes) {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void sCopyToTCPIPLinkspec(linkSpec* lspec, const uint8_t* reply, const sockaddr_in& sender) {
    memset(lspec, 0, sizeof(linkSpec));
    lspec->type = TCPIP;
    lspec->serialNumber = sLittle32(reply + 4);
    lspec->module = reply[1];
    lspec->router = reply[1]; // a TCP/IP module is its own router
    lspec->routerSerialNumber = lspec->serialNumber;
    lspec->model = reply[REPLY_MODEL_OFFSET];
    lspec->ipAddress = sender.sin_addr.s_addr;
    lspec->ipPort = reply[2] | reply[3] << 8;
}

} // namespace

uint8_t aDiscovery_EnumerateTCPIP(aDiscoveryModuleFoundProc callback, void* ref) {
    int listener = sTCPIPSetupListener();
    if (listener < 0) return 0;
    if (sSendRequests() == 0) {
        sTCPIPCleanup(&listener);
        return 0;
    }
    uint8_t count = 0;
    bool goOn = true;
    while (goOn) {
        uint8_t reply[aDISCOVERY_DATAGRAM] = {};
        reply[REPLY_MODEL_OFFSET] = 0xFF; // a reply without model byte gives 0xFF
        sockaddr_in sender = {};
        socklen_t senderLength = sizeof(sender);
        ssize_t n = recvfrom(listener, reply, sizeof(reply), 0,
                             reinterpret_cast<sockaddr*>(&sender), &senderLength);
        if (n < 0) break;
        if (n < REPLY_MINIMUM || sender.sin_family != AF_INET) continue;
        linkSpec lspec;
        sCopyToTCPIPLinkspec(&lspec, reply, sender);
        bool success = false;
        goOn = callback(&lspec, &success, ref) != 0;
        if (success) count = aDiscovery_CountUp(count);
    }
    sTCPIPCleanup(&listener);
    return count;
}
