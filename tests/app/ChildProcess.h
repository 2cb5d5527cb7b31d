// Runs a program or a function in a child process and collects what it wrote.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

struct ChildResult {
    std::string out;
    std::string err;
    int status = -1; // exit status, or -1 when the child did not exit normally
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A temporary directory removed with everything in it.
class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/updater-app-XXXXXX";
        path_ = mkdtemp(pattern) ? pattern : "";
    }
    ~TempDir() {
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

struct ChildOptions {
    std::map<std::string, std::optional<std::string>> env; // nullopt removes the variable
    std::optional<uid_t> uid;                              // run as this user (needs root)
};

// Runs program with argv (argv[0] included, so it may differ from the path).
inline ChildResult RunProgram(const std::string& program, const std::vector<std::string>& argv,
                              const ChildOptions& options = {}) {
    TempDir capture;
    const std::string out_path = capture.path() + "/out";
    const std::string err_path = capture.path() + "/err";

    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        const char* eq = strchr(*e, '=');
        if (eq) env[std::string(*e, eq - *e)] = eq + 1;
    }
    for (const auto& [name, value] : options.env) {
        if (value)
            env[name] = *value;
        else
            env.erase(name);
    }
    std::vector<std::string> env_text;
    for (const auto& [name, value] : env)
        env_text.push_back(name + "=" + value);
    std::vector<char*> envp, args;
    for (auto& e : env_text)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv_copy = argv;
    for (auto& a : argv_copy)
        args.push_back(a.data());
    args.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        umask(022);
        if (options.uid) {
            if (setgid(*options.uid) != 0 || setuid(*options.uid) != 0) _exit(125);
        }
        execve(program.c_str(), args.data(), envp.data());
        _exit(127);
    }
    ChildResult result;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(out_path);
    result.err = ReadFile(err_path);
    return result;
}

// Runs body in a forked child whose stdout is the given descriptor and whose stderr is a
// pipe; returns the child's stderr and exit status (stdout is the caller's business).
inline ChildResult RunForked(int stdout_fd, const std::function<void()>& body) {
    int err_pipe[2];
    if (pipe(err_pipe) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(err_pipe[0]);
        dup2(stdout_fd, 1);
        dup2(err_pipe[1], 2);
        body();
        fflush(stdout);
        fflush(stderr);
        _exit(0);
    }
    close(err_pipe[1]);
    ChildResult result;
    char buffer[4096];
    ssize_t n;
    while ((n = read(err_pipe[0], buffer, sizeof(buffer))) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) result.err.append(buffer, n);
    close(err_pipe[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
