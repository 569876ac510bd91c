// Ore generation: one vein at a time, carved into a chunk's block array.
#ifndef LODECAST_VEIN_H
#define LODECAST_VEIN_H

#include "lodecast/run/options.h"
#include "lodecast/storage/block_grid.h"
#include "nbt/nbt.h"

#include <array>

// The blocks that became ore in a chunk, by height (what a dry run reports).
struct placement_count {
    uint64_t total = 0;
    std::array<uint64_t, sectioned_height> per_y{}; // room for the tallest chunks
};

// Carve one random vein into arr (32768 block ids) and, with OPT_DATA, its
// data nibbles into dat (16384 bytes), both owned by the caller and changed
// in place. Makes exactly six draws of ore_rand() whatever the options; with
// OPT_VERY_VERBOSE prints the chosen scale, length and start on stderr.
// An empty height range (max_depth == min_depth) starts at min_depth + 2.
// Nothing can fail. Blocks placed are added to *placed when given.
void gen_ore(nbt_byte_array *arr, nbt_byte_array *dat, int ore_id, const options *opt,
             placement_count *placed = nullptr);

// The same vein carved into any chunk: y is clamped into 0..grid.top().
void gen_ore(block_grid &grid, int ore_id, const options *opt, placement_count *placed = nullptr);

// Place the ore at chunk-local (x, y, z) if the precedence rule allows, and
// then, with OPT_DATA, opt->data's low four bits in the block's nibble of dat
// (skipped when dat is null or too short). A position outside the chunk is
// an internal fault and aborts the program. true when the block became ore.
bool update_block(nbt_byte_array *arr, nbt_byte_array *dat, int x, int y, int z, int ore_id,
                  const options *opt);

#endif
