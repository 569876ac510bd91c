#include "lodecast/storage/block_entities.h"

#include "lodecast/formats/chunk_document.h"

#include <algorithm>

namespace {

bool int_of(nbt_tag *compound_tag, const char *name, int32_t *out) {
    nbt_tag *t = nbt_find_tag_by_name(name, compound_tag);
    const int32_t *v = t == nullptr ? nullptr : nbt_cast_int(t);
    if (v == nullptr) {
        return false;
    }
    *out = *v;
    return true;
}

} // namespace

int64_t block_entities::key(int x, int y, int z) {
    // A world x or z and its chunk-local one agree in their low four bits.
    return int64_t{y} * 256 + (z & 15) * 16 + (x & 15);
}

void block_entities::bind(nbt_tag *list) {
    keys_.clear();
    const nbt_list *l = list == nullptr ? nullptr : nbt_cast_list(list);
    if (l == nullptr || l->type != TAG_COMPOUND) {
        return;
    }
    for (int32_t i = 0; i < l->length; ++i) {
        nbt_tag entry{TAG_COMPOUND, nullptr, l->content[i]}; // borrowed
        int32_t x = 0;
        int32_t y = 0;
        int32_t z = 0;
        if (l->content[i] != nullptr && int_of(&entry, "x", &x) && int_of(&entry, "y", &y) &&
            int_of(&entry, "z", &z)) {
            keys_.push_back(key(x, y, z));
        }
    }
    std::sort(keys_.begin(), keys_.end());
}

bool block_entities::at(int x, int y, int z) const {
    return !keys_.empty() && std::binary_search(keys_.begin(), keys_.end(), key(x, y, z));
}

bool terrain_populated(nbt_tag *root) {
    nbt_tag *t = find_in_level(root, "TerrainPopulated");
    const char *v = t == nullptr ? nullptr : nbt_cast_byte(t);
    return v == nullptr || *v != 0;
}
