#include "LocalUpdateServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "vzserver-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::remove_all(dir, ec);
}

void ScratchDir::write(const std::string& name, const std::string& bytes) const {
    fs::path file = fs::path(dir) / name;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

namespace {

int sSpawn(const std::vector<std::string>& argv, const std::string& out, const std::string& err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
    return pid;
}

} // namespace

LocalUpdateServer::LocalUpdateServer(const std::string& root,
                                     const std::vector<std::string>& extra) {
    std::string ready = scratch / "ready";
    std::vector<std::string> argv = {VZUPDATE_SERVER, "--root", root, "--ready-file", ready};
    argv.insert(argv.end(), extra.begin(), extra.end());
    pid = sSpawn(argv, scratch / "out", scratch / "err");
    for (int i = 0; i < 1000 && portNumber == 0; i++) {
        std::string text = ReadFile(ready);
        if (!text.empty()) {
            portNumber = std::stoi(text);
            break;
        }
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            throw std::runtime_error("vzupdate-server ended: " + ReadFile(scratch / "err"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (portNumber == 0) throw std::runtime_error("vzupdate-server did not get ready");
}

LocalUpdateServer::~LocalUpdateServer() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
    }
}

std::string LocalUpdateServer::url(const char* scheme) const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(portNumber) + "/cgi/u";
}

ProgramResult RunProgram(const std::vector<std::string>& argv) {
    ScratchDir scratch;
    ProgramResult result;
    int pid = sSpawn(argv, scratch / "out", scratch / "err");
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(scratch / "out");
    result.err = ReadFile(scratch / "err");
    return result;
}

int UnusedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, (sockaddr*)&address, sizeof(address));
    socklen_t length = sizeof(address);
    getsockname(fd, (sockaddr*)&address, &length);
    close(fd);
    return ntohs(address.sin_port);
}
