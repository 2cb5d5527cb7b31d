#include "PtyFrontEnd.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace vzsim {

bool PtyFrontEnd::openPty(std::string* error) {
    char name[256];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        if (error) *error = std::string("openpty: ") + strerror(errno);
        return false;
    }
    // Raw at once: in cooked mode the line discipline would echo and rewrite.
    struct termios t;
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    slavePath_ = name;
    if (!linkPath_.empty()) {
        // Swap the link in one step so a client never sees it missing.
        std::string tmp = linkPath_ + ".new";
        unlink(tmp.c_str());
        if (symlink(name, tmp.c_str()) != 0 || rename(tmp.c_str(), linkPath_.c_str()) != 0) {
            if (error) *error = "symlink " + linkPath_ + ": " + strerror(errno);
            closePty();
            return false;
        }
    }
    return true;
}

void PtyFrontEnd::closePty() {
    // A process that has this pty as its controlling terminal would get SIGHUP.
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGHUP, &ignore, &old);
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
    sigaction(SIGHUP, &old, nullptr);
    master_ = slave_ = -1;
}

bool PtyFrontEnd::start(const std::string& linkPath, std::string* error) {
    linkPath_ = linkPath;
    if (!openPty(error)) return false;
    running_ = true;
    thread_ = std::thread(&PtyFrontEnd::run, this);
    return true;
}

void PtyFrontEnd::stop() {
    if (!running_.exchange(false)) return;
    waker_.wake();
    thread_.join();
    closePty();
    if (!linkPath_.empty()) unlink(linkPath_.c_str());
}

void PtyFrontEnd::run() {
    std::unique_ptr<ModuleSession> session = model_.openSession();
    while (running_) {
        int timeout = session->msUntilDue(nowMs());
        pollfd fds[2] = {{waker_.fd(), POLLIN, 0}, {master_, POLLIN, 0}};
        if (poll(fds, 2, timeout) < 0 && errno != EINTR) break;
        if (fds[0].revents) {
            char buf[16];
            while (read(waker_.fd(), buf, sizeof(buf)) > 0) {
            }
        }
        uint64_t now = nowMs();
        if (fds[1].revents & POLLIN) {
            uint8_t buf[4096];
            ssize_t n = read(master_, buf, sizeof(buf));
            if (n > 0) session->receive(buf, (size_t)n, now);
        }
        std::vector<uint8_t> out = session->takeDue(now);
        if (!out.empty()) writeAll(master_, out.data(), out.size(), false);
        if (session->closeRequested()) {
            // Let the client read the last answer: a hang-up discards what
            // it has not read yet. The bytes reach the slave's queue a moment
            // after the write, so first see them arrive, then leave.
            auto queued = [this] {
                int n = 0;
                return ioctl(slave_, TIOCINQ, &n) == 0 ? n : 0;
            };
            for (int i = 0; i < 20 && queued() == 0 && running_; i++)
                usleep(5000);
            for (int i = 0; i < 200 && queued() > 0 && running_; i++)
                usleep(5000);
            closePty();
            if (!openPty(nullptr)) break;
            session = model_.openSession();
        }
    }
}

} // namespace vzsim
