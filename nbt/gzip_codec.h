// Whole-buffer gzip: a file's bytes in, its decompressed bytes out, and a
// buffer compressed into one gzip member. Two compressors sit behind it:
// libdeflate when the build has it (faster, at the same level of
// compression), zlib always. Both give the same bytes after decompression,
// and each reads what the other writes.
//
// Compressor and decompressor state is kept per thread and reused from one
// call to the next, so a run over many chunk files allocates it once per
// thread.
#ifndef NBT_GZIP_CODEC_H
#define NBT_GZIP_CODEC_H

#include "nbt/byte_buffer.h"

#include <cstddef>

namespace nbt_detail {

enum class gzip_library { zlib, libdeflate };

// true when the build includes libdeflate.
bool libdeflate_available();

// The library the NBT reader and writer use: libdeflate when available.
gzip_library default_gzip_library();

// Appends the decompressed content of the n bytes at in to out. Bytes that
// begin with the gzip signature (1f 8b) are one or more gzip members one
// after another; whatever follows the last member and does not begin with
// the signature is ignored. Any other bytes (an empty input included) are
// plain data and are appended as they are. NBT_OK; NBT_ERR when a member is
// cut short or corrupt (bad data, checksum or length); NBT_EMEM when out of
// memory. After a failure out may hold part of the data.
int gzip_decode(const unsigned char *in, size_t n, ByteBuffer &out,
                gzip_library lib = default_gzip_library());

// Appends to out one gzip member holding the n bytes at in: libdeflate at
// level 6, or zlib at its default level and strategy. NBT_OK; NBT_EMEM when
// out of memory; NBT_ERR when the compressor fails. After a failure out
// may hold part of the data after its old content.
int gzip_encode(const unsigned char *in, size_t n, ByteBuffer &out,
                gzip_library lib = default_gzip_library());

// Appends the whole content of the file at path to out with plain reads.
// NBT_OK; NBT_EGZ when the file cannot be opened; NBT_ERR when reading it
// fails (a directory, an I/O error); NBT_EMEM when out of memory.
int read_whole_file(const char *path, ByteBuffer &out);

// Reads the file at path and appends its decompressed content to out, as
// gzip_decode does. The file's compressed bytes go through a per-thread
// buffer that is reused across calls. Results as read_whole_file and
// gzip_decode.
int read_gzip_file(const char *path, ByteBuffer &out);

// Gives back the block of a per-thread buffer that an unusually large file
// made big, so that one such file does not pin its size for the rest of a
// run; a chunk-sized block is kept for reuse.
inline void release_if_large(ByteBuffer &buf) {
    if (buf.capacity() > (size_t{4} << 20)) {
        buf.release_memory();
    }
}

} // namespace nbt_detail

#endif
