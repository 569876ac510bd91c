#include "lodecast/storage/section_blocks.h"

#include <cstring>
#include <vector>

namespace {

bool is_array_of(nbt_tag *t, int32_t length, nbt_byte_array **out) {
    nbt_byte_array *a = t == nullptr ? nullptr : nbt_cast_byte_array(t);
    *out = a;
    return a != nullptr && a->length == length && a->content != nullptr;
}

// A section holding exactly the arrays the tool knows how to carry, each of
// its size; anything more (an extended-id storage, say) would be silently
// out of step with the ids the tool writes.
bool read_section(nbt_compound *c, section_view *out, int *y) {
    bool have_y = false;
    bool have_blocks = false;
    bool have_data = false;
    for (int32_t i = 0; i < c->length; ++i) {
        nbt_tag *t = c->tags[i];
        const char *name = t == nullptr || t->name == nullptr ? "" : t->name;
        nbt_byte_array *a = nullptr;
        if (std::strcmp(name, "Y") == 0) {
            const char *v = nbt_cast_byte(t);
            have_y = v != nullptr && *v >= 0 && *v < section_count;
            *y = have_y ? *v : 0;
        } else if (std::strcmp(name, "Blocks") == 0) {
            have_blocks = is_array_of(t, section_block_count, &out->blocks);
        } else if (std::strcmp(name, "Data") == 0) {
            have_data = is_array_of(t, section_nibble_bytes, &out->data);
        } else if (std::strcmp(name, "Add") == 0) {
            if (!is_array_of(t, section_nibble_bytes, &out->add)) {
                return false;
            }
        } else if (std::strcmp(name, "BlockLight") != 0 && std::strcmp(name, "SkyLight") != 0) {
            return false;
        } else if (!is_array_of(t, section_nibble_bytes, &a)) {
            return false;
        }
    }
    out->compound = c;
    return have_y && have_blocks && have_data;
}

// A zero "Add" array appended to the section; null when out of memory.
nbt_byte_array *create_add(nbt_compound *section) {
    nbt_tag *t = nullptr;
    if (nbt_new_byte_array(&t, "Add") != 0) {
        return nullptr;
    }
    const std::vector<unsigned char> zeros(section_nibble_bytes, 0);
    nbt_tag parent{TAG_COMPOUND, nullptr, section}; // borrowed, to reach the compound
    if (nbt_set_byte_array(t, zeros.data(), section_nibble_bytes) != 0 ||
        nbt_add_tag(t, &parent) == nullptr) {
        nbt_free_tag(t);
        return nullptr;
    }
    return nbt_cast_byte_array(t);
}

} // namespace

int get_nibble(const unsigned char *bytes, int32_t i) {
    const unsigned b = bytes[i >> 1];
    return static_cast<int>((i & 1) != 0 ? b >> 4 : b & 0x0Fu);
}

void set_nibble(unsigned char *bytes, int32_t i, int value) {
    unsigned char &b = bytes[i >> 1];
    const unsigned v = static_cast<unsigned>(value) & 0x0Fu;
    b = static_cast<unsigned char>((i & 1) != 0 ? (b & 0x0Fu) | (v << 4) : (b & 0xF0u) | v);
}

sections_shape chunk_sections::bind(nbt_tag *root) {
    sections_ = {};
    nbt_tag *level = root == nullptr ? nullptr : nbt_find_tag_by_name("Level", root);
    nbt_tag *list = level == nullptr || nbt_cast_compound(level) == nullptr
                        ? nullptr
                        : nbt_find_tag_by_name("Sections", level);
    const nbt_list *l = list == nullptr ? nullptr : nbt_cast_list(list);
    if (l == nullptr || (l->length > 0 && l->type != TAG_COMPOUND)) {
        return sections_shape::not_a_chunk;
    }
    for (int32_t i = 0; i < l->length; ++i) {
        section_view v;
        int y = 0;
        auto *c = static_cast<nbt_compound *>(l->content[i]);
        if (c == nullptr || !read_section(c, &v, &y) ||
            sections_[static_cast<size_t>(y)].compound != nullptr) {
            sections_ = {};
            return sections_shape::unknown_storage;
        }
        sections_[static_cast<size_t>(y)] = v;
    }
    return sections_shape::ok;
}

int chunk_sections::id(int x, int y, int z) const {
    const section_view &s = at(y);
    if (s.compound == nullptr) {
        return 0;
    }
    const int32_t i = section_index(x, y, z);
    return s.blocks->content[i] | (s.add != nullptr ? get_nibble(s.add->content, i) << 8 : 0);
}

int chunk_sections::data(int x, int y, int z) const {
    const section_view &s = at(y);
    return s.compound == nullptr ? 0 : get_nibble(s.data->content, section_index(x, y, z));
}

bool chunk_sections::set(int x, int y, int z, int id, int data) {
    section_view &s = sections_[static_cast<size_t>(y >> 4) & 15];
    if (s.compound == nullptr) {
        return false;
    }
    if (id > 255 && s.add == nullptr && (s.add = create_add(s.compound)) == nullptr) {
        return false;
    }
    const int32_t i = section_index(x, y, z);
    s.blocks->content[i] = static_cast<unsigned char>(id & 0xFF);
    if (s.add != nullptr) {
        set_nibble(s.add->content, i, id >> 8);
    }
    set_nibble(s.data->content, i, data);
    return true;
}
