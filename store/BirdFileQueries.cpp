// Information-block queries and the in-memory edits of a loaded BIRD file.
#include "BirdFile.h"

#include <cctype>
#include <cstdio>

#include "Log.h"

namespace {
// Standard unsigned conversion: leading white space, optional "+" (and "0x" for base 16),
// stops at the first non-digit. A value that does not fit 32 bits reads as 0.
uint32_t sParseUnsigned(const std::string& text, int base) {
    size_t i = 0;
    while (i < text.size() && isspace((unsigned char)text[i]))
        i++;
    if (i < text.size() && text[i] == '+') i++;
    if (base == 16 && i + 1 < text.size() && text[i] == '0' && (text[i + 1] | 0x20) == 'x' &&
        i + 2 < text.size() && isxdigit((unsigned char)text[i + 2]))
        i += 2;
    uint64_t value = 0;
    for (; i < text.size(); i++) {
        int c = (unsigned char)text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && isxdigit(c))
            digit = (c | 0x20) - 'a' + 10;
        else
            break;
        value = value * base + digit;
        if (value > UINT32_MAX) return 0;
    }
    return (uint32_t)value;
}

// Text fields are C strings in their fixed width: a NUL ends them early.
std::string sCutAtNul(std::string text) {
    size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    return text;
}
} // namespace

std::string BirdFile::InfoField(uint32_t offset, uint32_t width) const {
    for (const BirdBlock& block : blocks) {
        if (block.type != BLOCK_INFO) continue;
        // A short information block yields only the bytes it really holds.
        if (block.length <= offset) return std::string();
        uint32_t take = std::min(width, block.length - offset);
        return sCutAtNul(std::string(reinterpret_cast<const char*>(block.data + offset), take));
    }
    return std::string();
}

uint32_t BirdFile::GetBuild() const {
    return sParseUnsigned(InfoField(0, 15), 10);
}

uint32_t BirdFile::GetSerialNumber() const {
    return sParseUnsigned(InfoField(32, 8), 16);
}

bool BirdFile::ValidateSerialNumber(uint32_t serial) const {
    return serial == GetSerialNumber();
}

std::string BirdFile::GetVersion() const {
    std::string text = InfoField(16, 15);
    size_t space = text.find(' ');
    if (space != std::string::npos) text.resize(space);
    return text;
}

bool BirdFile::ValidateModel(const std::string& model) const {
    if (FindBlocks(BLOCK_INFO).empty()) return false;
    std::string field = InfoField(48, 16);
    while (!field.empty() && field.back() == ' ')
        field.pop_back();
    // Only the given text's length is compared, so a leading part of the name matches.
    if (field.compare(0, model.size(), model) != 0 || field.size() < model.size()) return false;
    Log::log(DEBUG_BirdFile, "Model matches model number ([%s] == [%s])\n", field.c_str(),
             model.c_str());
    return true;
}

bool BirdFile::ReplaceSerialNumber(uint32_t serial) {
    char digits[9];
    snprintf(digits, sizeof(digits), "%08X", serial);
    bool result = false;
    for (BirdBlock& block : blocks) {
        if (block.type != BLOCK_FIRMWARE) continue;
        // Payload covers [address, address + length - 4); 64-bit so no sum wraps.
        uint64_t start = block.address;
        uint64_t end = start + block.length - 4;
        uint8_t* payload = block.data + 4;
        if (serialNumberOffset != 0) {
            uint64_t at = serialNumberOffset;
            if (at >= start && at + 4 <= end) {
                uint8_t* p = payload + (at - start);
                uint32_t old = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 |
                               (uint32_t)p[3] << 24;
                Log::log(DEBUG_BirdFile, "BIRDFILE: updating serial number from %08X ==> %08X\n",
                         old, serial);
                for (int i = 0; i < 4; i++)
                    p[i] = (uint8_t)(serial >> (8 * i));
            }
            result = true;
        }
        if (descriptorOffset != 0) {
            uint64_t at = descriptorOffset;
            if (at >= start && at + 16 <= end) {
                uint8_t* p = payload + (at - start);
                // UTF-16LE: the digit goes in the low byte, the high byte stays.
                for (int i = 0; i < 8; i++)
                    p[2 * i] = (uint8_t)digits[i];
                result = true;
            }
        }
    }
    return result;
}

bool BirdFile::DecodeFirmwareBlocks(const uint32_t words[4]) {
    uint8_t key[16];
    for (int w = 0; w < 4; w++)
        for (int b = 0; b < 4; b++)
            key[4 * w + b] = (uint8_t)(words[w] >> (24 - 8 * b));
    for (BirdBlock& block : blocks) {
        if (block.type != BLOCK_FIRMWARE) continue;
        uint8_t* payload = block.data + 4;
        uint8_t previous = 0;
        for (uint32_t i = 0; i < block.length - 4; i++) {
            payload[i] = payload[i] ^ key[i % 16] ^ previous;
            previous = payload[i];
        }
    }
    return true;
}

bool BirdFile::DumpBlocks(uint8_t type) const {
    printf("BIRDFILE: BLOCK DUMP [%s]\n", path.c_str());
    for (const BirdBlock& block : blocks) {
        if (block.type != type) continue;
        std::string text;
        for (uint32_t i = 0; i < block.length; i++) {
            if (i % 50 == 0) {
                printf(" %s\r\n%06d: ", text.c_str(), (int)i);
                text.clear();
            }
            uint8_t c = block.data[i];
            printf("%02X ", c);
            text += isprint(c) ? (char)c : ' ';
        }
        printf(" %s\n", text.c_str());
    }
    printf("\n");
    return true;
}
