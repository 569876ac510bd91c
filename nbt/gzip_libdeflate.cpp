// The libdeflate side of the gzip codec, built only when CMake found the
// library. It works on whole buffers, which is all the NBT reader and
// writer need, and at the same level does the work in about half zlib's
// time.
#ifdef LODECAST_HAVE_LIBDEFLATE

#include "nbt/gzip_backends.h"
#include "nbt/nbt.h"

#include <cstdint>
#include <initializer_list>
#include <libdeflate.h>

namespace nbt_detail {

namespace {

constexpr int compression_level = 6;

// Per-thread state, allocated on first use; a failed allocation is retried
// on the next call.
struct Decompressor {
    ~Decompressor() { libdeflate_free_decompressor(d); }
    libdeflate_decompressor *get() {
        if (d == nullptr) {
            d = libdeflate_alloc_decompressor();
        }
        return d;
    }
    libdeflate_decompressor *d = nullptr;
};

struct Compressor {
    ~Compressor() { libdeflate_free_compressor(c); }
    libdeflate_compressor *get() {
        if (c == nullptr) {
            c = libdeflate_alloc_compressor(compression_level);
        }
        return c;
    }
    libdeflate_compressor *c = nullptr;
};

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

int libdeflate_decode_member(const unsigned char *in, size_t n, ByteBuffer &out, size_t *used) {
    thread_local Decompressor state;
    libdeflate_decompressor *d = state.get();
    if (d == nullptr) {
        return NBT_EMEM;
    }
    if (!header_checksum_ok(in, n)) {
        return NBT_ERR;
    }
    for (;;) {
        if (out.spare_size() == 0 && !grow_output(out)) {
            return NBT_EMEM;
        }
        size_t got = 0;
        libdeflate_result r =
            libdeflate_gzip_decompress_ex(d, in, n, out.spare(), out.spare_size(), used, &got);
        if (r == LIBDEFLATE_SUCCESS) {
            out.grow_size(got);
            return NBT_OK;
        }
        // The whole member is decoded again into the larger buffer; with the
        // size taken from the trailer this rarely happens.
        if (r != LIBDEFLATE_INSUFFICIENT_SPACE) {
            return NBT_ERR;
        }
        if (!grow_output(out)) {
            return NBT_EMEM;
        }
    }
}

int libdeflate_encode(const unsigned char *in, size_t n, ByteBuffer &out) {
    thread_local Compressor state;
    libdeflate_compressor *c = state.get();
    if (c == nullptr) {
        return NBT_EMEM;
    }
    size_t bound = libdeflate_gzip_compress_bound(c, n);
    if (bound < n || !out.reserve(out.size() + bound)) {
        return NBT_EMEM;
    }
    size_t written = libdeflate_gzip_compress(c, in, n, out.spare(), out.spare_size());
    if (written == 0) {
        return NBT_ERR;
    }
    out.grow_size(written);
    return NBT_OK;
}

} // namespace nbt_detail

#endif
