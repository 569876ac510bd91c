// The zlib side of the codec: always built, so that what either compressor
// writes can be checked against the other.

#include "backends.h"

#include <zlib.h>

namespace nbt_detail {

namespace {

// zlib counts in unsigned ints; larger buffers go in slices.
constexpr size_t max_slice = size_t{1} << 30;

size_t slice(size_t n) {
    return n < max_slice ? n : max_slice;
}

// 32 + 15 takes a gzip or a zlib header (a gzip member is only handed over
// after its signature was seen); 15 alone takes only the zlib format.
int window_bits(wrapper w) {
    return w == wrapper::gzip ? 32 + 15 : 15;
}

// The codec's inflater, ready for a new member, or null when out of memory.
// A failed set-up is retried next time.
z_stream *inflater(nbt_codec &c, wrapper w) {
    const int bits = window_bits(w);
    if (c.inflater_ready) {
        int r =
            c.inflater_bits == bits ? inflateReset(&c.inflater) : inflateReset2(&c.inflater, bits);
        c.inflater_bits = bits;
        return r == Z_OK ? &c.inflater : nullptr;
    }
    c.inflater = z_stream{};
    c.inflater_ready = inflateInit2(&c.inflater, bits) == Z_OK;
    c.inflater_bits = bits;
    return c.inflater_ready ? &c.inflater : nullptr;
}

z_stream *deflater(nbt_codec &c, wrapper w) {
    z_stream &zs = w == wrapper::gzip ? c.gzip_deflater : c.zlib_deflater;
    bool &ready = w == wrapper::gzip ? c.gzip_deflater_ready : c.zlib_deflater_ready;
    if (ready) {
        return deflateReset(&zs) == Z_OK ? &zs : nullptr;
    }
    zs = z_stream{};
    // 16 + 15: a gzip header and trailer around the data, as a gzip file
    // stream writes them; 15: the zlib header and checksum.
    ready = deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, w == wrapper::gzip ? 16 + 15 : 15,
                         8, Z_DEFAULT_STRATEGY) == Z_OK;
    return ready ? &zs : nullptr;
}

} // namespace

int zlib_decode_member(nbt_codec &c, wrapper w, const unsigned char *in, size_t n, ByteBuffer &out,
                       size_t cap, size_t *used) {
    z_stream *zs = inflater(c, w);
    if (zs == nullptr) {
        return NBT_EMEM;
    }
    zs->next_in = const_cast<unsigned char *>(in);
    zs->avail_in = 0; // a reset stream keeps the count of the last call
    size_t left = n;
    for (;;) {
        if (zs->avail_in == 0) {
            zs->avail_in = static_cast<uInt>(slice(left));
            left -= zs->avail_in;
        }
        // At the limit, one spare byte shows whether any output is still to
        // come; without it the end of the stream can be found.
        unsigned char probe = 0;
        bool at_limit = out.size() >= cap;
        if (!at_limit && out.spare_size() == 0) {
            int g = grow_output(out, cap);
            if (g == NBT_EMEM) {
                return NBT_EMEM;
            }
            at_limit = g != NBT_OK;
        }
        const size_t room = at_limit ? 1 : slice(room_below(out, cap));
        zs->next_out = at_limit ? &probe : out.spare();
        zs->avail_out = static_cast<uInt>(room);
        const uInt in_before = zs->avail_in;
        int r = inflate(zs, Z_NO_FLUSH);
        if (at_limit && zs->avail_out == 0) {
            return NBT_ELIMIT; // more content than the limit allows
        }
        if (!at_limit) {
            out.grow_size(room - zs->avail_out);
        }
        if (r == Z_STREAM_END) {
            *used = n - left - zs->avail_in;
            return NBT_OK;
        }
        if (r == Z_MEM_ERROR) {
            return NBT_EMEM;
        }
        if (r != Z_OK && r != Z_BUF_ERROR) {
            return NBT_ERR; // corrupt data, checksum or length
        }
        // No progress with all input given and room to spare: cut short.
        if (zs->avail_out != 0 && zs->avail_in == 0 && left == 0) {
            return NBT_ERR;
        }
        if (r == Z_BUF_ERROR && zs->avail_in == in_before && zs->avail_out == room) {
            return NBT_ERR;
        }
    }
}

int zlib_encode(nbt_codec &c, wrapper w, const unsigned char *in, size_t n, ByteBuffer &out) {
    z_stream *zs = deflater(c, w);
    if (zs == nullptr) {
        return NBT_EMEM;
    }
    // Usually all the output fits at once.
    if (!out.reserve(out.size() + deflateBound(zs, static_cast<uLong>(slice(n))) +
                     (n - slice(n)))) {
        return NBT_EMEM;
    }
    zs->next_in = const_cast<unsigned char *>(in);
    size_t left = n;
    int flush;
    int r;
    do {
        zs->avail_in = static_cast<uInt>(slice(left));
        left -= zs->avail_in;
        flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            if (out.spare_size() == 0 && grow_output(out, SIZE_MAX) != NBT_OK) {
                return NBT_EMEM;
            }
            const size_t room = slice(out.spare_size());
            zs->next_out = out.spare();
            zs->avail_out = static_cast<uInt>(room);
            r = deflate(zs, flush);
            if (r == Z_STREAM_ERROR) {
                return NBT_ERR;
            }
            out.grow_size(room - zs->avail_out);
        } while (zs->avail_out == 0);
    } while (flush != Z_FINISH);
    return r == Z_STREAM_END ? NBT_OK : NBT_ERR;
}

} // namespace nbt_detail
