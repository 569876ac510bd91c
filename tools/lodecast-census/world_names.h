// The ore names a world accepts, for completing a command line.
#ifndef LODECAST_CENSUS_WORLD_NAMES_H
#define LODECAST_CENSUS_WORLD_NAMES_H

#include <string>
#include <vector>

// The six known ores' names, then, sorted, the ore blocks the world names
// ("ore" a word of the name after its namespace): its registry's in a
// sectioned world, those in the palettes of the first 32 chunks holding ore
// of its first region file in a paletted world (reading every chunk would be too slow
// to complete a command line with).
std::vector<std::string> world_ore_names(const std::string &world);

#endif
