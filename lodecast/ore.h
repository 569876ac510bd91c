// Ore generation: one vein at a time, carved into a chunk's block array.
#ifndef LODECAST_ORE_H
#define LODECAST_ORE_H

#include "lodecast/options.h"
#include "nbt/nbt.h"

// Carve one random vein into arr (32768 block ids) and, with OPT_DATA, its
// data nibbles into dat (16384 bytes). Makes exactly six draws.
void gen_ore(nbt_byte_array *arr, nbt_byte_array *dat, int ore_id, const options *opt);

// Place the ore at chunk-local (x, y, z) if the precedence rule allows.
void update_block(nbt_byte_array *arr, nbt_byte_array *dat, int x, int y, int z, int ore_id,
                  const options *opt);

#endif
