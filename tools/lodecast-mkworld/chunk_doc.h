// One generated chunk as an NBT document, written with the NBT library.
#ifndef LODECAST_MKWORLD_CHUNK_DOC_H
#define LODECAST_MKWORLD_CHUNK_DOC_H

#include <cstdint>
#include <string>

namespace mkworld {

// Build chunk (cx, cz) and write it gzip-compressed to path. The root is an
// unnamed compound holding "Level" with Blocks, Data, SkyLight, BlockLight,
// HeightMap, Entities, TileEntities, LastUpdate, xPos, zPos and
// TerrainPopulated. Returns the writer's byte count, or a negative status
// when the tree could not be built (NBT_EMEM) or written.
int write_chunk(const std::string &path, int32_t cx, int32_t cz);

} // namespace mkworld

#endif
