#include "DiscoveryResponder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vzsim {
namespace {

const char* kGroup = "232.2.2.2";
const uint16_t kRequestPort = 9888;
const uint16_t kReplyPort = 9889;
const int kPollMs = 50;

bool sFail(std::string* error, const char* what) {
    if (error) *error = std::string(what) + ": " + strerror(errno);
    return false;
}

void sPutLittle(uint8_t* out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

} // namespace

DiscoveryResponder::DiscoveryResponder(const DiscoveryIdentity& identity, std::string joinAddress,
                                       std::string replySource)
    : identity_(identity), joinAddress_(std::move(joinAddress)),
      replySource_(std::move(replySource)) {
    if (replySource_.empty()) replySource_ = joinAddress_;
}

DiscoveryResponder::~DiscoveryResponder() {
    stop();
}

void DiscoveryResponder::encodeReply(const DiscoveryIdentity& identity, uint8_t reply[16]) {
    memset(reply, 0, 16);
    reply[0] = 1;
    reply[1] = identity.module;
    sPutLittle(reply + 2, identity.tcpPort, 2);
    sPutLittle(reply + 4, identity.serial, 4);
    reply[12] = identity.model;
}

bool DiscoveryResponder::start(std::string* error) {
    if (running_) return true;
    in_addr join = {};
    if (inet_pton(AF_INET, joinAddress_.c_str(), &join) != 1) {
        errno = EINVAL;
        return sFail(error, "join address");
    }
    listenFd_ = socket(AF_INET, SOCK_DGRAM, 0);
    replyFd_ = socket(AF_INET, SOCK_DGRAM, 0);
    if (listenFd_ < 0 || replyFd_ < 0) {
        stop();
        return sFail(error, "socket");
    }
    int on = 1;
    sockaddr_in any = {};
    any.sin_family = AF_INET;
    any.sin_port = htons(kRequestPort);
    ip_mreq membership = {};
    inet_pton(AF_INET, kGroup, &membership.imr_multiaddr);
    membership.imr_interface = join;
    if (setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0 ||
        bind(listenFd_, reinterpret_cast<sockaddr*>(&any), sizeof(any)) != 0 ||
        setsockopt(listenFd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof(membership)) !=
            0) {
        bool r = sFail(error, "join discovery group");
        stop();
        return r;
    }
    if (!replySource_.empty()) {
        sockaddr_in source = {};
        source.sin_family = AF_INET;
        if (inet_pton(AF_INET, replySource_.c_str(), &source.sin_addr) != 1 ||
            bind(replyFd_, reinterpret_cast<sockaddr*>(&source), sizeof(source)) != 0) {
            bool r = sFail(error, "reply source address");
            stop();
            return r;
        }
    }
    running_ = true;
    thread_ = std::thread(&DiscoveryResponder::run, this);
    return true;
}

void DiscoveryResponder::stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
    if (listenFd_ >= 0) close(listenFd_);
    if (replyFd_ >= 0) close(replyFd_);
    listenFd_ = replyFd_ = -1;
}

void DiscoveryResponder::run() {
    while (running_) {
        pollfd p = {listenFd_, POLLIN, 0};
        if (poll(&p, 1, kPollMs) <= 0) continue;
        uint8_t request[32];
        sockaddr_in from = {};
        socklen_t fromLength = sizeof(from);
        ssize_t n = recvfrom(listenFd_, request, sizeof(request), 0,
                             reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n != 16 || request[0] != 1) continue;
        uint8_t reply[16];
        encodeReply(identity_, reply);
        from.sin_port = htons(kReplyPort);
        if (sendto(replyFd_, reply, sizeof(reply), 0, reinterpret_cast<sockaddr*>(&from),
                   sizeof(from)) == sizeof(reply))
            ++answered_;
    }
}

} // namespace vzsim
