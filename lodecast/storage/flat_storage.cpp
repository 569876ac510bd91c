#include "lodecast/storage/flat_storage.h"

#include "lodecast/formats/chunk_document.h"
#include "lodecast/ores/ore_table.h"
#include "lodecast/run/number.h"
#include "lodecast/storage/block.h"
#include "lodecast/storage/block_entities.h"
#include "lodecast/storage/placement_rule.h"

#include <array>

namespace {

struct flat_ore : prepared_ore {
    unsigned char id = 0;                // the byte placed
    std::array<bool, 256> replaces = {}; // by the id found
    bool data = false;                   // -d: the nibble is written too
    unsigned char data_value = 0;
};

class flat_blocks : public block_grid {
  public:
    flat_blocks(nbt_byte_array *arr, nbt_byte_array *dat, nbt_tag *root = nullptr)
        : arr_(arr), dat_(dat), finished_(root == nullptr || terrain_populated(root)) {
        if (root != nullptr) {
            entities_.bind(find_in_level(root, "TileEntities"));
        }
    }
    int bottom() const override { return 0; }
    int top() const override { return chunk_height - 1; }
    bool finished() const override { return finished_; }
    bool begin(const prepared_ore &ore) override {
        ore_ = static_cast<const flat_ore *>(&ore);
        // Data values need the whole nibble array.
        return !ore_->data ||
               (dat_ != nullptr && dat_->content != nullptr && dat_->length >= chunk_data_bytes);
    }
    bool place(int x, int y, int z) override {
        const block_position pos = block_at(x, y, z);
        if (!ore_->replaces[arr_->content[pos.index]] || entities_.at(x, y, z)) {
            return false;
        }
        arr_->content[pos.index] = ore_->id;
        if (ore_->data) {
            unsigned char &byte = dat_->content[pos.data_byte];
            const unsigned v = ore_->data_value;
            byte = static_cast<unsigned char>(pos.high_nibble ? (byte & 0x0Fu) | (v << 4)
                                                              : (byte & 0xF0u) | v);
        }
        return true;
    }
    bool air(int x, int y, int z) override { return arr_->content[block_at(x, y, z).index] == 0; }
    chunk_status finish() override { return chunk_status::ok; }

  private:
    nbt_byte_array *arr_;
    nbt_byte_array *dat_;
    bool finished_;
    block_entities entities_;
    const flat_ore *ore_ = nullptr;
};

} // namespace

std::unique_ptr<block_grid> flat_grid(nbt_byte_array *blocks, nbt_byte_array *dat) {
    return std::make_unique<flat_blocks>(blocks, dat);
}

int32_t flat_storage::height_modulus() const {
    return chunk_height;
}

bool flat_storage::read_ore(const std::string &word, ore_block &block, std::string &) const {
    if (read_known_ore(word, block)) {
        return true;
    }
    int32_t v = 0;
    if (!parse_decimal(word.c_str(), &v)) {
        return false;
    }
    // Truncated as a byte of the array would be read back: -300 gives -44.
    block.id = static_cast<int16_t>(v % 256);
    block.label = ore_name(block.id);
    block.defaults_id = block.id;
    return true;
}

std::unique_ptr<prepared_ore> flat_storage::prepare(const ore_plan &ore) const {
    auto p = std::make_unique<flat_ore>();
    const auto id = static_cast<int16_t>(ore.block.id);
    p->id = static_cast<unsigned char>(id & 0xFF);
    for (int cur = 0; cur < 256; ++cur) {
        p->replaces[static_cast<size_t>(cur)] =
            ore_may_replace(cur, id, ore.opt.set, cur == stone_id);
    }
    p->data = (ore.opt.set & OPT_DATA) != 0;
    p->data_value = static_cast<unsigned char>(static_cast<unsigned>(ore.opt.data) & 0x0Fu);
    return p;
}

chunk_status flat_storage::bind(nbt_file *doc, std::unique_ptr<block_grid> &out) const {
    nbt_byte_array *arr = chunk_blocks(doc->root);
    if (arr == nullptr || !tag_types_known(doc->root)) {
        return chunk_status::invalid;
    }
    nbt_tag *data = find_in_level(doc->root, "Data");
    out = std::make_unique<flat_blocks>(arr, data == nullptr ? nullptr : nbt_cast_byte_array(data),
                                        doc->root);
    return chunk_status::ok;
}

bool flat_storage::unfinished(nbt_tag *skeleton) const {
    return !terrain_populated(skeleton);
}
