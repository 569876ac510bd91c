#include "lodecast/storage/paletted_chunk.h"

#include "nbt/nbt.hpp"

#include <algorithm>
#include <cstring>

struct paletted_chunk::section {
    int y = 0;
    nbt_compound *states = nullptr; // the compound holding the palette and the indices
    nbt_tag *palette_tag = nullptr;
    nbt_tag *data_tag = nullptr; // null: none (a one-entry palette from 2844)
    const char *data_name = nullptr;
    size_t first = 0; // the palette: entries_[first, first + size)
    size_t size = 0;
    size_t stored_size = 0; // the palette's size when the indices were packed
    std::unique_ptr<section_indices> indices;
    bool changed = false;
};

namespace {

const palette_entry air_entry{"minecraft:air", nullptr, nullptr};

int section_of(int y) {
    return y >> 4; // floor, also below zero
}

size_t block_index(int x, int y, int z) {
    return static_cast<size_t>(((y & 15) << 8) | ((z & 15) << 4) | (x & 15));
}

int64_t entity_key(int x, int y, int z) {
    return static_cast<int64_t>(y) * 256 + ((z & 15) << 4) + (x & 15);
}

// A child of a compound tag of the given type; null when missing. *bad is
// set when the child exists with another type.
nbt_tag *typed(nbt_tag *t, nbt_type type, bool *bad) {
    if (t != nullptr && (t->type != type || t->value == nullptr)) {
        *bad = true;
        return nullptr;
    }
    return t;
}

nbt_tag *child(nbt_tag *parent, const char *name, nbt_type type, bool *bad) {
    return typed(parent == nullptr ? nullptr : nbt_find_tag_by_name(name, parent), type, bad);
}

// The first child of each name, as nbt_find_tag_by_name gives it, in one
// pass over the children: a palette entry or a section is looked up by
// several names, and a pass for each was a third of a chunk's binding.
template <size_t N>
std::array<nbt_tag *, N> children(const nbt_compound *c, const char *const (&names)[N]) {
    std::array<nbt_tag *, N> found{};
    for (int32_t i = 0; c != nullptr && i < c->length; ++i) {
        nbt_tag *t = c->tags[i];
        for (size_t k = 0; t != nullptr && t->name != nullptr && k < N; ++k) {
            if (found[k] == nullptr && std::strcmp(t->name, names[k]) == 0) {
                found[k] = t;
                break;
            }
        }
    }
    return found;
}

// A list whose items are all of type item (an empty list may say any type).
bool list_of(nbt_tag *t, nbt_type item) {
    const nbt_list *l = nbt_cast_list(t);
    return l != nullptr && l->length >= 0 && (l->length == 0 || l->type == item);
}

// One palette entry: a string "Name" and, when present, a compound
// "Properties" of strings.
bool read_entry(nbt_compound *c, palette_entry *out) {
    if (c == nullptr) {
        return false;
    }
    static constexpr const char *names[] = {"Name", "Properties"};
    const auto found = children(c, names);
    bool bad = false;
    nbt_tag *name = typed(found[0], TAG_STRING, &bad);
    nbt_tag *props = typed(found[1], TAG_COMPOUND, &bad);
    if (bad || name == nullptr) {
        return false;
    }
    nbt_compound *p = props == nullptr ? nullptr : nbt_cast_compound(props);
    for (int32_t i = 0; p != nullptr && i < p->length; ++i) {
        if (p->tags[i] == nullptr || p->tags[i]->type != TAG_STRING ||
            p->tags[i]->value == nullptr) {
            return false;
        }
    }
    *out = {nbt_cast_string(name), p, c};
    return true;
}

bool same_state(const palette_entry &e, const block_state &s) {
    if (e.name != s.name) {
        return false;
    }
    const int32_t n = e.properties == nullptr ? 0 : e.properties->length;
    if (static_cast<size_t>(n) != s.properties.size()) {
        return false;
    }
    nbt_tag holder{TAG_COMPOUND, nullptr, e.properties};
    return std::all_of(s.properties.begin(), s.properties.end(), [&](const auto &kv) {
        nbt_tag *t = nbt_find_tag_by_name(kv.first.c_str(), &holder);
        const char *v = t == nullptr ? nullptr : nbt_cast_string(t);
        return v != nullptr && kv.second == v;
    });
}

nbt::tag_ptr string_tag(const char *name, const std::string &value) {
    nbt_tag *t = nullptr;
    if (nbt_new_string(&t, name) != 0) {
        nbt_free_tag(t);
        return nullptr;
    }
    nbt::tag_ptr owned(t);
    return nbt_set_string(t, value.c_str()) == 0 ? std::move(owned) : nullptr;
}

nbt::tag_ptr compound_tag(const char *name) {
    nbt_tag *t = nullptr;
    if (nbt_new_compound(&t, name) != 0) {
        nbt_free_tag(t);
        return nullptr;
    }
    return nbt::tag_ptr(t);
}

bool adopt(nbt::tag_ptr &child_tag, nbt_tag *parent) {
    if (child_tag == nullptr || nbt_add_tag(child_tag.get(), parent) == nullptr) {
        return false;
    }
    child_tag.release();
    return true;
}

// The palette compound {Name, Properties} of state, or null when out of memory.
nbt::tag_ptr entry_tag(const block_state &state) {
    nbt::tag_ptr entry = compound_tag("");
    nbt::tag_ptr name = string_tag("Name", state.name);
    if (entry == nullptr || !adopt(name, entry.get())) {
        return nullptr;
    }
    if (!state.properties.empty()) {
        nbt::tag_ptr props = compound_tag("Properties");
        for (const auto &[key, value] : state.properties) {
            nbt::tag_ptr v = string_tag(key.c_str(), value);
            if (props == nullptr || !adopt(v, props.get())) {
                return nullptr;
            }
        }
        if (!adopt(props, entry.get())) {
            return nullptr;
        }
    }
    return entry;
}

bool is_finished_status(std::string_view s) {
    return s == "full" || s == "minecraft:full" || s == "fullchunk" || s == "postprocessed";
}

} // namespace

paletted_chunk::paletted_chunk() = default;
paletted_chunk::~paletted_chunk() = default;

paletted_result paletted_chunk::bind(nbt_tag *root) {
    const paletted_result r = bind_tree(root);
    if (r != paletted_result::ok) {
        sections_.clear();
        entries_.clear();
        slot_of_y_.fill(0);
        block_entities_.clear();
        refused_ = true;
    }
    return r;
}

paletted_result paletted_chunk::bind_tree(nbt_tag *root) {
    data_version_ = 0;
    status_ = {};
    below_zero_retrogen_ = false;
    refused_ = false;
    bottom_ = top_ = 0;
    sections_.clear();
    entries_.clear();
    slot_of_y_.fill(0);
    block_entities_.clear();
    bool bad = false;
    nbt_tag *version = child(root, "DataVersion", TAG_INT, &bad);
    if (bad || version == nullptr || *nbt_cast_int(version) < first_paletted_version) {
        return paletted_result::not_paletted;
    }
    data_version_ = *nbt_cast_int(version);
    layout_ = data_version_ < first_sparse_version ? chunk_layout::level : chunk_layout::root;
    nbt_tag *holder = root;
    if (layout_ == chunk_layout::level) {
        holder = child(root, "Level", TAG_COMPOUND, &bad);
        if (holder == nullptr) {
            return paletted_result::unknown_storage;
        }
    }
    const bool level = layout_ == chunk_layout::level;
    nbt_tag *status = child(holder, "Status", TAG_STRING, &bad);
    nbt_tag *y_pos = child(holder, "yPos", TAG_INT, &bad);
    nbt_tag *sections = child(holder, level ? "Sections" : "sections", TAG_LIST, &bad);
    nbt_tag *entities = child(holder, level ? "TileEntities" : "block_entities", TAG_LIST, &bad);
    if (bad) {
        return paletted_result::unknown_storage;
    }
    status_ = status == nullptr ? std::string_view() : nbt_cast_string(status);
    below_zero_retrogen_ = nbt_find_tag_by_name("below_zero_retrogen", root) != nullptr ||
                           nbt_find_tag_by_name("below_zero_retrogen", holder) != nullptr;
    if (!bind_block_entities(entities)) {
        return paletted_result::unknown_storage;
    }
    const paletted_result r = bind_sections(sections);
    if (r != paletted_result::ok) {
        return r;
    }
    // The range: see the header.
    int lowest = sections_.empty() || level ? 0 : sections_.front().y;
    int highest = 0;
    for (const section &s : sections_) {
        lowest = std::min(lowest, s.y);
        highest = std::max(highest, s.y);
    }
    if (y_pos != nullptr) {
        lowest = std::clamp(*nbt_cast_int(y_pos), -128, 127);
    }
    bottom_ = lowest * 16;
    const int era_top = !level && bottom_ < 0 ? 319 : 255;
    top_ = std::max(era_top, highest * 16 + 15);
    return paletted_result::ok;
}

bool paletted_chunk::bind_block_entities(nbt_tag *list) {
    if (list == nullptr) {
        return true;
    }
    if (!list_of(list, TAG_COMPOUND)) {
        return false;
    }
    const nbt_list *l = nbt_cast_list(list);
    for (int32_t i = 0; i < l->length; ++i) {
        if (l->content[i] == nullptr) {
            return false;
        }
        nbt_tag holder{TAG_COMPOUND, nullptr, l->content[i]};
        bool bad = false;
        nbt_tag *x = child(&holder, "x", TAG_INT, &bad);
        nbt_tag *y = child(&holder, "y", TAG_INT, &bad);
        nbt_tag *z = child(&holder, "z", TAG_INT, &bad);
        // A block entity the tool cannot place might be replaced: refuse.
        if (x == nullptr || y == nullptr || z == nullptr) {
            return false;
        }
        block_entities_.push_back(entity_key(*nbt_cast_int(x), *nbt_cast_int(y), *nbt_cast_int(z)));
    }
    std::sort(block_entities_.begin(), block_entities_.end());
    return true;
}

paletted_result paletted_chunk::bind_sections(nbt_tag *list) {
    if (list == nullptr) {
        return paletted_result::ok; // an early proto-chunk: nothing but air yet
    }
    if (!list_of(list, TAG_COMPOUND)) {
        return paletted_result::unknown_storage;
    }
    const bool level = layout_ == chunk_layout::level;
    const nbt_list *l = nbt_cast_list(list);
    sections_.reserve(static_cast<size_t>(l->length));
    static constexpr const char *level_names[] = {"Y", "Palette", "BlockStates"};
    static constexpr const char *root_names[] = {"Y", "block_states"};
    static constexpr const char *root_state_names[] = {"palette", "data"};
    for (int32_t i = 0; i < l->length; ++i) {
        if (l->content[i] == nullptr) {
            return paletted_result::unknown_storage;
        }
        nbt_tag holder{TAG_COMPOUND, nullptr, l->content[i]};
        bool bad = false;
        nbt_tag *y = nullptr;
        nbt_tag *states = &holder;
        std::array<nbt_tag *, 2> found{};
        if (level) {
            const auto all = children(nbt_cast_compound(&holder), level_names);
            y = all[0];
            found = {all[1], all[2]};
        } else {
            const auto all = children(nbt_cast_compound(&holder), root_names);
            y = all[0];
            states = typed(all[1], TAG_COMPOUND, &bad);
            if (states != nullptr) {
                found = children(nbt_cast_compound(states), root_state_names);
            }
        }
        y = typed(y, TAG_BYTE, &bad);
        const char *data_name = level ? "BlockStates" : "data";
        nbt_tag *palette = typed(found[0], TAG_LIST, &bad);
        nbt_tag *data = typed(found[1], TAG_LONG_ARRAY, &bad);
        if (bad || y == nullptr) {
            return paletted_result::unknown_storage;
        }
        if (palette == nullptr) {
            if (data != nullptr || (!level && states != nullptr)) {
                return paletted_result::unknown_storage;
            }
            continue; // light only: air
        }
        const nbt_list *p = nbt_cast_list(palette);
        const size_t n = p->length < 0 ? 0 : static_cast<size_t>(p->length);
        const nbt_long_array *a = data == nullptr ? nullptr : nbt_cast_long_array(data);
        const packing pk = packing_for(data_version_);
        if (!list_of(palette, TAG_COMPOUND) || n == 0 || n > max_palette_size ||
            (a != nullptr ? a->length : 0) != packed_length(pk, index_bits(pk, n))) {
            return paletted_result::unknown_storage;
        }
        section &s = sections_.emplace_back();
        s.y = static_cast<signed char>(*nbt_cast_byte(y));
        s.states = states == nullptr ? nullptr : nbt_cast_compound(states);
        s.palette_tag = palette;
        s.data_tag = data;
        s.data_name = data_name;
        s.stored_size = n;
        s.first = entries_.size();
        s.size = n;
        entries_.resize(entries_.size() + n);
        for (size_t k = 0; k < n; ++k) {
            if (!read_entry(static_cast<nbt_compound *>(p->content[k]), &entries_[s.first + k])) {
                return paletted_result::unknown_storage;
            }
        }
        uint16_t &slot = slot_of_y_[static_cast<size_t>(s.y + 128)];
        if (slot != 0) {
            return paletted_result::unknown_storage; // two sections at one height
        }
        slot = static_cast<uint16_t>(sections_.size());
    }
    return paletted_result::ok;
}

bool paletted_chunk::finished() const {
    return is_finished_status(status_) && !below_zero_retrogen_;
}

bool paletted_chunk::has_block_entity(int x, int y, int z) const {
    return std::binary_search(block_entities_.begin(), block_entities_.end(), entity_key(x, y, z));
}

paletted_chunk::section *paletted_chunk::find(int section_y) const {
    if (section_y < -128 || section_y > 127) {
        return nullptr;
    }
    const uint16_t slot = slot_of_y_[static_cast<size_t>(section_y + 128)];
    return slot == 0 ? nullptr : const_cast<section *>(&sections_[slot - 1u]);
}

std::span<const palette_entry> paletted_chunk::palette(int section_y) const {
    const section *s = find(section_y);
    return s == nullptr ? std::span<const palette_entry>()
                        : std::span(entries_).subspan(s->first, s->size);
}

section_indices *paletted_chunk::decoded(section &s) {
    if (refused_) {
        return nullptr;
    }
    if (s.indices == nullptr) {
        auto out = std::make_unique<section_indices>();
        const nbt_long_array *a = s.data_tag == nullptr ? nullptr : nbt_cast_long_array(s.data_tag);
        if (!unpack_indices(packing_for(data_version_), s.stored_size,
                            a == nullptr ? nullptr : a->content, a == nullptr ? 0 : a->length,
                            *out)) {
            refused_ = true;
            return nullptr;
        }
        s.indices = std::move(out);
    }
    return s.indices.get();
}

int paletted_chunk::index_at(int x, int y, int z) {
    section *s = find(section_of(y));
    const section_indices *ix = s == nullptr ? nullptr : decoded(*s);
    return ix == nullptr ? -1 : (*ix)[block_index(x, y, z)];
}

const palette_entry &paletted_chunk::entry_at(int x, int y, int z) {
    const int i = index_at(x, y, z);
    return i < 0 ? air_entry : entries_[find(section_of(y))->first + static_cast<size_t>(i)];
}

int paletted_chunk::find_or_add(int section_y, const block_state &state) {
    section *s = find(section_y);
    if (s == nullptr || refused_) {
        return -1;
    }
    for (size_t k = 0; k < s->size; ++k) {
        if (same_state(entries_[s->first + k], state)) {
            return static_cast<int>(k);
        }
    }
    nbt_list *list = nbt_cast_list(s->palette_tag);
    nbt::tag_ptr entry = entry_tag(state);
    palette_entry e;
    if (s->size >= max_palette_size || entry == nullptr ||
        !read_entry(nbt_cast_compound(entry.get()), &e)) {
        return -1;
    }
    if (s->first + s->size != entries_.size()) {
        // Another palette follows: this one moves to the end to grow there.
        entries_.reserve(entries_.size() + s->size + 1);
        for (size_t k = 0; k < s->size; ++k) {
            entries_.push_back(entries_[s->first + k]);
        }
        s->first = entries_.size() - s->size;
    }
    entries_.reserve(entries_.size() + 1); // may throw: nothing changed yet
    const int32_t before = list->length;
    nbt_add_list_item(entry->value, s->palette_tag);
    if (list->length == before) {
        return -1;
    }
    entry->value = nullptr; // now the list's item
    entries_.push_back(e);
    s->changed = true;
    return static_cast<int>(s->size++);
}

bool paletted_chunk::set_index(int x, int y, int z, int index) {
    section *s = find(section_of(y));
    section_indices *ix = s == nullptr ? nullptr : decoded(*s);
    if (ix == nullptr || index < 0 || static_cast<size_t>(index) >= s->size) {
        return false;
    }
    uint16_t &at = (*ix)[block_index(x, y, z)];
    if (at != index) {
        at = static_cast<uint16_t>(index);
        s->changed = true;
    }
    return true;
}

paletted_result paletted_chunk::write_back() {
    const packing pk = packing_for(data_version_);
    for (section &sec : sections_) {
        section *s = &sec;
        if (!s->changed) {
            continue;
        }
        const section_indices *ix = decoded(*s);
        if (ix == nullptr) {
            return paletted_result::unknown_storage;
        }
        const int bits = index_bits(pk, s->size);
        if (bits == 0) {
            s->changed = false; // still one entry: nothing to store
            continue;
        }
        const std::vector<int64_t> longs = pack_indices(pk, bits, *ix);
        const int n = static_cast<int>(longs.size());
        if (s->data_tag == nullptr) {
            nbt_tag *t = nullptr;
            if (nbt_new_long_array(&t, s->data_name) != 0) {
                nbt_free_tag(t);
                return paletted_result::out_of_memory;
            }
            nbt::tag_ptr owned(t);
            nbt_tag holder{TAG_COMPOUND, nullptr, s->states}; // borrowed, to reach the compound
            if (nbt_set_long_array(t, longs.data(), n) != 0 || !adopt(owned, &holder)) {
                return paletted_result::out_of_memory;
            }
            s->data_tag = t;
        } else if (nbt_set_long_array(s->data_tag, longs.data(), n) != 0) {
            return paletted_result::out_of_memory;
        }
        s->stored_size = s->size;
        s->changed = false;
    }
    return refused_ ? paletted_result::unknown_storage : paletted_result::ok;
}
