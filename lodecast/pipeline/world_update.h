// Updating every chunk of a world that passes the filters.
#ifndef LODECAST_WORLD_UPDATE_H
#define LODECAST_WORLD_UPDATE_H

#include "durable/durable.h"
#include "lodecast/run/options.h"
#include "lodecast/storage/storage_kind.h"

#include <cstdint>
#include <vector>

// How a run makes its writes durable: every new file is synced before its
// rename; folders are not synced one by one, the world's file system is
// synced once at the end instead (a file is whole either way, and a run cut
// short leaves a partly updated world whatever was synced).
durable_policy run_durability();

// Walk the world at path and give every chunk that passes the run's
// filters (opt) the veins of every ore of ores, in order. 0 when the whole
// world was walked (chunks that could not be updated are reported and
// skipped), 1 when the walk stopped on a folder it could not open or an
// entry it could not examine, or the world could not be updated at all, 2
// when it was walked but some files could not be written, 128 + the signal
// when SIGINT or SIGTERM stopped it.
int update_world(const char *path, const options &opt, const std::vector<ore_plan> &ores,
                 const durable_policy &durability = run_durability());

#endif
