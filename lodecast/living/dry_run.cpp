#include "lodecast/living/dry_run.h"

#include "lodecast/census/census_render.h"
#include "lodecast/census/chunk_map.h"

dry_run::dry_run(int16_t ore_id) : c_(make_census({ore_id})) {}

void dry_run::add(const chunk_meta &m, const placement_count &placed) {
    // A sectioned chunk's placements may reach above a flat chunk's top:
    // then the report counts the taller heights.
    for (size_t y = chunk_height; y < placed.per_y.size() && c_.height == chunk_height; ++y) {
        if (placed.per_y[y] != 0) {
            c_.height = sectioned_height;
        }
    }
    ore_tally &t = c_.ores.front();
    t.per_y.resize(static_cast<size_t>(c_.height));
    for (int y = 0; y < c_.height; ++y) {
        t.per_y[static_cast<size_t>(y)] += placed.per_y[static_cast<size_t>(y)];
    }
    t.total += placed.total;
    t.chunks += placed.total > 0 ? 1 : 0;
    ++c_.chunks_counted;
    c_.cells.push_back({m.x, m.z, placed.total, false});
}

void dry_run::failed(const chunk_meta &m, const std::string &describe) {
    c_.skipped.push_back({describe, "left alone"});
    c_.cells.push_back({m.x, m.z, 0, true});
}

std::string dry_run::report(const std::string &world) const {
    return "Dry run: nothing was written. The run would add:\n" + render_report(c_, world);
}

std::string dry_run::map(const std::string &world) const {
    return render_chunk_map(c_.cells, "What lodecast would add to " + world,
                            c_.ores.front().name + " blocks per chunk");
}
