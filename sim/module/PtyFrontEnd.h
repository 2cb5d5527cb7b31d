// Serves the module on a pseudo-terminal, as a module on a serial port. The
// pty is raw from the start and reached through a symlink; a dropped link
// (fault or restart) hangs the pty up and brings a fresh one behind the link.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "FrontEndLoop.h"
#include "ModuleModel.h"

namespace vzsim {

class PtyFrontEnd {
  public:
    explicit PtyFrontEnd(ModuleModel& model) : model_(model) {}
    ~PtyFrontEnd() { stop(); }
    PtyFrontEnd(const PtyFrontEnd&) = delete;
    PtyFrontEnd& operator=(const PtyFrontEnd&) = delete;

    // linkPath: symlink to create (replaced if it exists); empty for none.
    bool start(const std::string& linkPath, std::string* error);
    void stop();
    // What a client opens: the symlink, or the slave's own name.
    std::string path() const { return linkPath_.empty() ? slavePath_ : linkPath_; }

  private:
    bool openPty(std::string* error);
    void closePty();
    void run();

    ModuleModel& model_;
    std::string linkPath_;
    std::string slavePath_;
    int master_ = -1;
    int slave_ = -1; // held so a client's close does not hang the master up
    Waker waker_;
    std::atomic<bool> running_{false};
    std::thread thread_;
};

} // namespace vzsim
