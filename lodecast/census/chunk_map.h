// A top-down map of a world as SVG: one cell per chunk, shaded by a count.
#ifndef LODECAST_CENSUS_CHUNK_MAP_H
#define LODECAST_CENSUS_CHUNK_MAP_H

#include <cstdint>
#include <string>
#include <vector>

struct map_cell {
    int32_t x = 0;
    int32_t z = 0;
    uint64_t count = 0;
    bool unreadable = false; // drawn hatched with a red outline
};

// A standalone SVG: x to the right, z downwards, chunk coordinates on both
// axes, a legend with the shading's scale (what counts in legend), and
// title on top. Every cell is a <rect class="chunk"> (class "chunk
// unreadable" for those that could not be read).
std::string render_chunk_map(const std::vector<map_cell> &cells, const std::string &title,
                             const std::string &legend);

#endif
