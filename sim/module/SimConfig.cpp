#include "SimConfig.h"

#include <cstdio>
#include <cstdlib>

#include "JsonValue.h"

namespace vzsim {

bool parseNumber(const std::string& text, uint32_t* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    unsigned long v = strtoul(text.c_str(), &end, 0);
    if (*end || v > 0xFFFFFFFFul || text[0] == '-') return false;
    *value = uint32_t(v);
    return true;
}

bool parseSerial(const std::string& text, uint32_t* value) {
    std::string digits =
        text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0 ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 8) return false;
    char* end = nullptr;
    unsigned long v = strtoul(digits.c_str(), &end, 16);
    if (*end || digits[0] == '-' || digits[0] == '+') return false;
    *value = uint32_t(v);
    return true;
}

bool parseVersion(const std::string& text, uint32_t* word) {
    unsigned major, minor, patch;
    char tail;
    if (sscanf(text.c_str(), "%u.%u.%u%c", &major, &minor, &patch, &tail) == 3) {
        if (major > 255 || minor > 255 || patch > 255) return false;
        *word = 0x2F000000u | major << 16 | minor << 8 | patch;
        return true;
    }
    return parseNumber(text, word);
}

namespace {

bool sNumber(const JsonValue& v, uint32_t* out) {
    if (v.type == JsonValue::Type::Number && v.number >= 0 && v.number <= 4294967295.0) {
        *out = uint32_t(v.number);
        return true;
    }
    return v.type == JsonValue::Type::String && parseNumber(v.text, out);
}

bool sIdentity(const JsonValue& o, ModuleIdentity* id, std::string* error) {
    uint32_t n;
    if (const JsonValue* v = o.get("serial")) {
        bool ok = v->type == JsonValue::Type::String ? parseSerial(v->text, &n) : sNumber(*v, &n);
        if (!ok) return *error = "bad serial", false;
        id->serial = n;
    }
    struct {
        const char* key;
        uint8_t* field;
    } bytes[] = {{"model", &id->model}, {"address", &id->address}, {"router", &id->router}};
    for (auto& b : bytes)
        if (const JsonValue* v = o.get(b.key)) {
            if (!sNumber(*v, &n) || n > 255) return *error = std::string("bad ") + b.key, false;
            *b.field = uint8_t(n);
        }
    if (const JsonValue* v = o.get("name")) id->name = v->text;
    if (const JsonValue* v = o.get("version")) {
        bool ok = v->type == JsonValue::Type::String ? parseVersion(v->text, &n) : sNumber(*v, &n);
        if (!ok) return *error = "bad version", false;
        id->version = n;
    }
    if (const JsonValue* v = o.get("build")) {
        if (!sNumber(*v, &n)) return *error = "bad build", false;
        id->build = n;
    }
    if (const JsonValue* v = o.get("hardwareVersion")) {
        if (!sNumber(*v, &n)) return *error = "bad hardwareVersion", false;
        id->hardwareVersion = n;
    }
    return true;
}

bool sModule(const JsonValue& o, SimModuleConfig* m, std::string* error) {
    if (o.type != JsonValue::Type::Object) return *error = "a module must be an object", false;
    if (!sIdentity(o, &m->identity, error)) return false;
    uint32_t n;
    if (const JsonValue* v = o.get("tcp")) {
        if (!sNumber(*v, &n) || n > 65535) return *error = "bad tcp port", false;
        m->tcpPort = int(n);
    }
    if (const JsonValue* v = o.get("bind")) m->bindAddress = v->text;
    if (const JsonValue* v = o.get("pty")) m->ptyPath = v->text;
    if (const JsonValue* v = o.get("heartbeatMs")) {
        if (!sNumber(*v, &n)) return *error = "bad heartbeatMs", false;
        m->heartbeatMs = n;
    }
    if (const JsonValue* f = o.get("faults")) {
        if (const JsonValue* v = f->get("dropReplies"))
            for (const JsonValue& item : v->items)
                if (sNumber(item, &n)) m->faults.dropReplies.insert(n);
        if (const JsonValue* v = f->get("delayMs"); v && sNumber(*v, &n)) m->faults.delayMs = n;
        if (const JsonValue* v = f->get("closeAfterReplies"); v && sNumber(*v, &n))
            m->faults.closeAfterReplies = n;
        if (const JsonValue* v = f->get("answerSync")) m->faults.answerSync = v->boolean;
    }
    if (const JsonValue* u = o.get("upgrade")) {
        UpgradeConfig& up = m->upgrade;
        if (const JsonValue* v = u->get("firmware")) up.expectedBird = v->text;
        if (const JsonValue* v = u->get("ueiData")) up.ueiData = v->boolean;
        if (const JsonValue* v = u->get("chunkSize")) {
            if (!sNumber(*v, &n) || n > 65535) return *error = "bad chunkSize", false;
            up.chunkSize = uint16_t(n);
        }
        if (const JsonValue* f = u->get("faults")) {
            struct {
                const char* key;
                bool* field;
            } flags[] = {{"wrongSumOnce", &up.faults.wrongSumOnce},
                         {"wrongCountOnce", &up.faults.wrongCountOnce},
                         {"wrongCountAlways", &up.faults.wrongCountAlways},
                         {"refusePrepare", &up.faults.refusePrepare},
                         {"zeroChunkSize", &up.faults.zeroChunkSize},
                         {"neverReturn", &up.faults.neverReturn},
                         {"ignoreReboot", &up.faults.ignoreReboot}};
            for (auto& flag : flags)
                if (const JsonValue* v = f->get(flag.key)) *flag.field = v->boolean;
            if (const JsonValue* v = f->get("dropAfterChunks"); v && sNumber(*v, &n))
                up.faults.dropAfterChunks = n;
        }
    }
    if (const JsonValue* v = o.get("behind"))
        for (const JsonValue& item : v->items) {
            ModuleIdentity id;
            id.router = m->identity.address;
            if (!sIdentity(item, &id, error)) return false;
            m->behind.push_back(id);
        }
    return true;
}

} // namespace

bool parseConfig(const std::string& json, std::vector<SimModuleConfig>* modules,
                 std::string* error) {
    JsonValue doc;
    if (!parseJson(json, &doc, error)) return false;
    std::vector<const JsonValue*> items;
    if (const JsonValue* list = doc.get("modules")) {
        for (const JsonValue& item : list->items)
            items.push_back(&item);
    } else {
        items.push_back(&doc);
    }
    for (const JsonValue* item : items) {
        SimModuleConfig m;
        if (!sModule(*item, &m, error) || !validateConfig(m, error)) return false;
        modules->push_back(m);
    }
    return true;
}

bool validateConfig(const SimModuleConfig& m, std::string* error) {
    auto check = [&](const ModuleIdentity& id) {
        if (id.address == 0 || (id.address & 1))
            return *error = "module address must be even and non-zero", false;
        if (id.serial == 0) return *error = "serial number must not be 0", false;
        return true;
    };
    if (!check(m.identity)) return false;
    for (const ModuleIdentity& id : m.behind)
        if (!check(id)) return false;
    return true;
}

} // namespace vzsim
