// The ore on the command line: a number, or in a sectioned world also a
// block name from the world's registry.
#ifndef LODECAST_ORE_ARGUMENT_H
#define LODECAST_ORE_ARGUMENT_H

#include "lodecast/formats/world_kind.h"

#include <cstdint>

// Reads arg into *id for a world of kind at world. Flat worlds: a decimal
// number, truncated to ids by % 256. Sectioned worlds: a number 0..4095 or
// a registry name. false after printing why (for a name it does not know,
// its close matches).
bool read_ore_argument(const char *world, const char *arg, world_kind kind, int32_t *id);

#endif
