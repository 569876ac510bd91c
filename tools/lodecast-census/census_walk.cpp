#include "tools/lodecast-census/census_walk.h"

#include "lodecast/chunk_document.h"
#include "lodecast/world_kind.h"

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

// The reason a chunk could not be loaded, in words.
std::string load_failure(const world_unit &unit, size_t i, chunk_status status) {
    const std::string why = unit.why(i);
    if (!why.empty()) {
        return why;
    }
    switch (status) {
    case chunk_status::init_failed:
        return "out of memory";
    case chunk_status::invalid:
        return "over the limits of a chunk, or not one that could be written back unchanged";
    default:
        return "not a valid NBT file (damaged or truncated)";
    }
}

} // namespace

bool census_world(const std::string &path, census &c, std::string &error,
                  const census_progress &progress) {
    const world_kind kind = identify_world(path, path);
    std::unique_ptr<world_format> format = open_world_format(kind, path, path, true);
    if (!format) {
        error = std::strerror(errno);
        return false;
    }
    census_hooks hooks(c);
    chunk_io io;
    std::unique_ptr<world_unit> unit;
    while (format->next(unit, hooks) == world_format::step::unit) {
        for (size_t i = 0; i < unit->chunk_count(); ++i) {
            nbt::document doc;
            const chunk_status st = unit->load(i, doc, io);
            const size_t skipped = c.skipped.size();
            uint64_t before = 0;
            for (const ore_tally &t : c.ores) {
                before += t.total;
            }
            if (st != chunk_status::ok) {
                c.skipped.push_back({unit->describe(i), load_failure(*unit, i, st)});
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
