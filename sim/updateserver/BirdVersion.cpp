#include "BirdVersion.h"

#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

uint32_t sBig32(const uint8_t* p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

bool sInflate(const std::vector<uint8_t>& in, size_t offset, std::vector<uint8_t>& out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(in.data() + offset);
    z.avail_in = (uInt)(in.size() - offset);
    int rc = Z_OK;
    uint8_t chunk[16384];
    while (rc == Z_OK) {
        z.next_out = chunk;
        z.avail_out = sizeof(chunk);
        rc = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof(chunk) - z.avail_out));
        if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END;
}

} // namespace

std::string BirdVersion_Read(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> raw((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
    if (raw.size() < 6 || std::string(raw.begin(), raw.begin() + 4) != "bird") return "";
    std::vector<uint8_t> body;
    if (!sInflate(raw, 6, body) || body.size() < 4) return "";

    uint32_t count = sBig32(body.data());
    size_t at = 4;
    for (uint32_t i = 0; i < count && at + 5 <= body.size(); i++) {
        uint8_t type = body[at] & 0x1F;
        uint32_t length = sBig32(&body[at + 1]);
        at += 5;
        if (length > body.size() - at) break;
        if (type == 4 && length >= 32) {
            std::string field(body.begin() + at + 16, body.begin() + at + 31);
            return field.substr(0, field.find_first_of(std::string(" \0", 2)));
        }
        at += length;
    }
    return "";
}
