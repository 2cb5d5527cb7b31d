// Replaces a file whole: writes a temporary file beside it, syncs it, renames it into place.
// A crash leaves either the old file or the new one, never a half-written one under the real name.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "aError.h"

class AtomicFile {
  public:
    explicit AtomicFile(std::string target);
    ~AtomicFile(); // removes the temporary file unless committed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file; false with errno set when that fails.
    bool Open();
    FILE* Stream() { return stream; }
    aErr Write(const void* data, size_t length);
    // Flushes, syncs, closes and renames; false with errno set on any failure.
    bool Commit();
    // The temporary name starts with "." so store listings never show it.
    const std::string& TempPath() const { return tempPath; }

  private:
    std::string target;
    std::string tempPath;
    FILE* stream = nullptr;
    bool failed = false;
};
