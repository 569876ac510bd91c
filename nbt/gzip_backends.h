// The two compressors behind gzip_codec.h, one gzip member at a time.
#ifndef NBT_GZIP_BACKENDS_H
#define NBT_GZIP_BACKENDS_H

#include "nbt/byte_buffer.h"

#include <cstddef>

namespace nbt_detail {

// Decompresses the gzip member at the start of the n bytes at in and
// appends its content to out, growing out as needed; *used receives the
// number of input bytes the member took. NBT_OK, NBT_ERR (cut short or
// corrupt) or NBT_EMEM.
int zlib_decode_member(const unsigned char *in, size_t n, ByteBuffer &out, size_t *used);
int libdeflate_decode_member(const unsigned char *in, size_t n, ByteBuffer &out, size_t *used);

// Appends one gzip member holding the n bytes at in. NBT_OK, NBT_ERR or
// NBT_EMEM.
int zlib_encode(const unsigned char *in, size_t n, ByteBuffer &out);
int libdeflate_encode(const unsigned char *in, size_t n, ByteBuffer &out);

// Makes room for more output: at least double the capacity. false when out
// of memory or when the size would overflow.
inline bool grow_output(ByteBuffer &out) {
    size_t cap = out.capacity();
    size_t next = cap < 4096 ? 4096 : cap * 2;
    return next > cap && out.reserve(next);
}

} // namespace nbt_detail

#endif
