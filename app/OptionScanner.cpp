#include "OptionScanner.h"

#include <cstring>

namespace {

size_t sDashes(const char* text) {
    size_t n = 0;
    while (text[n] == '-')
        ++n;
    return n;
}

} // namespace

OptionScanner::OptionScanner(int argc_, char** argv_, const OptionEntry* table_, size_t count_)
    : argc(argc_ > 0 && argv_ ? argc_ : 0), argv(argv_), table(table_), count(count_), limit(argc) {
}

int OptionScanner::lookup(const std::string& text, ScanResult& result) const {
    for (size_t i = 0; i < count; ++i)
        if (text == table[i].text) {
            result = ScanResult::Found;
            return static_cast<int>(i);
        }
    const size_t dashes = sDashes(text.c_str());
    int found = -1;
    int matches = 0;
    for (size_t i = 0; i < count; ++i) {
        const char* candidate = table[i].text;
        if (sDashes(candidate) != dashes) continue;
        if (strlen(candidate) > text.size() && strncmp(candidate, text.c_str(), text.size()) == 0) {
            found = static_cast<int>(i);
            ++matches;
        }
    }
    if (matches == 1) {
        result = ScanResult::Found;
        return found;
    }
    result = matches == 0 ? ScanResult::Unknown : ScanResult::Ambiguous;
    return -1;
}

void OptionScanner::moveBehind(int at) {
    char* word = argv[at];
    for (int i = at; i + 1 < argc; ++i)
        argv[i] = argv[i + 1];
    argv[argc - 1] = word;
    --limit;
}

bool OptionScanner::Next(ScanItem& item) {
    while (position < limit) {
        const char* element = argv[position];
        if (!element || element[0] != '-') {
            moveBehind(position);
            continue;
        }
        item = ScanItem{};
        item.element = element;
        const char* equals = strchr(element, '=');
        item.text = equals ? std::string(element, equals - element) : std::string(element);
        item.index = lookup(item.text, item.result);
        ++position;
        if (item.result != ScanResult::Found) return true;

        const OptionEntry& entry = table[item.index];
        if (!entry.takes_value) {
            if (equals) item.result = ScanResult::UnexpectedValue;
        } else if (equals) {
            item.value = equals + 1;
        } else if (position < limit && argv[position] && argv[position][0] != '-') {
            item.value = argv[position++];
        } else {
            item.result = ScanResult::MissingValue;
        }
        if (item.result != ScanResult::Found) item.index = -1;
        return true;
    }
    return false;
}
