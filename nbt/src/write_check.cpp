#include "write_check.h"

#include "reader.h"

#include <climits>
#include <cstring>

namespace nbt_detail {

namespace {

constexpr int64_t invalid = -1;
constexpr size_t max_string = 32767;

int64_t tag_size(const nbt_tag *t, int depth);

// Adds part to total; invalid when either is, or when the sum no longer
// fits the int that the writing functions return.
int64_t add(int64_t total, int64_t part) {
    if (total < 0 || part < 0 || part > INT_MAX - total) {
        return invalid;
    }
    return total + part;
}

int64_t string_size(const char *s) {
    if (s == nullptr) {
        return invalid;
    }
    size_t len = std::strlen(s);
    return len > max_string ? invalid : static_cast<int64_t>(2 + len);
}

// A count and length elements of size bytes each; invalid for a negative
// length or missing content.
int64_t array_size(int32_t length, const void *content, int64_t size) {
    if (length < 0 || (length > 0 && content == nullptr)) {
        return invalid;
    }
    return add(4, length * size);
}

int64_t value_size(unsigned type, const void *v, int depth) {
    if (!has_payload(type)) {
        return 0;
    }
    if (v == nullptr) {
        return invalid;
    }
    switch (type) {
    case TAG_BYTE:
        return 1;
    case TAG_SHORT:
        return 2;
    case TAG_INT:
    case TAG_FLOAT:
        return 4;
    case TAG_LONG:
    case TAG_DOUBLE:
        return 8;
    case TAG_STRING:
        return string_size(static_cast<const char *>(v));
    case TAG_BYTE_ARRAY: {
        auto *a = static_cast<const nbt_byte_array *>(v);
        return array_size(a->length, a->content, 1);
    }
    case TAG_INT_ARRAY: {
        auto *a = static_cast<const nbt_int_array *>(v);
        return array_size(a->length, a->content, 4);
    }
    case TAG_LONG_ARRAY: {
        auto *a = static_cast<const nbt_long_array *>(v);
        return array_size(a->length, a->content, 8);
    }
    case TAG_LIST: {
        auto *l = static_cast<const nbt_list *>(v);
        auto elem = static_cast<uint32_t>(l->type);
        if (depth >= max_depth || elem > 255) {
            return invalid;
        }
        int64_t total = 5;
        if (l->length <= 0) {
            return total;
        }
        if (!has_payload(elem) || l->content == nullptr) {
            return invalid;
        }
        for (int32_t i = 0; i < l->length && total >= 0; ++i) {
            total = add(total, value_size(elem, l->content[i], depth + 1));
        }
        return total;
    }
    default: { // TAG_COMPOUND
        auto *c = static_cast<const nbt_compound *>(v);
        if (depth >= max_depth || (c->length > 0 && c->tags == nullptr)) {
            return invalid;
        }
        int64_t total = 1;
        for (int32_t i = 0; i < c->length && total >= 0; ++i) {
            const nbt_tag *child = c->tags[i];
            // An end tag would close the compound early when read back.
            if (child == nullptr || child->type == TAG_END) {
                return invalid;
            }
            total = add(total, tag_size(child, depth + 1));
        }
        return total;
    }
    }
}

int64_t tag_size(const nbt_tag *t, int depth) {
    auto type = static_cast<uint32_t>(t->type);
    if (type > 255) {
        return invalid;
    }
    if (type == TAG_END) {
        return 1;
    }
    return add(add(1, string_size(t->name)), value_size(type, t->value, depth));
}

} // namespace

int64_t encoded_tag_size(const nbt_tag *t) {
    return tag_size(t, 0);
}

int64_t encoded_value_size(unsigned type, const void *value) {
    return value_size(type, value, 0);
}

} // namespace nbt_detail
