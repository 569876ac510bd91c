// How many chunks a world holds, counted ahead of a run so that its status
// line can show a total and the time left. Cheap by design: a region world
// costs one read of its location table (4 KiB) per region file, a world of
// chunk files a walk of its folders' names without opening a chunk.
#ifndef LODECAST_CHUNK_COUNT_H
#define LODECAST_CHUNK_COUNT_H

#include "lodecast/formats/world_kind.h"

#include <cstdint>
#include <string>

// The chunks the walk of dimension_folder in a world of kind would hand
// out, as far as names and headers tell: a file that cannot be read counts
// nothing. 0 for a kind no walk reads.
uint64_t count_chunks(world_kind kind, const std::string &dimension_folder);

#endif
