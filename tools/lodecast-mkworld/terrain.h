// The contents of one generated chunk: block ids and light, laid out as the
// tool reads them (index y + 128 * z + 2048 * x; nibbles two per byte, the
// lower y in the low nibble).
#ifndef LODECAST_MKWORLD_TERRAIN_H
#define LODECAST_MKWORLD_TERRAIN_H

#include <cstdint>
#include <vector>

namespace mkworld {

constexpr int kBlocks = 16 * 128 * 16;

enum block : uint8_t {
    AIR = 0,
    STONE = 1,
    GRASS = 2,
    DIRT = 3,
    BEDROCK = 7,
    IRON_ORE = 15,
    COAL_ORE = 16,
    GRAVEL = 13,
};

struct chunk_terrain {
    std::vector<uint8_t> blocks;      // kBlocks ids
    std::vector<uint8_t> data;        // kBlocks / 2, all zero
    std::vector<uint8_t> sky_light;   // kBlocks / 2
    std::vector<uint8_t> block_light; // kBlocks / 2, all zero
    std::vector<uint8_t> height_map;  // 256: index z * 16 + x, first air above ground
};

// A hash of a block's world position: the same block gets the same value
// on every run, without a generator whose state would depend on the order
// in which chunks are made.
uint32_t hash3(int32_t x, int32_t y, int32_t z);

// The terrain of chunk (cx, cz). Depends only on the coordinates, so a
// world comes out the same on every run; the surface height varies smoothly
// across chunk borders.
chunk_terrain make_terrain(int32_t cx, int32_t cz);

} // namespace mkworld

#endif
