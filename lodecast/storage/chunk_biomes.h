// The biome a paletted chunk stores at a block: from 1.18 (the root layout)
// a palette of biome names per section, one entry per 4 x 4 x 4 cell; before
// it "Level" > "Biomes", numeric ids (256 columns until 1.14, 1024 cells of
// 4 x 4 x 4 from 1.15). Read-only: what -biome asks of a chunk.
#ifndef LODECAST_CHUNK_BIOMES_H
#define LODECAST_CHUNK_BIOMES_H

#include "nbt/nbt.h"

#include <string>

// The namespaced name of the biome at chunk-local x, z (0..15) and height y
// of the chunk document root; false when it stores none readable there.
bool stored_biome(nbt_tag *root, int x, int y, int z, std::string &name);

// The name of a numeric biome id of 1.13 to 1.17; empty for an unknown id.
std::string biome_of_id(int32_t id);

#endif
