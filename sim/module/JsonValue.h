// A small JSON reader for simulator configuration files.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vzsim {

struct JsonValue {
    enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> members;

    const JsonValue* get(const std::string& key) const;
};

// Parses a whole document; false with a message (and position) on error.
bool parseJson(const std::string& text, JsonValue* out, std::string* error);

} // namespace vzsim
