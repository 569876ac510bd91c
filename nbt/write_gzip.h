// Compressing a buffer into gzip bytes, kept apart from serialising so that
// the compressor can change without touching the writer.
#ifndef NBT_WRITE_GZIP_H
#define NBT_WRITE_GZIP_H

#include "nbt/byte_buffer.h"

#include <cstddef>

namespace nbt_detail {

// Appends to out one complete gzip stream (default level and strategy)
// holding the n bytes at in. NBT_OK, NBT_EMEM when out of memory, NBT_ERR
// when the compressor fails.
int gzip_compress(const unsigned char *in, size_t n, ByteBuffer &out);

} // namespace nbt_detail

#endif
