// The libdeflate side of the codec, built only when CMake found the
// library. It works on whole buffers, which is all the NBT reader and
// writer need, and at the same level does the work in about half zlib's
// time.
#include "backends.h"

#ifdef LODECAST_HAVE_LIBDEFLATE

#include <cstdint>
#include <initializer_list>
#include <libdeflate.h>

namespace nbt_detail {

namespace {

constexpr int compression_level = 6;

libdeflate_decompressor *decompressor(nbt_codec &c) {
    if (c.decompressor == nullptr) {
        c.decompressor = libdeflate_alloc_decompressor();
    }
    return c.decompressor;
}

libdeflate_compressor *compressor(nbt_codec &c) {
    if (c.compressor == nullptr) {
        c.compressor = libdeflate_alloc_compressor(compression_level);
    }
    return c.compressor;
}

// libdeflate skips the optional header checksum that zlib verifies; it is
// checked here so that both refuse the same files. true when the member at
// in has no header checksum or a matching one (a header cut short is left
// for the decompressor to refuse).
bool header_checksum_ok(const unsigned char *in, size_t n) {
    constexpr unsigned char fhcrc = 0x02, fextra = 0x04, fname = 0x08, fcomment = 0x10;
    if (n < 10 || !(in[3] & fhcrc)) {
        return true;
    }
    size_t pos = 10;
    if (in[3] & fextra) {
        if (n - pos < 2) {
            return true;
        }
        pos += 2 + (size_t{in[pos]} | size_t{in[pos + 1]} << 8);
    }
    for (unsigned char field : {fname, fcomment}) {
        if (in[3] & field) {
            while (pos < n && in[pos] != 0) {
                ++pos;
            }
            ++pos; // the terminating zero
        }
    }
    if (pos > n || n - pos < 2) {
        return true;
    }
    const uint32_t crc = libdeflate_crc32(0, in, pos);
    return (crc & 0xffff) == (uint32_t{in[pos]} | uint32_t{in[pos + 1]} << 8);
}

} // namespace

void free_libdeflate_state(nbt_codec &c) {
    libdeflate_free_decompressor(c.decompressor);
    libdeflate_free_compressor(c.compressor);
    c.decompressor = nullptr;
    c.compressor = nullptr;
}

int libdeflate_decode_member(nbt_codec &c, wrapper w, const unsigned char *in, size_t n,
                             ByteBuffer &out, size_t cap, size_t *used) {
    libdeflate_decompressor *d = decompressor(c);
    if (d == nullptr) {
        return NBT_EMEM;
    }
    if (w == wrapper::gzip && !header_checksum_ok(in, n)) {
        return NBT_ERR;
    }
    for (;;) {
        if (out.spare_size() == 0) {
            int g = grow_output(out, cap);
            if (g != NBT_OK) {
                return g;
            }
        }
        size_t got = 0;
        const size_t room = room_below(out, cap);
        libdeflate_result r =
            w == wrapper::gzip
                ? libdeflate_gzip_decompress_ex(d, in, n, out.spare(), room, used, &got)
                : libdeflate_zlib_decompress_ex(d, in, n, out.spare(), room, used, &got);
        if (r == LIBDEFLATE_SUCCESS) {
            out.grow_size(got);
            return NBT_OK;
        }
        // The whole member is decoded again into the larger buffer; with the
        // size taken from the trailer this rarely happens.
        if (r != LIBDEFLATE_INSUFFICIENT_SPACE) {
            return NBT_ERR;
        }
        int g = grow_output(out, cap);
        if (g != NBT_OK) {
            return g; // over the limit, or out of memory
        }
    }
}

int libdeflate_encode(nbt_codec &c, wrapper w, const unsigned char *in, size_t n, ByteBuffer &out) {
    libdeflate_compressor *z = compressor(c);
    if (z == nullptr) {
        return NBT_EMEM;
    }
    size_t bound = w == wrapper::gzip ? libdeflate_gzip_compress_bound(z, n)
                                      : libdeflate_zlib_compress_bound(z, n);
    if (bound < n || !out.reserve(out.size() + bound)) {
        return NBT_EMEM;
    }
    size_t written = w == wrapper::gzip
                         ? libdeflate_gzip_compress(z, in, n, out.spare(), out.spare_size())
                         : libdeflate_zlib_compress(z, in, n, out.spare(), out.spare_size());
    if (written == 0) {
        return NBT_ERR;
    }
    out.grow_size(written);
    return NBT_OK;
}

} // namespace nbt_detail

#else

namespace nbt_detail {

void free_libdeflate_state(nbt_codec &) {}

// Never called: compress.cpp asks for libdeflate only when it is built in.
int libdeflate_decode_member(nbt_codec &c, wrapper w, const unsigned char *in, size_t n,
                             ByteBuffer &out, size_t cap, size_t *used) {
    return zlib_decode_member(c, w, in, n, out, cap, used);
}

int libdeflate_encode(nbt_codec &c, wrapper w, const unsigned char *in, size_t n, ByteBuffer &out) {
    return zlib_encode(c, w, in, n, out);
}

} // namespace nbt_detail

#endif
