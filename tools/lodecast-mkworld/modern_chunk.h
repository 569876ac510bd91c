// One generated chunk in a paletted layout: the terrain of terrain.h with
// its blocks named (some granite and andesite in the stone), stored per
// 16-block section as a palette and packed indices. Two eras:
//  - 1.18 (DataVersion 3218): root layout, "yPos" -4, heights -64..319:
//    bedrock at -64, deepslate with tuff and deepslate ores below 0, one
//    section per height with "block_states" and "biomes";
//  - 1.16 (DataVersion 2586): "Level" layout with padded "BlockStates",
//    heights 0..255, all-air sections left out.
#ifndef LODECAST_MKWORLD_MODERN_CHUNK_H
#define LODECAST_MKWORLD_MODERN_CHUNK_H

#include "nbt/nbt.hpp"

#include <cstdint>

namespace mkworld {

enum class paletted_era { v1_16, v1_18 };

inline constexpr int32_t data_version_1_16 = 2586;
inline constexpr int32_t data_version_1_18 = 3218;

// How far the game got with a chunk: "noise" holds only bedrock, stone,
// deepslate and air; "features" the whole terrain; only "full" chunks are
// finished (Status "minecraft:..." in 1.18, without namespace in 1.16).
enum class generation { noise, features, full };

// Chunk (cx, cz) as a document, null when out of memory. Finished chunk
// 0,0 holds a chest (block and block entity) standing on the ground at
// x 8, z 8.
nbt::document make_paletted_chunk(int32_t cx, int32_t cz, paletted_era era, generation g);

} // namespace mkworld

#endif
