// One entry of the local store: a device directory, or a file in one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "BirdFile.h"
#include "KeyValueStore.h"
#include "aError.h"

typedef enum {
    STORE_ITEM_FILE = 0,
    STORE_ITEM_DIRECTORY = 1,
    STORE_ITEM_NONE = 2,
} store_item_t;

class UpdaterStoreItem {
  public:
    UpdaterStoreItem() = default;
    // Loads basePath/name/.settings (a missing file is created).
    UpdaterStoreItem(const std::string& basePath, const std::string& name, store_item_t kind);

    bool IsValid() const { return !basePath.empty() && !name.empty(); }
    // basePath/name
    std::string Path() const;

    // Replaces basePath/name/fileName whole (temporary file, sync, rename).
    aErr WriteFile(const std::string& fileName, const uint8_t* data, size_t length);
    // Throws "Invalid bird <path>" or "Failed to load bird data".
    BirdFile ReadBirdFile(const std::string& fileName) const;

    // A plain entry name: no "/", not "." or "..", not empty.
    static bool IsPlainName(const std::string& name);

    std::string basePath;
    std::string name;
    store_item_t kind = STORE_ITEM_NONE;
    KeyValueStore settings;
};
