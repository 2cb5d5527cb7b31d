#include "JsonValue.h"

#include <cstdlib>

namespace vzsim {
namespace {

class Parser {
  public:
    explicit Parser(const std::string& text) : s_(text) {}

    bool document(JsonValue* out, std::string* error) {
        bool ok = value(out, 0);
        skip();
        if (ok && i_ != s_.size()) ok = fail("trailing characters");
        if (!ok && error) *error = error_ + " at offset " + std::to_string(i_);
        return ok;
    }

  private:
    bool fail(const char* what) {
        if (error_.empty()) error_ = what;
        return false;
    }
    void skip() {
        while (i_ < s_.size() &&
               (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r'))
            i_++;
    }
    bool literal(const char* word) {
        size_t n = std::char_traits<char>::length(word);
        if (s_.compare(i_, n, word) != 0) return fail("unexpected word");
        i_ += n;
        return true;
    }
    bool value(JsonValue* out, int depth) {
        if (depth > 64) return fail("nested too deeply");
        skip();
        if (i_ >= s_.size()) return fail("unexpected end");
        char c = s_[i_];
        if (c == '{') return object(out, depth);
        if (c == '[') return array(out, depth);
        if (c == '"') {
            out->type = JsonValue::Type::String;
            return string(&out->text);
        }
        if (c == 't' || c == 'f') {
            out->type = JsonValue::Type::Bool;
            out->boolean = c == 't';
            return literal(c == 't' ? "true" : "false");
        }
        if (c == 'n') {
            out->type = JsonValue::Type::Null;
            return literal("null");
        }
        const char* start = s_.c_str() + i_;
        char* end = nullptr;
        out->number = strtod(start, &end);
        if (end == start) return fail("unexpected character");
        out->type = JsonValue::Type::Number;
        i_ += size_t(end - start);
        return true;
    }
    bool string(std::string* out) {
        i_++; // opening quote
        while (i_ < s_.size() && s_[i_] != '"') {
            char c = s_[i_++];
            if (c != '\\') {
                out->push_back(c);
                continue;
            }
            if (i_ >= s_.size()) break;
            char e = s_[i_++];
            switch (e) {
            case 'n':
                out->push_back('\n');
                break;
            case 't':
                out->push_back('\t');
                break;
            case 'r':
                out->push_back('\r');
                break;
            case 'b':
                out->push_back('\b');
                break;
            case 'f':
                out->push_back('\f');
                break;
            case 'u': {
                if (i_ + 4 > s_.size()) return fail("bad escape");
                unsigned code = (unsigned)strtoul(s_.substr(i_, 4).c_str(), nullptr, 16);
                i_ += 4;
                if (code < 0x80) {
                    out->push_back(char(code));
                } else if (code < 0x800) {
                    out->push_back(char(0xC0 | (code >> 6)));
                    out->push_back(char(0x80 | (code & 0x3F)));
                } else {
                    out->push_back(char(0xE0 | (code >> 12)));
                    out->push_back(char(0x80 | ((code >> 6) & 0x3F)));
                    out->push_back(char(0x80 | (code & 0x3F)));
                }
                break;
            }
            default:
                out->push_back(e);
                break;
            }
        }
        if (i_ >= s_.size()) return fail("unterminated string");
        i_++;
        return true;
    }
    bool array(JsonValue* out, int depth) {
        out->type = JsonValue::Type::Array;
        i_++;
        skip();
        if (i_ < s_.size() && s_[i_] == ']') {
            i_++;
            return true;
        }
        for (;;) {
            out->items.emplace_back();
            if (!value(&out->items.back(), depth + 1)) return false;
            skip();
            if (i_ < s_.size() && s_[i_] == ',') {
                i_++;
                continue;
            }
            if (i_ < s_.size() && s_[i_] == ']') {
                i_++;
                return true;
            }
            return fail("expected , or ]");
        }
    }
    bool object(JsonValue* out, int depth) {
        out->type = JsonValue::Type::Object;
        i_++;
        skip();
        if (i_ < s_.size() && s_[i_] == '}') {
            i_++;
            return true;
        }
        for (;;) {
            skip();
            if (i_ >= s_.size() || s_[i_] != '"') return fail("expected a key");
            std::string key;
            if (!string(&key)) return false;
            skip();
            if (i_ >= s_.size() || s_[i_] != ':') return fail("expected :");
            i_++;
            if (!value(&out->members[key], depth + 1)) return false;
            skip();
            if (i_ < s_.size() && s_[i_] == ',') {
                i_++;
                continue;
            }
            if (i_ < s_.size() && s_[i_] == '}') {
                i_++;
                return true;
            }
            return fail("expected , or }");
        }
    }

    const std::string& s_;
    size_t i_ = 0;
    std::string error_;
};

} // namespace

const JsonValue* JsonValue::get(const std::string& key) const {
    auto it = members.find(key);
    return it == members.end() ? nullptr : &it->second;
}

bool parseJson(const std::string& text, JsonValue* out, std::string* error) {
    *out = JsonValue();
    return Parser(text).document(out, error);
}

} // namespace vzsim
