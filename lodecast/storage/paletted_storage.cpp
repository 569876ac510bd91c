#include "lodecast/storage/paletted_storage.h"

#include "lodecast/formats/chunk_document.h"
#include "lodecast/ores/ore_table.h"
#include "lodecast/run/number.h"
#include "lodecast/storage/chunk_biomes.h"
#include "lodecast/storage/paletted_chunk.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>

namespace {

// What an ore does to a block of a palette entry.
enum class outcome : uint8_t { keep, plain, deep };
struct rule {
    outcome to = outcome::keep;
    bool relight = false; // the block was not opaque rock: light may change
};

// The known ores' modern blocks, by the ids they had.
struct modern_ore {
    int id;
    const char *name;
};
constexpr modern_ore modern_ores[] = {
    {16, "minecraft:coal_ore"},     {15, "minecraft:iron_ore"},    {14, "minecraft:gold_ore"},
    {73, "minecraft:redstone_ore"}, {56, "minecraft:diamond_ore"}, {21, "minecraft:lapis_ore"},
};

// The vanilla ores that have a variant in deepslate.
constexpr const char *deepslate_ores[] = {"coal",    "iron",  "gold",    "redstone",
                                          "diamond", "lapis", "emerald", "copper"};

// The rock a default vein replaces with the plain ore.
constexpr const char *natural_rock_names[] = {"minecraft:stone", "minecraft:granite",
                                              "minecraft:diorite", "minecraft:andesite",
                                              "minecraft:tuff"};
constexpr const char *deepslate_name = "minecraft:deepslate";

bool ends_with(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

bool is_air(std::string_view name) {
    return name == "minecraft:air" || name == "minecraft:cave_air" || name == "minecraft:void_air";
}

// A block-state name as the game writes it: a namespace, a colon and a
// path, of lower-case letters, digits and _-./ only.
bool valid_name(const std::string &name) {
    const size_t colon = name.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == name.size()) {
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
                        c == '.' || (c == '/' && i > colon) || i == colon;
        if (!ok) {
            return false;
        }
    }
    return true;
}

// The ore's state as the game places it: its default properties.
block_state default_state(const std::string &name) {
    block_state s{name, {}};
    if (name == "minecraft:redstone_ore" || name == "minecraft:deepslate_redstone_ore") {
        s.properties.emplace_back("lit", "false");
    }
    return s;
}

// The deepslate variant the game has for a vanilla ore, or "".
std::string vanilla_deep(const std::string &name) {
    for (const char *ore : deepslate_ores) {
        if (name == std::string("minecraft:") + ore + "_ore") {
            return std::string("minecraft:deepslate_") + ore + "_ore";
        }
    }
    return "";
}

struct paletted_ore : prepared_ore {
    block_state plain;
    block_state deep;                           // name "": none
    uint32_t set = 0;                           // OPT_OVER_*
    std::unordered_map<std::string, bool> rock; // natural rock by name

    rule classify(std::string_view name) const {
        if (name == plain.name || (!deep.name.empty() && name == deep.name)) {
            return {};
        }
        if (rock.count(std::string(name)) != 0) {
            return {outcome::plain, false};
        }
        const bool deep_rock = name == deepslate_name;
        if (deep_rock && !deep.name.empty()) {
            return {outcome::deep, false};
        }
        const bool taken =
            (set & OPT_OVER_ALL) || ((set & OPT_OVER_BLOCKS) && !is_air(name)) ||
            ((set & OPT_OVER_ORES) &&
             (ends_with(name, "_ore") || name == "minecraft:dirt" || name == "minecraft:gravel"));
        if (!taken) {
            return {};
        }
        const bool in_deepslate = name.find("deepslate") != std::string_view::npos;
        return {in_deepslate && !deep.name.empty() ? outcome::deep : outcome::plain,
                !deep_rock && !ends_with(name, "_ore")};
    }
};

class paletted_blocks : public block_grid {
  public:
    explicit paletted_blocks(nbt_tag *root) : root_(root) {}
    paletted_result bind() { return chunk_.bind(root_); }
    int bottom() const override { return chunk_.bottom(); }
    int top() const override { return chunk_.top(); }
    bool finished() const override { return chunk_.finished(); }
    int32_t data_version() const override { return chunk_.data_version(); }
    bool spreads_by_default() const override { return true; }
    bool biome(int x, int y, int z, std::string &name) override {
        return stored_biome(root_, x, y, z, name);
    }
    bool air(int x, int y, int z) override {
        return chunk_.index_at(x, y, z) < 0 || is_air(chunk_.entry_at(x, y, z).name);
    }

    bool begin(const prepared_ore &ore) override {
        ore_ = static_cast<const paletted_ore *>(&ore);
        sections_ = {}; // each ore classifies the palettes anew
        return true;
    }

    bool place(int x, int y, int z) override {
        const int index = chunk_.index_at(x, y, z);
        if (index < 0) {
            return false; // no block states here: air, never given blocks
        }
        section_rules &s = rules_of(y >> 4);
        const rule r = static_cast<size_t>(index) < s.rules.size()
                           ? s.rules[static_cast<size_t>(index)]
                           : rule{};
        if (r.to == outcome::keep || chunk_.has_block_entity(x, y, z)) {
            return false;
        }
        int &target = r.to == outcome::deep ? s.deep : s.plain;
        if (target < 0) {
            // The state joins the section's palette where it is first placed.
            target = chunk_.find_or_add(y >> 4, r.to == outcome::deep ? ore_->deep : ore_->plain);
            if (target < 0) {
                failed_ = true;
                return false;
            }
            s.rules.resize(chunk_.palette(y >> 4).size()); // the ore itself is kept
        }
        if (!chunk_.set_index(x, y, z, target)) {
            failed_ = true;
            return false;
        }
        relight_ = relight_ || r.relight;
        return true;
    }

    chunk_status finish() override {
        if (failed_ || chunk_.refused()) {
            return chunk_.refused() ? chunk_status::invalid : chunk_status::init_failed;
        }
        switch (chunk_.write_back()) {
        case paletted_result::ok:
            break;
        case paletted_result::out_of_memory:
            return chunk_status::init_failed;
        default:
            return chunk_status::invalid;
        }
        if (relight_) {
            // The game relights a chunk without isLightOn and recomputes
            // missing heightmaps when it loads it.
            nbt_tag *level = nbt_find_tag_by_name("Level", root_);
            nbt_tag *holder = chunk_.layout() == chunk_layout::level ? level : root_;
            for (const char *name : {"isLightOn", "Heightmaps"}) {
                if (nbt_tag *t = holder == nullptr ? nullptr : nbt_find_tag_by_name(name, holder)) {
                    nbt_remove_tag(t, holder);
                }
            }
        }
        return chunk_status::ok;
    }

  private:
    struct section_rules {
        bool classified = false;
        std::vector<rule> rules; // by palette index
        int plain = -1;          // the ore's indices once placed here
        int deep = -1;
    };
    section_rules &rules_of(int section_y) {
        section_rules &s = sections_[static_cast<size_t>(section_y) & 63];
        if (!s.classified) {
            s.classified = true;
            const std::span<const palette_entry> palette = chunk_.palette(section_y);
            s.rules.reserve(palette.size() + 2); // room for the ore's two states
            for (const palette_entry &e : palette) {
                s.rules.push_back(ore_->classify(e.name));
            }
        }
        return s;
    }

    nbt_tag *root_;
    paletted_chunk chunk_;
    const paletted_ore *ore_ = nullptr;
    // By section Y modulo 64: a chunk spans far fewer sections than that.
    std::array<section_rules, 64> sections_{};
    bool relight_ = false;
    bool failed_ = false;
};

} // namespace

void paletted_storage::take_options(const options &opt) {
    base_.clear();
    const std::string list =
        (opt.set & OPT_BASE) && opt.base_names != nullptr ? opt.base_names : "";
    for (size_t at = 0; at < list.size();) {
        const size_t comma = std::min(list.find(',', at), list.size());
        if (comma > at) {
            const std::string name = list.substr(at, comma - at);
            base_.push_back(name.find(':') == std::string::npos ? "minecraft:" + name : name);
        }
        at = comma + 1;
    }
    deep_ = (opt.set & OPT_DEEP) && opt.deep_name != nullptr ? opt.deep_name : "";
}

int32_t paletted_storage::height_modulus() const {
    return 4096; // heights are the chunk's own, below 0 too
}

bool paletted_storage::read_ore(const std::string &word, ore_block &block,
                                std::string &error) const {
    int32_t id = 0;
    const bool known = read_known_ore(word, block) ||
                       (parse_decimal(word.c_str(), &id) && find_ore(id) != nullptr &&
                        read_known_ore(find_ore(id)->name, block));
    if (known) {
        for (const modern_ore &m : modern_ores) {
            if (m.id == block.id) {
                block.name = m.name;
            }
        }
    } else {
        block.name = word.find(':') == std::string::npos ? "minecraft:" + word : word;
        if (parse_decimal(word.c_str(), &id) || !valid_name(block.name)) {
            error = "Ore has to be a block name (like minecraft:diamond_ore) or a known ore";
            return false;
        }
        for (const modern_ore &m : modern_ores) {
            block.defaults_id = block.name == m.name ? m.id : block.defaults_id;
        }
        block.id = 0;
    }
    block.label = block.name;
    block.deep = vanilla_deep(block.name);
    if (block.deep.empty()) {
        block.deep = deep_;
    }
    return true;
}

std::unique_ptr<prepared_ore> paletted_storage::prepare(const ore_plan &ore) const {
    auto p = std::make_unique<paletted_ore>();
    p->plain = default_state(ore.block.name);
    if (!ore.block.deep.empty()) {
        p->deep = default_state(ore.block.deep);
    }
    p->set = ore.opt.set & (OPT_OVER_ORES | OPT_OVER_BLOCKS | OPT_OVER_ALL);
    for (const char *name : natural_rock_names) {
        p->rock[name] = true;
    }
    for (const std::string &name : base_) {
        p->rock[name] = true;
    }
    return p;
}

chunk_status paletted_storage::bind(nbt_file *doc, std::unique_ptr<block_grid> &out) const {
    auto grid = std::make_unique<paletted_blocks>(doc->root);
    if (!tag_types_known(doc->root) || grid->bind() != paletted_result::ok ||
        grid->data_version() > newest_known_data_version) {
        return chunk_status::invalid;
    }
    out = std::move(grid);
    return chunk_status::ok;
}

// The skeleton binds as its chunk does, with no sections and no block
// entities; the status and its era are the chunk's own.
bool paletted_storage::unfinished(nbt_tag *skeleton) const {
    paletted_blocks grid(skeleton);
    return grid.bind() == paletted_result::ok && grid.data_version() <= newest_known_data_version &&
           !grid.finished();
}
