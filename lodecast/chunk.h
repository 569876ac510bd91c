// Reading, validating, updating and rewriting one chunk file.
#ifndef LODECAST_CHUNK_H
#define LODECAST_CHUNK_H

#include "lodecast/options.h"
#include "nbt/nbt.h"

#include <cstdint>

// 0 when the tree under nbtroot has a compound "Level" holding a byte array
// "Blocks" of exactly 32768 bytes, else 1. Only reads the tree.
int valid_chunk(nbt_tag *nbtroot);

// Read file, give it opt->rounds veins of ore_id and write it back. 0 when
// the chunk was updated, 1 when it was left alone (a message says why).
int update_chunk(const char *file, int16_t ore_id, const options *opt);

#endif
