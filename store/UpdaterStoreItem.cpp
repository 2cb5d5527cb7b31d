#include "UpdaterStoreItem.h"

#include <cerrno>
#include <stdexcept>

#include "AtomicFile.h"
#include "BuildPath.h"
#include "Log.h"

UpdaterStoreItem::UpdaterStoreItem(const std::string& base, const std::string& entry,
                                   store_item_t itemKind)
    : basePath(base), name(entry), kind(itemKind) {
    settings.Load(BuildPath(basePath, name, KeyValueStore::DEFAULT_FILENAME));
}

std::string UpdaterStoreItem::Path() const {
    return BuildPath(basePath, name);
}

bool UpdaterStoreItem::IsPlainName(const std::string& entry) {
    return !entry.empty() && entry != "." && entry != ".." &&
           entry.find('/') == std::string::npos && entry.find('\0') == std::string::npos;
}

aErr UpdaterStoreItem::WriteFile(const std::string& fileName, const uint8_t* data, size_t length) {
    if (!data) return aErrNotFound;
    // Names come from the server or the settings file: keep them inside the device directory.
    if (!IsPlainName(fileName)) return aErrParam;
    const std::string path = BuildPath(basePath, name, fileName);
    AtomicFile file(path);
    if (!file.Open()) {
        Log::log(DEBUG_Updater, "UpdaterStore: cannot open %s for writing (%d)\n", path.c_str(),
                 errno);
        return aErrNotFound;
    }
    aErr err = file.Write(data, length);
    if (err != aErrNone) return err;
    if (!file.Commit()) {
        Log::log(DEBUG_Updater, "UpdaterStore: cannot write %s (%d)\n", path.c_str(), errno);
        return aErrIO;
    }
    return aErrNone;
}

BirdFile UpdaterStoreItem::ReadBirdFile(const std::string& fileName) const {
    const std::string path = BuildPath(basePath, name, fileName);
    if (!IsPlainName(fileName) || !BirdFile::VerifyFile(path))
        throw std::runtime_error("Invalid bird " + path);
    return BirdFile(path);
}
