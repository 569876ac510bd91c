#include "lodecast/living/dry_run.h"

#include "lodecast/census/census_render.h"
#include "lodecast/census/chunk_map.h"

#include <algorithm>

namespace {

census ore_census(const std::vector<ore_plan> &ores) {
    std::vector<int> ids;
    std::vector<std::string> names;
    for (const ore_plan &ore : ores) {
        ids.push_back(ore.block.id);
        names.push_back(ore.block.name.empty() ? ore.block.label : ore.block.name);
    }
    return ores.empty() || ores.front().block.name.empty()
               ? make_census(ids, names)
               : make_state_census(names, 0, chunk_height);
}

// Widens c's heights to take y (in steps of the report's bands).
void take_height(census &c, int y) {
    const int bottom = std::min(c.bottom, y & ~7);
    const int top = std::max(c.bottom + c.height, (y + 8) & ~7);
    if (bottom == c.bottom && top == c.bottom + c.height) {
        return;
    }
    for (ore_tally &t : c.ores) {
        std::vector<uint64_t> per_y(static_cast<size_t>(top - bottom), 0);
        std::copy(t.per_y.begin(), t.per_y.end(), per_y.begin() + (c.bottom - bottom));
        t.per_y = std::move(per_y);
    }
    c.bottom = bottom;
    c.height = top - bottom;
}

} // namespace

dry_run::dry_run(const std::vector<ore_plan> &ores) : c_(ore_census(ores)) {
    for (const ore_plan &ore : ores) {
        size_t row = 0;
        while (row + 1 < c_.ores.size() &&
               (c_.ores[row].id != ore.block.id || c_.ores[row].state != ore.block.name)) {
            ++row;
        }
        tally_of_.push_back(row);
    }
}

void dry_run::add(const chunk_meta &m, const std::vector<placement_count> &placed) {
    // Taller chunks than a flat one, or heights below 0, widen the report.
    uint64_t cell = 0;
    for (const placement_count &p : placed) {
        for (size_t i = 0; i < p.per_y.size(); ++i) {
            if (p.per_y[i] != 0) {
                const int y = p.bottom + static_cast<int>(i);
                take_height(c_,
                            y >= chunk_height && y < sectioned_height ? sectioned_height - 1 : y);
            }
        }
        cell += p.total;
    }
    std::vector<bool> holds(c_.ores.size(), false);
    for (size_t k = 0; k < placed.size() && k < tally_of_.size(); ++k) {
        ore_tally &t = c_.ores[tally_of_[k]];
        for (size_t i = 0; i < placed[k].per_y.size(); ++i) {
            const int at = placed[k].bottom + static_cast<int>(i) - c_.bottom;
            if (placed[k].per_y[i] != 0) {
                t.per_y[static_cast<size_t>(at)] += placed[k].per_y[i];
            }
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
    return render_chunk_map(c_.cells, "What lodecast would add to " + world, map_legend(c_));
}
