#include "BirdInflate.h"

#include <algorithm>
#include <climits>
#include <zlib.h>

int BirdInflate(const uint8_t* source, size_t length, size_t cap, std::vector<uint8_t>& out) {
    out.clear();
    if (length > UINT_MAX || cap > UINT_MAX) return Z_BUF_ERROR;
    z_stream zs{};
    int ret = inflateInit(&zs);
    if (ret != Z_OK) return ret;
    zs.next_in = const_cast<Bytef*>(source);
    zs.avail_in = static_cast<uInt>(length);

    size_t used = 0;
    for (;;) {
        if (used == out.size()) {
            if (out.size() >= cap) {
                ret = Z_BUF_ERROR;
                break;
            }
            size_t grow = std::max<size_t>(out.size(), 64 * 1024);
            out.resize(std::min(cap, out.size() + grow));
        }
        zs.next_out = out.data() + used;
        zs.avail_out = static_cast<uInt>(out.size() - used);
        ret = inflate(&zs, Z_NO_FLUSH);
        used = out.size() - zs.avail_out;
        if (ret == Z_STREAM_END) {
            ret = Z_OK;
            break;
        }
        if (ret == Z_OK) continue;
        if (ret == Z_BUF_ERROR && zs.avail_out == 0) continue; // room ran out: grow or stop
        if (ret == Z_BUF_ERROR || ret == Z_NEED_DICT) ret = Z_DATA_ERROR; // input ran out
        break;
    }
    inflateEnd(&zs);
    out.resize(ret == Z_OK ? used : 0);
    return ret;
}
