// Standard base64 (RFC 4648 alphabet, "=" padding) for downloaded BIRD files.
#pragma once

#include <cstddef>
#include <cstdint>

// Returns a new[] buffer holding the data and one extra zero byte, or nullptr
// when the length is not a multiple of 4, a character lies outside the
// alphabet, or padding appears anywhere but at the end. Release with delete[].
uint8_t* base64_decode(const char* text, size_t length, size_t* decodedLength);
