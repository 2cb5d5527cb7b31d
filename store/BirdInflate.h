// zlib decompression with a hard output cap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Inflates one zlib stream into out, never growing it past cap bytes.
// Returns zlib's codes as uncompress would: Z_OK, Z_BUF_ERROR when the
// output would exceed cap, Z_DATA_ERROR for bad or truncated input.
// Memory grows with the real output, not with cap.
int BirdInflate(const uint8_t* source, size_t length, size_t cap, std::vector<uint8_t>& out);
