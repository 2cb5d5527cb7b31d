// Small persistent dictionary kept as "key=value" lines (a device's ".settings").
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

class KeyValueStore {
  public:
    static constexpr const char* DEFAULT_FILENAME = ".settings";
    static constexpr const char* KEY_CREATED_TIME = "CREATED_TIME";
    static constexpr const char* KEY_UPDATED_TIME = "UPDATED_TIME";
    // Longest piece read as one line, newline included.
    static constexpr size_t LINE_BUFFER = 2048;

    KeyValueStore() = default;
    explicit KeyValueStore(const std::string& path) { Load(path); }

    void Load(const std::string& path);
    // Without a path: the file last loaded or saved, else ".settings".
    void Save(const std::string& path = std::string());

    std::optional<std::string> operator[](const std::string& key) const;
    std::string GetString(const std::string& key, const char* defaultValue = nullptr) const;
    // These enter an absent key with an empty value.
    int32_t GetInt(const std::string& key, int32_t defaultValue = 0);
    uint32_t GetHex(const std::string& key, uint32_t defaultValue = 0);
    bool GetBOOL(const std::string& key, bool defaultValue = false);
    double GetDouble(const std::string& key, double defaultValue = 0.0);

    bool Add(const std::string& key, const char* value);
    bool Add(const std::string& key, const std::string& value);
    bool Add(const std::string& key, int32_t value);
    bool Add(const std::string& key, double value);
    bool AddHex(const std::string& key, uint32_t value);
    bool Add(const KeyValueStore& other);
    bool Clear();

    const std::string& FileName() const { return fileName; }
    bool IsDirty() const { return dirty; }
    const std::map<std::string, std::string>& Entries() const { return entries; }

    // Local time as ctime writes it, without the newline ("Wed Dec  9 16:20:44 2026").
    static std::string TimeStamp();

  private:
    // Empty when absent or empty; inserts an absent key.
    const std::string& Value(const std::string& key);
    void ParseLine(const char* line);

    std::string fileName;
    std::map<std::string, std::string> entries;
    bool dirty = false;
};
