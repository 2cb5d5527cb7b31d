// Walks argv against an option table. Options may be shortened to a unique prefix (same
// number of leading dashes) and take values as "-x value" or "-x=value"; words that are
// not options are moved behind the options.
#pragma once

#include <cstddef>
#include <string>

struct OptionEntry {
    const char* text;
    int group;
    bool takes_value;
};

enum class ScanResult {
    Found,           // index and value are set
    Unknown,         // matches no entry
    Ambiguous,       // prefix of two or more entries
    MissingValue,    // no value, or the next element begins with "-"
    UnexpectedValue, // "=" value on an option that takes none
};

struct ScanItem {
    ScanResult result = ScanResult::Unknown;
    int index = -1;              // table entry when found
    const char* element = "";    // the element as given
    std::string text;            // option text, without any "=" part
    const char* value = nullptr; // null when the option takes none
};

class OptionScanner {
  public:
    OptionScanner(int argc, char** argv, const OptionEntry* table, size_t count);

    // Fills item with the next option (or scanning error); false once all are taken.
    bool Next(ScanItem& item);

  private:
    int lookup(const std::string& text, ScanResult& result) const;
    void moveBehind(int position);

    int argc;
    char** argv;
    const OptionEntry* table;
    size_t count;
    int position = 1;
    int limit; // elements from here on are words already moved behind
};
