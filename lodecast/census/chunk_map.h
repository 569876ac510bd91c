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
// axes, title on top and a legend at the right: its lines (what a cell
// counts, the ores by name), then the shading's scale. The map covers the
// chunks present: empty stretches between them are left out, each marked
// by a dashed line, and a cell is at least 5 pixels wide (k x k chunks to a
// cell where the world is too wide for that, which the map says). Every
// cell is a <rect class="chunk"> (class "chunk unreadable" for those that
// could not be read).
//
// same_scale: the cells of another map (a world before and after a run)
// drawn on the same scale: the area and the shading cover both, so that
// maps drawn each with the other as same_scale can be laid side by side.
std::string render_chunk_map(const std::vector<map_cell> &cells, const std::string &title,
                             const std::vector<std::string> &legend,
                             const std::vector<map_cell> &same_scale = {});

#endif
