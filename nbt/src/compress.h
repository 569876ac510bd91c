// Whole-buffer compression: a document's bytes in, its decompressed bytes
// out, and a buffer compressed into one gzip member or zlib stream. Two
// compressors sit behind it: libdeflate when the build has it (faster, at
// the same level of compression), zlib always. Both give the same bytes
// after decompression, and each reads what the other writes. Their state
// lives in the caller's codec.
#ifndef NBT_COMPRESS_H
#define NBT_COMPRESS_H

#include "backends.h"
#include "byte_buffer.h"
#include "codec.h"

#include <cstddef>
#include <cstdint>

namespace nbt_detail {

enum class deflate_library { zlib, libdeflate };

// true when the build includes libdeflate.
bool libdeflate_available();

// The library the NBT reader and writer use: libdeflate when available.
deflate_library default_library();

// How strict decoding is.
struct decode_rules {
    // The most decompressed bytes accepted; out never grows past its old
    // size plus this.
    size_t max_out = SIZE_MAX;
    // Refuse bytes after the compressed data instead of ignoring them.
    bool exact_end = false;
};

// True when the n bytes at p begin with the gzip signature (1f 8b).
inline bool starts_gzip_member(const unsigned char *p, size_t n) {
    return n >= 2 && p[0] == 0x1f && p[1] == 0x8b;
}

// Appends the decompressed content of the n bytes at in to out.
// gzip: one or more members one after another; whatever follows the last
// member and does not begin with the signature is ignored (refused with
// exact_end). The caller handles bytes without the signature.
// zlib: one stream; bytes after it are ignored (refused with exact_end).
// NBT_OK; NBT_ERR when the data is cut short or corrupt (bad data,
// checksum or length) or over the limit; NBT_EMEM when out of memory.
// After a failure out may hold part of the data.
int decode(nbt_codec &c, wrapper w, const unsigned char *in, size_t n, ByteBuffer &out,
           const decode_rules &rules = {}, deflate_library lib = default_library());

// Appends to out one gzip member or zlib stream holding the n bytes at in:
// libdeflate at level 6, or zlib at its default level and strategy. NBT_OK;
// NBT_EMEM when out of memory; NBT_ERR when the compressor fails. After a
// failure out may hold part of the data after its old content.
int encode(nbt_codec &c, wrapper w, const unsigned char *in, size_t n, ByteBuffer &out,
           deflate_library lib = default_library());

// Appends everything that can be read from fd to out with plain reads.
// NBT_OK; NBT_ERR when reading fails (a directory, an I/O error); NBT_EMEM
// when out of memory.
int read_all(int fd, ByteBuffer &out);

} // namespace nbt_detail

#endif
