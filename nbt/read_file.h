// Obtaining the decompressed bytes of a file, kept apart from parsing so
// that the way of decompressing can change without touching the parser.
#ifndef NBT_READ_FILE_H
#define NBT_READ_FILE_H

#include "nbt/byte_buffer.h"

namespace nbt_detail {

// Reads the whole content of path into out: decompressed when the file is
// gzip data, as it is otherwise. NBT_OK; NBT_EGZ when the file cannot be
// opened; NBT_EMEM when out of memory; NBT_ERR on a read error or a corrupt
// or cut-short gzip stream. out holds nothing usable after a failure.
int read_file_bytes(const char *path, ByteBuffer &out);

} // namespace nbt_detail

#endif
