#include "lodecast/storage/sectioned_storage.h"

#include "lodecast/formats/chunk_document.h"
#include "lodecast/ores/ore_table.h"
#include "lodecast/pipeline/output.h"
#include "lodecast/run/number.h"
#include "lodecast/storage/block_entities.h"
#include "lodecast/storage/placement_rule.h"
#include "lodecast/storage/section_blocks.h"

#include <vector>

namespace {

struct sectioned_ore : prepared_ore {
    int id = 0;
    int data = 0;
    std::vector<bool> replaces; // by id << 4 | data
    std::vector<bool> relights; // replacing it may change the light
};

class sectioned_blocks : public block_grid {
  public:
    explicit sectioned_blocks(nbt_tag *root) : root_(root), finished_(terrain_populated(root)) {
        entities_.bind(find_in_level(root, "TileEntities"));
    }
    sections_shape bind() { return sections_.bind(root_); }
    int bottom() const override { return 0; }
    int top() const override { return sectioned_height - 1; }
    bool finished() const override { return finished_; }
    bool begin(const prepared_ore &ore) override {
        ore_ = static_cast<const sectioned_ore *>(&ore);
        return true;
    }
    bool place(int x, int y, int z) override {
        if (sections_.at(y).compound == nullptr) {
            return false; // air, and a section is never created
        }
        const auto state =
            static_cast<size_t>(sections_.id(x, y, z) << 4 | sections_.data(x, y, z));
        if (!ore_->replaces[state] || entities_.at(x, y, z)) {
            return false;
        }
        if (!sections_.set(x, y, z, ore_->id, ore_->data)) {
            failed_ = true;
            return false;
        }
        relight_ = relight_ || ore_->relights[state];
        return true;
    }
    bool air(int x, int y, int z) override {
        return sections_.at(y).compound == nullptr || sections_.id(x, y, z) == 0;
    }
    chunk_status finish() override {
        if (failed_) {
            return chunk_status::init_failed; // an "Add" array could not be made
        }
        if (relight_) {
            mark_for_relighting(root_);
        }
        return chunk_status::ok;
    }

  private:
    nbt_tag *root_;
    chunk_sections sections_;
    bool finished_;
    block_entities entities_;
    const sectioned_ore *ore_ = nullptr;
    bool relight_ = false;
    bool failed_ = false;
};

} // namespace

void mark_for_relighting(nbt_tag *root) {
    // The game relights a chunk whose light is not marked as computed; stone
    // turned into ore lets no more light through, anything else might.
    nbt_tag *lit = find_in_level(root, "LightPopulated");
    if (lit != nullptr && nbt_cast_byte(lit) != nullptr) {
        nbt_set_byte(lit, 0);
    }
}

int32_t sectioned_storage::height_modulus() const {
    return sectioned_height;
}

bool sectioned_storage::read_ore(const std::string &word, ore_block &block,
                                 std::string &error) const {
    if (read_known_ore(word, block)) {
        return true;
    }
    int32_t v = 0;
    if (parse_decimal(word.c_str(), &v)) {
        if (v < 0 || v > max_sectioned_id) {
            error = "Ore ID has to be a block id 0..4095 or a block name in this world";
            return false;
        }
        block.id = v;
    } else {
        if (!registry_read_) {
            registry_read_ = true;
            have_registry_ = registry_.load(world_);
        }
        if (!have_registry_) {
            error = "Ore ID has to be a number (the world's level.dat lists no block names)";
            return false;
        }
        const int found = registry_.id_of(word);
        if (found < 0 || found > max_sectioned_id) {
            std::string list;
            for (const std::string &name : registry_.close_matches(word)) {
                list += (list.empty() ? "" : ", ") + shown(name);
            }
            error = "Unknown block name \"" + shown(word) + "\" in this world" +
                    (list.empty() ? "" : " - close matches: ") + list;
            return false;
        }
        block.id = found;
    }
    block.label = ore_name(block.id);
    if (find_ore(block.id) == nullptr) {
        // Reports name a mod's block as the world's registry does, not by its id.
        if (!registry_read_) {
            registry_read_ = true;
            have_registry_ = registry_.load(world_);
        }
        const std::string name = have_registry_ ? registry_.name_of(block.id) : "";
        block.label = name.empty() ? block.label : name;
    }
    block.defaults_id = block.id;
    return true;
}

std::unique_ptr<prepared_ore> sectioned_storage::prepare(const ore_plan &ore) const {
    auto p = std::make_unique<sectioned_ore>();
    const auto id = static_cast<int16_t>(ore.block.id);
    p->id = id;
    p->data = (ore.opt.set & OPT_DATA) ? ore.opt.data & 0x0F : 0;
    p->replaces.resize(size_t{max_sectioned_id + 1} << 4);
    p->relights.resize(p->replaces.size());
    for (int cur = 0; cur <= max_sectioned_id; ++cur) {
        for (int data = 0; data < 16; ++data) {
            const bool stone = cur == stone_id && natural_rock(data);
            const auto state = static_cast<size_t>(cur << 4 | data);
            p->replaces[state] = ore_may_replace(cur, id, ore.opt.set, stone);
            p->relights[state] = !stone;
        }
    }
    return p;
}

chunk_status sectioned_storage::bind(nbt_file *doc, std::unique_ptr<block_grid> &out) const {
    auto grid = std::make_unique<sectioned_blocks>(doc->root);
    if (!tag_types_known(doc->root) || grid->bind() != sections_shape::ok) {
        return chunk_status::invalid;
    }
    out = std::move(grid);
    return chunk_status::ok;
}

bool sectioned_storage::unfinished(nbt_tag *skeleton) const {
    return !terrain_populated(skeleton);
}
