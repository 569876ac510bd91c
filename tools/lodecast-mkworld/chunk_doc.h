// One generated chunk as an NBT document: built in memory, or written to a
// chunk file with the NBT library.
#ifndef LODECAST_MKWORLD_CHUNK_DOC_H
#define LODECAST_MKWORLD_CHUNK_DOC_H

#include "nbt/nbt.hpp"

#include <cstdint>
#include <string>

namespace mkworld {

// Chunk (cx, cz) as a document whose root is an unnamed compound holding
// "Level" with Blocks, Data, SkyLight, BlockLight, HeightMap, Entities,
// TileEntities, LastUpdate, xPos, zPos and TerrainPopulated; null when out
// of memory.
nbt::document make_chunk(int32_t cx, int32_t cz);

// Build chunk (cx, cz) and write it gzip-compressed to path. Returns the
// writer's byte count, or a negative status when the tree could not be
// built (NBT_EMEM) or written.
int write_chunk(const std::string &path, int32_t cx, int32_t cz);

} // namespace mkworld

#endif
