// One generated chunk in the sectioned format: the terrain of terrain.h cut
// into 16-block sections, with some granite, polished andesite and two mod
// ores above id 255 (so that their sections carry "Add").
#ifndef LODECAST_MKWORLD_SECTIONED_CHUNK_H
#define LODECAST_MKWORLD_SECTIONED_CHUNK_H

#include "nbt/nbt.hpp"

#include <cstdint>

namespace mkworld {

// The mod ores of the generated registry.
inline constexpr int kTinOre = 300;
inline constexpr int kRubyOre = 301;

// Chunk (cx, cz) as a document: root > "Level" with xPos, zPos,
// LastUpdate, LightPopulated 1, TerrainPopulated 1, HeightMap (ints),
// Biomes, Entities, TileEntities and a "Sections" list holding the
// sections that are not all air; null when out of memory.
nbt::document make_sectioned_chunk(int32_t cx, int32_t cz);

} // namespace mkworld

#endif
