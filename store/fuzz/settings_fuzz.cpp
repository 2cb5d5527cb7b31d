// libFuzzer target: the settings-file reader, and a save and reload of what it read.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "KeyValueStore.h"

namespace {
std::string sDir;

void sWrite(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) abort();
    if (size) fwrite(data, 1, size, f);
    fclose(f);
}

// Lines that the grammar itself cannot carry back: comment-like keys, the empty line,
// and lines longer than one read.
bool sRoundTrips(const std::string& key, const std::string& value) {
    if (!key.empty() && key[0] == '#') return false;
    if (key.empty() && value.empty()) return false;
    return key.size() + value.size() + 2 < KeyValueStore::LINE_BUFFER;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/dev/shm/settings_fuzz.XXXXXX";
    char pattern2[] = "/tmp/settings_fuzz.XXXXXX";
    char* dir = mkdtemp(pattern);
    if (!dir) dir = mkdtemp(pattern2);
    if (!dir) abort();
    sDir = dir;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in = sDir + "/in", out = sDir + "/out";
    sWrite(in, data, size);
    KeyValueStore kv(in);
    if (kv.IsDirty()) abort(); // a file that opens never marks the store changed
    kv.GetInt("A");
    kv.GetHex("B");
    kv.GetDouble("C");
    kv.GetBOOL("D");
    kv.Save(out);
    KeyValueStore back(out);
    for (const auto& [key, value] : kv.Entries()) {
        if (!sRoundTrips(key, value)) continue;
        auto again = back[key];
        if (!again || *again != value) abort();
    }
    unlink(out.c_str());
    return 0;
}
