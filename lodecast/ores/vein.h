// Ore generation: one vein at a time, carved into a chunk's block array.
#ifndef LODECAST_VEIN_H
#define LODECAST_VEIN_H

#include "lodecast/run/options.h"
#include "lodecast/storage/storage_kind.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The blocks that became ore in a chunk, by height (what a dry run reports).
struct placement_count {
    uint64_t total = 0;
    int bottom = 0;                       // the height of per_y[0]
    std::array<uint64_t, 384> per_y = {}; // room for the tallest chunks
};

// Whether the block at chunk-local (x, y, z) has an air neighbour inside
// the chunk: one beside the chunk, above its top or below its bottom is
// not known, so it counts as not air.
bool touches_air(block_grid &grid, int32_t x, int32_t y, int32_t z);

// Whether this chunk gets the ore's veins under -every n: one draw, true
// one time in n on average. Without -every true, with no draw.
bool round_happens(const options *opt);

// Carve one random vein of the ore grid has begun into it. Without
// -spread, -tri and -air makes exactly six draws of ore_rand() whatever the
// other options; -spread and -tri draw the start height over the whole
// range (see vein.cpp), -air one more draw for each block touching air
// the first time the vein reaches it. With biomes (namespaced names) the
// vein stops after its draws where the chunk's biome at its start is
// none of them. With OPT_VERY_VERBOSE
// prints the chosen scale, length and start, and every placed block, on
// stderr. y is clamped into the grid's heights (with the whole-range start
// heights, lost beyond them). An empty height range (max_depth ==
// min_depth) starts at min_depth + 2 (with the whole range: the one layer). Blocks placed are
// added to *placed when given.
void gen_ore(block_grid &grid, const options *opt, placement_count *placed = nullptr,
             const std::vector<std::string> *biomes = nullptr);

#endif
