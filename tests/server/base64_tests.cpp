#include "base64.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

namespace {

std::string sEncode(const std::string& bytes) {
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t g = (uint8_t)bytes[i] << 16;
        if (i + 1 < bytes.size()) g |= (uint8_t)bytes[i + 1] << 8;
        if (i + 2 < bytes.size()) g |= (uint8_t)bytes[i + 2];
        out += alphabet[g >> 18];
        out += alphabet[(g >> 12) & 63];
        out += i + 1 < bytes.size() ? alphabet[(g >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? alphabet[g & 63] : '=';
    }
    return out;
}

struct Decoded {
    bool ok;
    std::string bytes;
};

Decoded sDecode(const std::string& text) {
    size_t length = 99;
    std::unique_ptr<uint8_t[]> out(base64_decode(text.data(), text.size(), &length));
    if (!out) return {false, ""};
    EXPECT_EQ(out[length], 0) << "zero byte after the data";
    return {true, std::string((char*)out.get(), length)};
}

} // namespace

TEST(Base64, DecodesStandardTextWithPadding) {
    struct Case {
        const char* text;
        const char* bytes;
    } cases[] = {
        {"", ""},        {"TQ==", "M"},         {"TWE=", "Ma"},
        {"TWFu", "Man"}, {"aGVsbG8=", "hello"}, {"+/+/", "\xfb\xff\xbf"},
    };
    for (const auto& c : cases) {
        Decoded d = sDecode(c.text);
        EXPECT_TRUE(d.ok) << c.text;
        EXPECT_EQ(d.bytes, c.bytes) << c.text;
    }
}

TEST(Base64, RefusesMalformedText) {
    // Wrong length, characters outside the alphabet (URL-safe ones included),
    // padding in the middle, and a carriage return left from a line end.
    for (const char* text : {"TWFuT", "TW", "TW*u", "TW-u", "TW_u", "T=Fu", "TQ=A", "TW\ru",
                             "TWFu\r\n\r\n", "TQ==TWFu", "====", "TW u"}) {
        EXPECT_FALSE(sDecode(text).ok) << text;
    }
}

TEST(Base64, RoundTripsEveryLengthAndByte) {
    std::mt19937 random(7);
    for (size_t length = 0; length < 70; length++) {
        std::string bytes(length, '\0');
        for (auto& b : bytes)
            b = (char)(random() & 0xFF);
        Decoded d = sDecode(sEncode(bytes));
        ASSERT_TRUE(d.ok) << length;
        EXPECT_EQ(d.bytes, bytes) << length;
    }
}
