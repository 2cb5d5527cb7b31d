// Test helpers: a scratch directory, a vzupdate-server child process on
// 127.0.0.1 with an ephemeral port, and running a program to completion.
#pragma once

#include <string>
#include <vector>

class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    const std::string& path() const { return dir; }
    std::string operator/(const std::string& name) const { return dir + "/" + name; }
    // Writes a file, making parent directories.
    void write(const std::string& name, const std::string& bytes) const;

  private:
    std::string dir;
};

class LocalUpdateServer {
  public:
    // Starts the server on `root` with extra command-line arguments; waits until it listens.
    LocalUpdateServer(const std::string& root, const std::vector<std::string>& extra = {});
    ~LocalUpdateServer();
    int port() const { return portNumber; }
    // http(s)://127.0.0.1:<port>/cgi/u
    std::string url(const char* scheme = "http") const;

  private:
    ScratchDir scratch;
    int pid = -1;
    int portNumber = 0;
};

struct ProgramResult {
    int status = -1;
    std::string out;
    std::string err;
};

ProgramResult RunProgram(const std::vector<std::string>& argv);

// A TCP port on 127.0.0.1 that nothing listens on (bound, then released).
int UnusedPort();

std::string ReadFile(const std::string& path);
