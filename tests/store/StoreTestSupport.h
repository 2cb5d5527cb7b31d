// Temporary directories, log capture and file helpers for the store tests.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "BirdWriter.h"
#include "Log.h"

struct TempDir {
    std::string path;
    TempDir() {
        char pattern[] = "/tmp/store_tests.XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

// Collects every diagnostic log line while it lives.
class LogCapture {
  public:
    LogCapture() {
        stream = open_memstream(&text, &length);
        savedOutput = Log::fh;
        savedMask = Log::package_bitmask;
        Log::SetOutput(stream);
        Log::ActivatePackage(0xFFFFFFFF);
    }
    ~LogCapture() {
        Log::SetOutput(savedOutput);
        Log::package_bitmask = savedMask;
        fclose(stream);
        free(text);
    }
    std::string Text() {
        fflush(stream);
        return std::string(text, length);
    }
    bool Has(const std::string& line) { return Text().find(line) != std::string::npos; }

  private:
    FILE* stream = nullptr;
    FILE* savedOutput = nullptr;
    uint32_t savedMask = 0;
    char* text = nullptr;
    size_t length = 0;
};

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

inline void WriteText(const std::string& path, const std::string& text) {
    WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

inline std::string ReadText(const std::string& path) {
    std::string text;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return text;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof(chunk), f)) > 0)
        text.append(chunk, got);
    fclose(f);
    return text;
}

inline bool PathExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Counting bytes, different per seed, so blocks are told apart.
inline std::vector<uint8_t> Pattern(size_t count, uint8_t seed = 1) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; i++)
        bytes[i] = (uint8_t)(seed + i * 13);
    return bytes;
}

// A file whose body is exactly the given bytes (no block structure imposed).
inline std::vector<uint8_t> FileWithBody(const std::vector<uint8_t>& body) {
    return BirdWriter::WithHeader(BirdWriter::Compress(body));
}

inline void PutInt(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back((uint8_t)(value >> shift));
}
