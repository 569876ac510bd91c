#include "nbt/write_gzip.h"

#include "nbt/nbt.h"

#include <zlib.h>

namespace nbt_detail {

namespace {

// zlib counts in unsigned ints; larger inputs go in slices.
constexpr size_t max_slice = size_t{1} << 30;

struct DeflateGuard {
    z_stream *zs;
    ~DeflateGuard() { deflateEnd(zs); }
};

} // namespace

int gzip_compress(const unsigned char *in, size_t n, ByteBuffer &out) {
    z_stream zs{};
    // Window bits 15 + 16: a gzip header and trailer around the data, as a
    // gzip file stream writes them.
    int r = deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    if (r != Z_OK) {
        return r == Z_MEM_ERROR ? NBT_EMEM : NBT_ERR;
    }
    DeflateGuard guard{&zs};
    // Usually all the output fits at once.
    if (!out.reserve(out.size() + deflateBound(&zs, static_cast<uLong>(n)))) {
        return NBT_EMEM;
    }
    zs.next_in = const_cast<unsigned char *>(in);
    size_t left = n;
    int flush;
    do {
        size_t slice = left < max_slice ? left : max_slice;
        zs.avail_in = static_cast<uInt>(slice);
        left -= slice;
        flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            if (out.spare_size() == 0 && !out.reserve(out.capacity() * 2 + 64)) {
                return NBT_EMEM;
            }
            size_t room = out.spare_size() < max_slice ? out.spare_size() : max_slice;
            zs.next_out = out.spare();
            zs.avail_out = static_cast<uInt>(room);
            r = deflate(&zs, flush);
            if (r == Z_STREAM_ERROR) {
                return NBT_ERR;
            }
            out.grow_size(room - zs.avail_out);
        } while (zs.avail_out == 0);
    } while (flush != Z_FINISH);
    return r == Z_STREAM_END ? NBT_OK : NBT_ERR;
}

} // namespace nbt_detail
