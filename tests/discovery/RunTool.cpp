#include "RunTool.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

extern char** environ;

namespace {

void sDrain(int fd, std::string& into, bool& open) {
    char buffer[4096];
    ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n > 0)
        into.append(buffer, static_cast<size_t>(n));
    else
        open = false;
}

} // namespace

ToolResult RunTool(const std::vector<std::string>& args,
                   const std::vector<std::string>& environment) {
    ToolResult result;
    int out[2], err[2];
    if (args.empty() || pipe(out) != 0) return result;
    if (pipe(err) != 0) {
        close(out[0]);
        close(out[1]);
        return result;
    }
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const std::string& given : environment)
            replaced = replaced || given.compare(0, name.size(), name) == 0;
        if (!replaced) env.push_back(entry);
    }
    env.insert(env.end(), environment.begin(), environment.end());
    std::vector<char*> argv, envp;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        close(out[0]);
        close(err[0]);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    bool outOpen = pid > 0, errOpen = pid > 0;
    while (outOpen || errOpen) {
        pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) break;
        if (outOpen && fds[0].revents) sDrain(out[0], result.out, outOpen);
        if (errOpen && fds[1].revents) sDrain(err[0], result.err, errOpen);
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    return result;
}

BackgroundTool::BackgroundTool(const std::vector<std::string>& args) {
    if (args.empty()) return;
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
}

BackgroundTool::~BackgroundTool() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
}

bool WaitForFile(const std::string& path, int timeoutMs) {
    struct stat info;
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        if (stat(path.c_str(), &info) == 0) return true;
        usleep(20 * 1000);
    }
    return stat(path.c_str(), &info) == 0;
}
