// Where a block lives in a chunk's block array and data array.
#ifndef LODECAST_BLOCK_H
#define LODECAST_BLOCK_H

#include <cstdint>

// A chunk is 16 x 128 x 16 blocks: x and z horizontal (0..15), y vertical
// (0..127). y varies fastest in both arrays, then z, then x.
constexpr int chunk_width = 16;
constexpr int chunk_height = 128;
constexpr int32_t chunk_block_count = chunk_width * chunk_height * chunk_width;
constexpr int32_t chunk_data_bytes = chunk_block_count / 2;

struct block_position {
    int32_t index;     // byte in the block array: ((x * 16) + z) * 128 + y
    int32_t data_byte; // byte in the data array: index / 2
    bool high_nibble;  // odd index: bits 4-7 of data_byte; even: bits 0-3
};

// The one computation of a block's place in both arrays. An index outside
// 0..32767 is an internal fault: it prints an assertion message naming the
// failed check ("index >= 0" or "index < 32768") on stderr and aborts, in
// every build type.
block_position block_at(int x, int y, int z);

#endif
