// Ore generation: one vein at a time, carved into a chunk's block array.
#ifndef LODECAST_VEIN_H
#define LODECAST_VEIN_H

#include "lodecast/run/options.h"
#include "lodecast/storage/storage_kind.h"

#include <array>
#include <cstdint>

// The blocks that became ore in a chunk, by height (what a dry run reports).
struct placement_count {
    uint64_t total = 0;
    int bottom = 0;                       // the height of per_y[0]
    std::array<uint64_t, 384> per_y = {}; // room for the tallest chunks
};

// Carve one random vein of the ore grid has begun into it. Makes exactly
// six draws of ore_rand() whatever the options; with OPT_VERY_VERBOSE
// prints the chosen scale, length and start, and every placed block, on
// stderr. y is clamped into the grid's heights. An empty height range
// (max_depth == min_depth) starts at min_depth + 2. Blocks placed are
// added to *placed when given.
void gen_ore(block_grid &grid, const options *opt, placement_count *placed = nullptr);

#endif
