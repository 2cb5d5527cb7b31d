#include "UpdaterStore.h"

#include <cstdio>
#include <stdexcept>
#include <sys/stat.h>

#include "BuildPath.h"
#include "Log.h"
#include "aDirectory.h"

namespace {
struct sEntry {
    std::string directory;
    std::string name;
    uint32_t size;
    bool isDirectory;
};

bool sCollect(const aDirectoryListData* data, void* context) {
    auto* entries = static_cast<std::vector<sEntry>*>(context);
    std::string path(data->path);
    size_t slash = path.rfind('/');
    sEntry entry;
    entry.directory = slash == std::string::npos ? std::string() : path.substr(0, slash);
    entry.name = slash == std::string::npos ? path : path.substr(slash + 1);
    entry.size = data->size;
    entry.isDirectory = data->isDirectory != 0;
    entries->push_back(entry);
    return true;
}

// An unreadable directory lists as empty.
std::vector<sEntry> sList(const std::string& directory) {
    std::vector<sEntry> entries;
    aDirectory_List(directory.c_str(), sCollect, &entries);
    return entries;
}

void sEnsureDirectory(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        aErr err = aDirectory_Ensure(path.c_str(), UpdaterStore::DIRECTORY_MODE);
        if (err != aErrNone)
            throw std::runtime_error("UpdaterStore: Could not create directory " + path +
                                     " error " + std::to_string(err));
        Log::log(DEBUG_Updater, "UpdaterStore: Created directory [%s].\n", path.c_str());
    } else if (!S_ISDIR(st.st_mode)) {
        throw std::runtime_error("UpdaterStore: " + path + " exists and is a file");
    } else {
        Log::log(DEBUG_Updater, "UpdaterStore: [%s] already exists.\n", path.c_str());
    }
}
} // namespace

std::string UpdaterStore::SerialText(uint32_t serial) {
    char text[16];
    snprintf(text, sizeof(text), "%08X", serial);
    return text;
}

UpdaterStore::UpdaterStore(const std::string& path) : basePath(path) {
    sEnsureDirectory(path);
}

UpdaterStoreItem UpdaterStore::AddDevice(uint32_t serial) {
    return AddDevice(SerialText(serial));
}

UpdaterStoreItem UpdaterStore::AddDevice(const std::string& name) {
    const std::string path = BuildPath(basePath, name);
    // A device name is one directory level: nothing outside the root.
    if (!UpdaterStoreItem::IsPlainName(name))
        throw std::runtime_error("UpdaterStore: Could not create directory " + path + " error " +
                                 std::to_string(aErrParam));
    sEnsureDirectory(path);
    return UpdaterStoreItem(basePath, name, STORE_ITEM_DIRECTORY);
}

bool UpdaterStore::FindDevice(uint32_t serial, UpdaterStoreItem* item) const {
    return FindDevice(SerialText(serial), item);
}

bool UpdaterStore::FindDevice(const std::string& name, UpdaterStoreItem* item) const {
    const sEntry* match = nullptr;
    std::vector<sEntry> entries = sList(basePath);
    for (const sEntry& entry : entries) {
        Log::log(DEBUG_Updater, "%s([%s], %d, %d) searching for %s\n", "_find_item",
                 BuildPath(entry.directory, entry.name).c_str(), (int)entry.isDirectory,
                 (int)entry.size, name.c_str());
        if (name.empty() || entry.name == "." || entry.name == "..") continue;
        // The exact name wins over a partial match such as "00000001.old".
        if (entry.name == name) {
            match = &entry;
            break;
        }
        if (!match && entry.name.find(name) != std::string::npos) match = &entry;
    }
    if (match && item)
        *item = UpdaterStoreItem(match->directory, match->name,
                                 match->isDirectory ? STORE_ITEM_DIRECTORY : STORE_ITEM_FILE);
    Log::log(DEBUG_Updater, "UpdaterStore: FindDevice %s %s.\n", match ? "Found" : "Not Found",
             name.c_str());
    return match != nullptr;
}

bool UpdaterStore::FindLocalBuilds(uint32_t serial, std::vector<UpdaterStoreItem>& items) const {
    UpdaterStoreItem device;
    if (!FindDevice(serial, &device)) return true;
    const std::string directory = device.Path();
    for (const sEntry& entry : sList(directory)) {
        Log::log(DEBUG_Updater, "%s([%s], %d, %d)\n", "_find_items",
                 BuildPath(entry.directory, entry.name).c_str(), (int)entry.isDirectory,
                 (int)entry.size);
        if (entry.name.empty() || entry.name[0] == '.') continue;
        items.emplace_back(directory, entry.name,
                           entry.isDirectory ? STORE_ITEM_DIRECTORY : STORE_ITEM_FILE);
    }
    return true;
}
