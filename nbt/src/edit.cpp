// Structural edits: appending to and removing from compounds and lists.
// What is appended is handed over to the container; what is removed is
// freed. An edit that runs out of memory leaves the container exactly as
// it was and frees nothing.

#include "nbt/nbt.h"

#include <cstdint>
#include <cstdlib>

namespace {

// Grows array to exactly count + 1 pointers (no spare capacity), or
// returns null with array untouched.
template <typename T> T **grow_by_one(T **array, int32_t count) {
    if (count == INT32_MAX) {
        return nullptr;
    }
    size_t size = (static_cast<size_t>(count) + 1) * sizeof(T *);
    return static_cast<T **>(std::realloc(array, size));
}

// Copies the first count entries of array except every entry equal to
// target into a fresh array; *kept receives their number. Null when memory
// ran out. The result always has room for at least one pointer so that an
// emptied container still owns a real array.
template <typename T> T **without(T **array, int32_t count, const T *target, int32_t *kept) {
    int32_t n = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (array[i] != target) {
            ++n;
        }
    }
    auto **out = static_cast<T **>(std::malloc(static_cast<size_t>(n > 0 ? n : 1) * sizeof(T *)));
    if (out == nullptr) {
        return nullptr;
    }
    int32_t j = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (array[i] != target) {
            out[j++] = array[i];
        }
    }
    *kept = j;
    return out;
}

} // namespace

extern "C" {

nbt_tag *nbt_add_tag(nbt_tag *child, nbt_tag *parent) {
    nbt_compound *c = nbt_cast_compound(parent);
    if (c == nullptr || c->length < 0) {
        return nullptr;
    }
    nbt_tag **tags_temp = grow_by_one(c->tags, c->length);
    if (tags_temp == nullptr) {
        return nullptr;
    }
    c->tags = tags_temp;
    c->tags[c->length] = child;
    ++c->length;
    return child;
}

void nbt_add_list_item(void *item, nbt_tag *parent) {
    nbt_list *l = nbt_cast_list(parent);
    if (l == nullptr) {
        return;
    }
    // A list read with a negative count holds no items; appending to it
    // gives a list of one.
    int32_t count = l->length < 0 ? 0 : l->length;
    void **content = grow_by_one(l->content, count);
    if (content == nullptr) {
        return;
    }
    l->content = content;
    l->content[count] = item;
    l->length = count + 1;
}

void nbt_remove_tag(nbt_tag *target, nbt_tag *parent) {
    nbt_compound *c = nbt_cast_compound(parent);
    if (c == nullptr || c->length <= 0) {
        return;
    }
    int32_t kept = 0;
    nbt_tag **tags = without(c->tags, c->length, target, &kept);
    if (tags == nullptr) {
        return;
    }
    if (kept == c->length) {
        // Not a child: it stays the caller's and must not be freed.
        std::free(tags);
        return;
    }
    std::free(c->tags);
    c->tags = tags;
    c->length = kept;
    nbt_free_tag(target);
}

void nbt_remove_list_item(void *target, nbt_tag *parent) {
    nbt_list *l = nbt_cast_list(parent);
    if (l == nullptr || l->length <= 0) {
        return;
    }
    int32_t kept = 0;
    void **items = without<void>(l->content, l->length, target, &kept);
    if (items == nullptr) {
        return;
    }
    if (kept == l->length) {
        std::free(items);
        return;
    }
    std::free(l->content);
    l->content = items;
    l->length = kept;
    nbt_free_type(l->type, target);
}

} // extern "C"
