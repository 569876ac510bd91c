// Walking a world directory and updating every chunk that passes the filters.
#ifndef LODECAST_WORLD_H
#define LODECAST_WORLD_H

#include "lodecast/options.h"

#include <cstdint>

// 0 when the whole world directory was walked, 1 when the walk stopped on a
// directory it could not open or an entry it could not examine.
int update_all_chunks(const char *path, int16_t ore_id, const options *opt);

#endif
