// The two compressors behind compress.h, one gzip member or zlib stream at
// a time, with their state in the caller's codec.
#ifndef NBT_BACKENDS_H
#define NBT_BACKENDS_H

#include "byte_buffer.h"
#include "codec.h"
#include "nbt/nbt.h"

#include <cstddef>
#include <cstdint>

namespace nbt_detail {

// The frame around the deflate data.
enum class wrapper { gzip, zlib };

// Decompresses the member or stream at the start of the n bytes at in and
// appends its content to out, growing out up to a capacity of cap bytes at
// most; *used receives the number of input bytes it took. NBT_OK; NBT_ERR
// when it is cut short or corrupt, or its content would not fit in cap;
// NBT_EMEM.
int zlib_decode_member(nbt_codec &c, wrapper w, const unsigned char *in, size_t n, ByteBuffer &out,
                       size_t cap, size_t *used);
int libdeflate_decode_member(nbt_codec &c, wrapper w, const unsigned char *in, size_t n,
                             ByteBuffer &out, size_t cap, size_t *used);

// Appends one member or stream holding the n bytes at in. NBT_OK, NBT_ERR or
// NBT_EMEM.
int zlib_encode(nbt_codec &c, wrapper w, const unsigned char *in, size_t n, ByteBuffer &out);
int libdeflate_encode(nbt_codec &c, wrapper w, const unsigned char *in, size_t n, ByteBuffer &out);

// Makes room for more output: at least double the capacity, but never past
// cap. NBT_OK; NBT_ERR when the capacity is cap already; NBT_EMEM.
inline int grow_output(ByteBuffer &out, size_t cap) {
    size_t now = out.capacity();
    if (now >= cap) {
        return NBT_ELIMIT;
    }
    size_t next = now < 4096 ? 4096 : now * 2;
    if (next <= now || next > cap) {
        next = cap;
    }
    return out.reserve(next) ? NBT_OK : NBT_EMEM;
}

// The spare room of out that stays within a total of cap bytes.
inline size_t room_below(const ByteBuffer &out, size_t cap) {
    size_t below = cap > out.size() ? cap - out.size() : 0;
    return out.spare_size() < below ? out.spare_size() : below;
}

} // namespace nbt_detail

#endif
