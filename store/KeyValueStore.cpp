#include "KeyValueStore.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "AtomicFile.h"
#include "Log.h"
#include "aFile.h"

namespace {
bool sIsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string sTrimRight(std::string text) {
    while (!text.empty() && sIsSpace(text.back()))
        text.pop_back();
    return text;
}

// A key or value holding a newline would come back as two lines (and could forge a key).
std::string sOneLine(const std::string& text) {
    std::string line = text;
    for (char& c : line)
        if (c == '\n') c = ' ';
    return line;
}
} // namespace

std::string KeyValueStore::TimeStamp() {
    time_t now = time(nullptr);
    struct tm local;
    char text[64] = {};
    if (!localtime_r(&now, &local) || !asctime_r(&local, text)) return std::string();
    return sTrimRight(text);
}

void KeyValueStore::Load(const std::string& path) {
    errno = 0; // a refused path sets none
    aFile* file = aFile_Open(path.c_str(), aFileModeReadOnly);
    if (!file) {
        int error = errno;
        Log::log(DEBUG_Attributes, "Attibutes: Error - cannot open attributes file: '%s' (%d)\n",
                 path.c_str(), error);
        Add(KEY_CREATED_TIME, TimeStamp());
        if (error == ENOENT) {
            Save(path);
        } else {
            // The file may be there but unreadable just now: never overwrite it blind.
            fileName = path;
            Add(KEY_UPDATED_TIME, (*this)[KEY_CREATED_TIME].value_or(""));
        }
        return;
    }
    fileName = path;
    dirty = false;
    char line[LINE_BUFFER];
    for (;;) {
        size_t length = 0;
        aErr err = aFile_ReadLine(file, line, sizeof(line), &length);
        if (err != aErrNone && err != aErrOverrun) break;
        ParseLine(line);
    }
    aFile_Close(&file);
}

void KeyValueStore::ParseLine(const char* line) {
    if (strlen(line) < 3 || line[0] == '#') return;
    while (*line && sIsSpace(*line))
        line++;
    const char* equals = strchr(line, '=');
    // A line without "=" carries no value: it is skipped.
    if (!equals) return;
    std::string key = sTrimRight(std::string(line, equals - line));
    const char* value = equals + 1;
    while (*value && sIsSpace(*value))
        value++;
    entries[key] = sTrimRight(value);
}

void KeyValueStore::Save(const std::string& path) {
    if (!path.empty()) {
        fileName = path;
    } else if (fileName.empty()) {
        fileName = DEFAULT_FILENAME;
        Log::log(DEBUG_Attributes,
                 "Attibutes: no filename given for attributes, using default:[%s]\n",
                 fileName.c_str());
    }
    if (dirty) Add(KEY_UPDATED_TIME, TimeStamp());

    AtomicFile file(fileName);
    if (!file.Open()) {
        Log::log(DEBUG_Attributes,
                 "Attibutes: Error - cannot open attributes file for writting: '%s' (%d)\n",
                 fileName.c_str(), errno);
        return;
    }
    for (const auto& [key, value] : entries)
        fprintf(file.Stream(), "%s=%s\n", sOneLine(key).c_str(), sOneLine(value).c_str());
    if (!file.Commit()) {
        Log::log(DEBUG_Attributes, "Attibutes: Error - cannot write attributes file: '%s' (%d)\n",
                 fileName.c_str(), errno);
        return;
    }
    dirty = false;
}

std::optional<std::string> KeyValueStore::operator[](const std::string& key) const {
    auto it = entries.find(key);
    if (it == entries.end()) return std::nullopt;
    return it->second;
}

std::string KeyValueStore::GetString(const std::string& key, const char* defaultValue) const {
    auto it = entries.find(key);
    if (it != entries.end()) return it->second;
    return defaultValue ? defaultValue : "";
}

const std::string& KeyValueStore::Value(const std::string& key) {
    return entries[key];
}

int32_t KeyValueStore::GetInt(const std::string& key, int32_t defaultValue) {
    const std::string& value = Value(key);
    if (value.empty()) return defaultValue;
    // atoi's reading, but clamped instead of undefined on overflow.
    long long n = strtoll(value.c_str(), nullptr, 10);
    if (n > INT32_MAX) return INT32_MAX;
    if (n < INT32_MIN) return INT32_MIN;
    return (int32_t)n;
}

uint32_t KeyValueStore::GetHex(const std::string& key, uint32_t defaultValue) {
    const std::string& value = Value(key);
    if (value.empty()) return defaultValue;
    return (uint32_t)strtoul(value.c_str(), nullptr, 16);
}

bool KeyValueStore::GetBOOL(const std::string& key, bool defaultValue) {
    if (Value(key).empty()) return defaultValue;
    return GetInt(key, 0) != 0;
}

double KeyValueStore::GetDouble(const std::string& key, double defaultValue) {
    const std::string& value = Value(key);
    if (value.empty()) return defaultValue;
    return strtod(value.c_str(), nullptr);
}

bool KeyValueStore::Add(const std::string& key, const std::string& value) {
    auto it = entries.find(key);
    const std::string old = it == entries.end() ? std::string() : it->second;
    if (old != value) dirty = true;
    entries[key] = value;
    return true;
}

bool KeyValueStore::Add(const std::string& key, const char* value) {
    return Add(key, std::string(value ? value : ""));
}

bool KeyValueStore::Add(const std::string& key, int32_t value) {
    return Add(key, std::to_string(value));
}

bool KeyValueStore::Add(const std::string& key, double value) {
    char text[512];
    snprintf(text, sizeof(text), "%f", value);
    return Add(key, std::string(text));
}

bool KeyValueStore::AddHex(const std::string& key, uint32_t value) {
    char text[16];
    snprintf(text, sizeof(text), "0x%08X", value);
    return Add(key, std::string(text));
}

bool KeyValueStore::Add(const KeyValueStore& other) {
    if (!other.entries.empty()) dirty = true;
    for (const auto& [key, value] : other.entries)
        entries[key] = value;
    return true;
}

bool KeyValueStore::Clear() {
    entries.clear();
    dirty = true;
    return true;
}
