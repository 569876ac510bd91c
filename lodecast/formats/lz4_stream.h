// The block stream that wraps an LZ4-compressed region record: blocks of at
// most 64 KiB, each behind a 21-byte header ("LZ4Block", a token of method
// and block size, the stored and the decompressed length and a checksum of
// the decompressed bytes, all little-endian), a block stored as it is when
// LZ4 does not shrink it, and an empty stored block at the end.
#ifndef LODECAST_LZ4_STREAM_H
#define LODECAST_LZ4_STREAM_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lz4_stream {

inline constexpr size_t block_header_bytes = 21;
inline constexpr size_t block_bytes = size_t{1} << 16;
// Checksums are XXH32 with this seed, of which the low 28 bits are kept.
inline constexpr uint32_t checksum_seed = 0x9747b28c;
uint32_t checksum(const unsigned char *data, size_t n);

// Appends the stream of the n bytes at data to out. false when out of memory.
bool encode(const unsigned char *data, size_t n, std::vector<unsigned char> &out);

enum class result {
    ok,
    damaged,   // bad magic, method, lengths or checksum, or no end block
    too_large, // it would decompress to more than the limit
    no_memory,
};
// Replaces out with the decompressed bytes of the stream at data. Bytes after
// the end block are ignored, as the game ignores them.
result decode(const unsigned char *data, size_t n, std::vector<unsigned char> &out, size_t limit);

} // namespace lz4_stream

#endif
