#include "AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::atomic<unsigned> sCounter{0};

void sSplit(const std::string& path, std::string& dir, std::string& base) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        dir.assign(1, '.');
        base = path;
    } else {
        dir = path.substr(0, slash == 0 ? 1 : slash);
        base = path.substr(slash + 1);
    }
}

// Makes the rename itself durable.
void sSyncDirectory(const std::string& dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}
} // namespace

AtomicFile::AtomicFile(std::string path) : target(std::move(path)) {}

AtomicFile::~AtomicFile() {
    if (stream) fclose(stream);
    if (!tempPath.empty()) unlink(tempPath.c_str());
}

bool AtomicFile::Open() {
    std::string dir, base;
    sSplit(target, dir, base);
    if (base.empty()) {
        errno = EISDIR;
        return false;
    }
    std::random_device random;
    for (int attempt = 0; attempt < 16; attempt++) {
        char suffix[64];
        snprintf(suffix, sizeof(suffix), ".tmp.%d.%u.%08x", (int)getpid(), sCounter++, random());
        // Cut long names so the temporary one still fits the file system's name limit.
        std::string candidate = dir + "/." + base.substr(0, 128) + suffix;
        // O_EXCL: never follow or reuse something already there; 0666 lets umask decide.
        int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        // A replaced file keeps its permission bits.
        struct stat old;
        if (stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode))
            fchmod(fd, old.st_mode & 07777);
        stream = fdopen(fd, "wb");
        if (!stream) {
            int saved = errno;
            close(fd);
            unlink(candidate.c_str());
            errno = saved;
            return false;
        }
        tempPath = candidate;
        return true;
    }
    errno = EEXIST;
    return false;
}

aErr AtomicFile::Write(const void* data, size_t length) {
    if (!stream) return aErrMode;
    if (length == 0) return aErrNone;
    if (!data) return aErrParam;
    if (fwrite(data, 1, length, stream) != length) {
        failed = true;
        return aErrIO;
    }
    return aErrNone;
}

bool AtomicFile::Commit() {
    if (!stream) {
        errno = EBADF;
        return false;
    }
    bool ok = !failed && !ferror(stream) && fflush(stream) == 0 && fsync(fileno(stream)) == 0;
    int saved = errno;
    if (fclose(stream) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    stream = nullptr;
    if (ok && rename(tempPath.c_str(), target.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        if (failed && saved == 0) saved = EIO;
        unlink(tempPath.c_str());
        tempPath.clear();
        errno = saved;
        return false;
    }
    tempPath.clear();
    std::string dir, base;
    sSplit(target, dir, base);
    sSyncDirectory(dir);
    return true;
}
