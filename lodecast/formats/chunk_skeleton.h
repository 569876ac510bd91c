// A chunk document's skeleton: the root compound with its direct tags and
// those of each compound directly in it (as "Level"), every list, array and
// deeper compound emptied. It holds every marker a chunk carries about
// itself (DataVersion, Status, TerrainPopulated, below_zero_retrogen) at a
// small fraction of the cost of the full tree, so a chunk that the run
// leaves alone is recognised without building its blocks.
#ifndef LODECAST_CHUNK_SKELETON_H
#define LODECAST_CHUNK_SKELETON_H

#include "nbt/nbt.hpp"

#include <cstddef>

// The skeleton of the n bytes of a plain (decompressed) document into out.
// false, with out untouched, for anything but a well-formed document
// whose root is a compound: its full parse says what is wrong.
bool chunk_skeleton(const unsigned char *plain, size_t n, nbt::document &out);

#endif
