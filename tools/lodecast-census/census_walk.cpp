#include "tools/lodecast-census/census_walk.h"

#include "lodecast/formats/chunk_document.h"
#include "lodecast/formats/dimension.h"
#include "lodecast/formats/world_kind.h"
#include "lodecast/pipeline/file_problem.h"
#include "lodecast/storage/paletted_chunk.h"

#include <algorithm>

#include <cerrno>
#include <cstring>

namespace {

// Records what the walk could not examine and goes on; nothing is in
// flight, so there is nothing to settle.
class census_hooks : public walk_hooks {
  public:
    explicit census_hooks(census &c) : c_(c) {}
    void settle_folder(dev_t, ino_t) override {}
    bool settle_file(dev_t, ino_t) override { return false; }
    bool problem(walk_problem, const std::string &path, int err, bool chunk_entry) override {
        if (chunk_entry) {
            c_.skipped.push_back({path, std::strerror(err)});
        } else {
            c_.skipped_dirs.push_back(path + ": " + std::strerror(err));
        }
        return false;
    }
    void skipped(const std::string &path, const std::string &why) override {
        c_.skipped.push_back({path, why});
    }

  private:
    census &c_;
};

// Why a loaded sectioned document cannot be counted, or null.
const char *sections_problem(nbt_tag *root, chunk_sections &sections) {
    switch (sections.bind(root)) {
    case sections_shape::ok:
        return nullptr;
    case sections_shape::not_a_chunk:
        return "no \"Sections\" list of compounds in \"Level\"";
    default:
        return "a section holds block storage lodecast does not understand";
    }
}

// Why a loaded document cannot be counted, or null.
const char *shape_problem(nbt_tag *root) {
    nbt_tag *level = root != nullptr ? nbt_find_tag_by_name("Level", root) : nullptr;
    if (level == nullptr || nbt_cast_compound(level) == nullptr) {
        return "no \"Level\" compound";
    }
    nbt_byte_array *blocks = chunk_blocks(root);
    if (blocks == nullptr || blocks->content == nullptr) {
        return "no \"Blocks\" array of 32768 bytes";
    }
    return nullptr;
}

// Adds a paletted chunk's blocks of the tallied states; false when the
// chunk's block storage cannot be read.
bool count_paletted(nbt_tag *root, census &c) {
    paletted_chunk chunk;
    if (chunk.bind(root) != paletted_result::ok) {
        return false;
    }
    std::vector<std::vector<uint64_t>> here(c.ores.size(),
                                            std::vector<uint64_t>(static_cast<size_t>(c.height)));
    for (int sy = chunk.bottom() >> 4; sy <= chunk.top() >> 4; ++sy) {
        std::vector<int> slot; // by palette index: the tally, or -1
        for (const palette_entry &e : chunk.palette(sy)) {
            int s = -1;
            for (size_t k = 0; k < c.ores.size(); ++k) {
                s = c.ores[k].state == e.name ? static_cast<int>(k) : s;
            }
            slot.push_back(s);
        }
        if (std::all_of(slot.begin(), slot.end(), [](int s) { return s < 0; })) {
            continue;
        }
        for (int y = sy * 16; y < sy * 16 + 16; ++y) {
            for (int z = 0; z < 16; ++z) {
                for (int x = 0; x < 16; ++x) {
                    const int i = chunk.index_at(x, y, z);
                    const int at = y - c.bottom;
                    if (i >= 0 && slot[static_cast<size_t>(i)] >= 0 && at >= 0 && at < c.height) {
                        ++here[static_cast<size_t>(slot[static_cast<size_t>(i)])]
                              [static_cast<size_t>(at)];
                    }
                }
            }
        }
    }
    if (chunk.refused()) {
        return false;
    }
    add_chunk_counts(here, c);
    return true;
}

// The reason a chunk could not be loaded, in words.
std::string load_failure(const world_unit &unit, size_t i, chunk_status status) {
    const std::string why = unit.why(i);
    if (!why.empty()) {
        return why;
    }
    if (status == chunk_status::invalid) {
        return "over the limits of a chunk, or not one that could be written back unchanged";
    }
    return unreadable_reason(status == chunk_status::init_failed ? NBT_EMEM : NBT_ERR, 0);
}

} // namespace

bool census_world(const std::string &path, census &c, std::string &error,
                  const census_progress &progress) {
    const std::string overworld = dimension_folder(path, nullptr);
    const world_kind kind = identify_world(path, overworld);
    std::unique_ptr<world_format> format = open_world_format(kind, path, overworld, true);
    if (!format) {
        error = kind == world_kind::too_new ? "it was saved by a newer game than lodecast knows"
                : kind == world_kind::unreadable_level
                    ? "its level.dat cannot be read, and without it its region files cannot be "
                      "told apart"
                    : std::strerror(errno);
        return false;
    }
    const bool sectioned = kind == world_kind::sectioned;
    const bool paletted = kind == world_kind::paletted;
    if (sectioned) {
        c.height = sectioned_height; // the tallies grow to the taller chunks
        for (ore_tally &t : c.ores) {
            t.per_y.resize(static_cast<size_t>(c.height), 0);
        }
    }
    census_hooks hooks(c);
    chunk_io io;
    std::unique_ptr<world_unit> unit;
    while (format->next(unit, hooks) == world_format::step::unit) {
        for (size_t i = 0; i < unit->chunk_count(); ++i) {
            nbt::document doc;
            chunk_sections sections;
            const chunk_status st = unit->load(i, doc, io);
            const size_t skipped = c.skipped.size();
            uint64_t before = 0;
            for (const ore_tally &t : c.ores) {
                before += t.total;
            }
            if (st != chunk_status::ok) {
                c.skipped.push_back({unit->describe(i), load_failure(*unit, i, st)});
            } else if (paletted) {
                if (!count_paletted(doc->root, c)) {
                    c.skipped.push_back(
                        {unit->describe(i), "its block storage is not one lodecast understands"});
                }
            } else if (sectioned) {
                if (const char *why = sections_problem(doc->root, sections)) {
                    c.skipped.push_back({unit->describe(i), why});
                } else {
                    count_sections(sections, c);
                }
            } else if (const char *why = shape_problem(doc->root)) {
                c.skipped.push_back({unit->describe(i), why});
            } else {
                count_blocks(chunk_blocks(doc->root)->content, c);
            }
            map_cell cell{unit->meta(i).x, unit->meta(i).z, 0, c.skipped.size() != skipped};
            for (const ore_tally &t : c.ores) {
                cell.count += t.total;
            }
            cell.count -= before;
            c.cells.push_back(cell);
            if (progress) {
                progress(c);
            }
        }
    }
    return true;
}
