// The local store: one directory per device under a root directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "UpdaterStoreItem.h"

class UpdaterStore {
  public:
    static constexpr unsigned DIRECTORY_MODE = 0755;

    // Makes sure the root exists; throws std::runtime_error when it cannot.
    explicit UpdaterStore(const std::string& path);

    const std::string& BasePath() const { return basePath; }

    // Creates root/SERIAL (or root/name) when missing; throws like the constructor.
    UpdaterStoreItem AddDevice(uint32_t serial);
    UpdaterStoreItem AddDevice(const std::string& name);

    bool FindDevice(uint32_t serial, UpdaterStoreItem* item = nullptr) const;
    bool FindDevice(uint32_t serial, UpdaterStoreItem& item) const {
        return FindDevice(serial, &item);
    }
    bool FindDevice(const std::string& name, UpdaterStoreItem* item = nullptr) const;
    bool FindDevice(const std::string& name, UpdaterStoreItem& item) const {
        return FindDevice(name, &item);
    }

    // Appends every entry of the device's directory except names beginning with ".".
    bool FindLocalBuilds(uint32_t serial, std::vector<UpdaterStoreItem>& items) const;

    static std::string SerialText(uint32_t serial);

  private:
    std::string basePath;
};
