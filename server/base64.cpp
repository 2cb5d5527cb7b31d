#include "base64.h"

namespace {

// -1 marks bytes outside the alphabet.
int sValue(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

} // namespace

uint8_t* base64_decode(const char* text, size_t length, size_t* decodedLength) {
    if (decodedLength) *decodedLength = 0;
    if (!text || length % 4 != 0) return nullptr;

    size_t padding = 0;
    if (length >= 1 && text[length - 1] == '=') padding++;
    if (length >= 2 && text[length - 2] == '=') padding++;
    // "x=y=" style padding, where the last character is not "=", is no padding at all.
    if (padding == 1 && text[length - 1] != '=') return nullptr;

    size_t size = length / 4 * 3 - padding;
    uint8_t* out = new uint8_t[size + 1];
    size_t at = 0;
    for (size_t i = 0; i < length; i += 4) {
        bool last = i + 4 == length;
        int v[4];
        for (size_t k = 0; k < 4; k++) {
            bool pad = last && k >= 4 - padding;
            v[k] = pad ? 0 : sValue((unsigned char)text[i + k]);
            if (v[k] < 0) {
                delete[] out;
                return nullptr;
            }
        }
        uint32_t group = (uint32_t)v[0] << 18 | (uint32_t)v[1] << 12 | (uint32_t)v[2] << 6 | v[3];
        out[at++] = (uint8_t)(group >> 16);
        if (at < size) out[at++] = (uint8_t)(group >> 8);
        if (at < size) out[at++] = (uint8_t)group;
    }
    out[size] = 0;
    if (decodedLength) *decodedLength = size;
    return out;
}
