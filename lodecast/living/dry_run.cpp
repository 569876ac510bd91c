#include "lodecast/living/dry_run.h"

#include "lodecast/census/census_render.h"
#include "lodecast/census/chunk_map.h"

namespace {

census ore_census(const std::vector<ore_plan> &ores) {
    std::vector<int> ids;
    std::vector<std::string> names;
    for (const ore_plan &ore : ores) {
        ids.push_back(ore.block.id);
        names.push_back(ore.block.label);
    }
    return make_census(ids, names);
}

} // namespace

dry_run::dry_run(const std::vector<ore_plan> &ores) : c_(ore_census(ores)) {
    for (const ore_plan &ore : ores) {
        size_t row = 0;
        while (row + 1 < c_.ores.size() && c_.ores[row].id != ore.block.id) {
            ++row;
        }
        tally_of_.push_back(row);
    }
}

void dry_run::add(const chunk_meta &m, const std::vector<placement_count> &placed) {
    // A sectioned chunk's placements may reach above a flat chunk's top:
    // then the report counts the taller heights.
    uint64_t cell = 0;
    for (const placement_count &p : placed) {
        for (size_t y = chunk_height; y < p.per_y.size() && c_.height == chunk_height; ++y) {
            if (p.per_y[y] != 0) {
                c_.height = sectioned_height;
            }
        }
        cell += p.total;
    }
    std::vector<bool> holds(c_.ores.size(), false);
    for (size_t k = 0; k < placed.size() && k < tally_of_.size(); ++k) {
        ore_tally &t = c_.ores[tally_of_[k]];
        t.per_y.resize(static_cast<size_t>(c_.height));
        for (int y = 0; y < c_.height; ++y) {
            t.per_y[static_cast<size_t>(y)] += placed[k].per_y[static_cast<size_t>(y)];
        }
        t.total += placed[k].total;
        holds[tally_of_[k]] = holds[tally_of_[k]] || placed[k].total > 0;
    }
    for (size_t row = 0; row < c_.ores.size(); ++row) {
        c_.ores[row].chunks += holds[row] ? 1 : 0;
    }
    ++c_.chunks_counted;
    c_.cells.push_back({m.x, m.z, cell, false});
}

void dry_run::failed(const chunk_meta &m, const std::string &describe) {
    c_.skipped.push_back({describe, "left alone"});
    c_.cells.push_back({m.x, m.z, 0, true});
}

std::string dry_run::report(const std::string &world) const {
    return "Dry run: nothing was written. The run would add:\n" + render_report(c_, world);
}

std::string dry_run::map(const std::string &world) const {
    std::string names;
    for (const ore_tally &t : c_.ores) {
        names += (names.empty() ? "" : ", ") + t.name;
    }
    return render_chunk_map(c_.cells, "What lodecast would add to " + world,
                            names + " blocks per chunk");
}
