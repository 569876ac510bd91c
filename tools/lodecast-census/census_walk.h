// Walking a world directory read-only and counting every chunk in it.
#ifndef LODECAST_CENSUS_CENSUS_WALK_H
#define LODECAST_CENSUS_CENSUS_WALK_H

#include "lodecast/census/census.h"

#include <functional>
#include <string>

// Called after each chunk file, counted or skipped.
using census_progress = std::function<void(const census &)>;

// Count every chunk of the world at path into c (a sectioned world
// raises c's height to 256). The world has the
// layout lodecast walks: directories whose names pass check_base32 at
// levels 1 and 2, regular files whose names pass check_chunkname at level
// 3; everything else is ignored. Entries are visited in name order.
// Unreadable or invalid chunks go to c.skipped, sub-directories that
// cannot be opened or examined to c.skipped_dirs; neither stops the walk.
// true when the walk completed; false when path itself cannot be opened,
// with the platform's reason in error. Never writes anything.
bool census_world(const std::string &path, census &c, std::string &error,
                  const census_progress &progress = {});

#endif
