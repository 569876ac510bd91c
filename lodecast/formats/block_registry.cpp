#include "lodecast/formats/block_registry.h"

#include "lodecast/formats/level_data.h"
#include "nbt/nbt.hpp"

#include <algorithm>
#include <cstring>

namespace {

nbt_tag *child(nbt_tag *parent, const char *name) {
    return parent == nullptr ? nullptr : nbt_find_tag_by_name(name, parent);
}

// Levenshtein distance, one row at a time.
size_t edit_distance(const std::string &a, const std::string &b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return row[b.size()];
}

} // namespace

bool block_registry::load(const std::string &world) {
    entries_.clear();
    nbt::document doc;
    if (read_level_dat(world, doc) != level_read::ok) {
        return false;
    }
    nbt_tag *fml = child(doc->root, "FML");
    nbt_tag *ids = child(child(child(fml, "Registries"), "minecraft:blocks"), "ids");
    // The older loader lists items and blocks together, blocks marked.
    const bool marked = ids == nullptr;
    nbt_list *list = nbt_cast_list(marked ? child(fml, "ItemData") : ids);
    if (list == nullptr || (list->length > 0 && list->type != TAG_COMPOUND)) {
        return false;
    }
    for (int32_t i = 0; i < list->length; ++i) {
        nbt_tag item{TAG_COMPOUND, nullptr, list->content[i]}; // borrowed view
        const char *k = nbt_cast_string(child(&item, "K"));
        const int32_t *v = nbt_cast_int(child(&item, "V"));
        if (k == nullptr || v == nullptr || (marked && k[0] != '\x01')) {
            continue;
        }
        entries_.push_back({marked ? k + 1 : k, *v});
    }
    return true;
}

int block_registry::id_of(const std::string &name) const {
    for (const entry &e : entries_) {
        if (e.name == name) {
            return e.id;
        }
    }
    return -1;
}

std::string block_registry::name_of(int id) const {
    for (const entry &e : entries_) {
        if (e.id == id) {
            return e.name;
        }
    }
    return "";
}

std::vector<std::string> block_registry::close_matches(const std::string &name, size_t most) const {
    // Ranked by (not a substring, distance, name); only names a few edits
    // away or sharing the text are close at all.
    struct ranked {
        bool apart;
        size_t distance;
        const std::string *name;
    };
    std::vector<ranked> found;
    const size_t near = std::max<size_t>(3, name.size() / 3);
    for (const entry &e : entries_) {
        const bool shares = e.name.find(name) != std::string::npos ||
                            (!e.name.empty() && name.find(e.name) != std::string::npos);
        const size_t d = edit_distance(name, e.name);
        if (shares || d <= near) {
            found.push_back({!shares, d, &e.name});
        }
    }
    std::sort(found.begin(), found.end(), [](const ranked &a, const ranked &b) {
        if (a.apart != b.apart) {
            return !a.apart;
        }
        return a.distance != b.distance ? a.distance < b.distance : *a.name < *b.name;
    });
    std::vector<std::string> out;
    for (size_t i = 0; i < found.size() && out.size() < most; ++i) {
        out.push_back(*found[i].name);
    }
    return out;
}
