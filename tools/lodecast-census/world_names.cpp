#include "tools/lodecast-census/world_names.h"

#include "lodecast/formats/block_registry.h"
#include "lodecast/formats/dimension.h"
#include "lodecast/formats/region_file.h"
#include "lodecast/formats/region_world.h"
#include "lodecast/formats/world_kind.h"
#include "lodecast/ores/ore_table.h"
#include "lodecast/storage/paletted_chunk.h"
#include "lodecast/storage/section_blocks.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <set>
#include <string_view>

namespace {

// Enough chunks holding ore for the ores of their surroundings, few enough
// to answer within a keystroke (unfinished chunks around them hold none).
constexpr int chunks_with_ore = 32;

// "ore" as a word of the name after its namespace: deepslate_coal_ore or
// ore_tin, not core_block or stored.
bool names_an_ore(std::string_view name) {
    const size_t colon = name.find(':');
    name.remove_prefix(colon == std::string_view::npos ? 0 : colon + 1);
    for (size_t at = name.find("ore"); at != std::string_view::npos;
         at = name.find("ore", at + 1)) {
        const bool starts = at == 0 || name[at - 1] == '_';
        const bool ends = at + 3 == name.size() || name[at + 3] == '_';
        if (starts && ends) {
            return true;
        }
    }
    return false;
}

// Completion shows nothing but names: a problem ends the search quietly.
class quiet_hooks : public walk_hooks {
  public:
    void settle_folder(dev_t, ino_t) override {}
    bool settle_file(dev_t, ino_t) override { return false; }
    bool problem(walk_problem, const std::string &, int, bool) override { return true; }
    void skipped(const std::string &, const std::string &) override {}
};

void palette_names(const std::string &folder, std::set<std::string> &out) {
    region_world_format format(folder + "/region", "region", region::extension::mca);
    if (!format.open()) {
        return;
    }
    quiet_hooks hooks;
    chunk_io io;
    std::unique_ptr<world_unit> unit;
    if (format.next(unit, hooks) != world_format::step::unit) {
        return;
    }
    int with_ore = 0;
    for (size_t i = 0; i < unit->chunk_count() && with_ore < chunks_with_ore; ++i) {
        nbt::document doc;
        paletted_chunk chunk;
        if (unit->load(i, doc, io) != chunk_status::ok ||
            chunk.bind(doc->root) != paletted_result::ok) {
            continue;
        }
        bool ore = false;
        for (int y = chunk.bottom() >> 4; y <= chunk.top() >> 4; ++y) {
            for (const palette_entry &e : chunk.palette(y)) {
                if (names_an_ore(e.name)) {
                    out.emplace(e.name);
                    ore = true;
                }
            }
        }
        with_ore += ore ? 1 : 0;
    }
}

} // namespace

std::vector<std::string> world_ore_names(const std::string &world) {
    std::vector<std::string> names;
    for (const ore_record &ore : ore_list) {
        std::string name = ore.name;
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        names.push_back(name);
    }
    std::set<std::string> found;
    const std::string overworld = dimension_folder(world, nullptr);
    const world_kind kind = identify_world(world, overworld);
    block_registry registry;
    if (kind == world_kind::sectioned && registry.load(world)) {
        for (int id = 0; id <= max_sectioned_id; ++id) {
            if (const std::string name = registry.name_of(id); names_an_ore(name)) {
                found.insert(name);
            }
        }
    } else if (kind == world_kind::paletted) {
        palette_names(overworld, found);
    }
    names.insert(names.end(), found.begin(), found.end());
    return names;
}
