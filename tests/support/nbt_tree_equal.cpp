#include "support/nbt_tree_equal.h"

#include <cstring>

namespace {

std::string value_difference(int type, const void *a, const void *b, const std::string &where);

std::string tag_difference(const nbt_tag *a, const nbt_tag *b, const std::string &parent) {
    if (a == nullptr || b == nullptr) {
        return a == b ? "" : parent + ": one tag is null";
    }
    const std::string where = parent + "/" + (a->name != nullptr ? a->name : "(null)");
    if (a->type != b->type) {
        return where + ": type " + std::to_string(a->type) + " vs " + std::to_string(b->type);
    }
    if ((a->name == nullptr) != (b->name == nullptr) ||
        (a->name != nullptr && std::strcmp(a->name, b->name) != 0)) {
        return where + ": name differs";
    }
    return value_difference(a->type, a->value, b->value, where);
}

// Size of a scalar payload, 0 for the other types.
size_t scalar_size(int type) {
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
    default:
        return 0;
    }
}

// Arrays of byte, int or long records: length, then every element.
template <class Record>
std::string array_difference(const void *a, const void *b, const std::string &where) {
    const auto *x = static_cast<const Record *>(a);
    const auto *y = static_cast<const Record *>(b);
    if (x->length != y->length) {
        return where + ": array length differs";
    }
    const size_t n = size_t(x->length) * sizeof *x->content;
    return n == 0 || std::memcmp(x->content, y->content, n) == 0
               ? ""
               : where + ": array content differs";
}

std::string value_difference(int type, const void *a, const void *b, const std::string &where) {
    if (type < TAG_BYTE || type > TAG_LONG_ARRAY) {
        return ""; // no payload to compare
    }
    if (a == nullptr || b == nullptr) {
        return a == b ? "" : where + ": one value is null";
    }
    if (const size_t n = scalar_size(type); n != 0) {
        return std::memcmp(a, b, n) == 0 ? "" : where + ": value differs";
    }
    switch (type) {
    case TAG_BYTE_ARRAY:
        return array_difference<nbt_byte_array>(a, b, where);
    case TAG_INT_ARRAY:
        return array_difference<nbt_int_array>(a, b, where);
    case TAG_LONG_ARRAY:
        return array_difference<nbt_long_array>(a, b, where);
    case TAG_STRING:
        return std::strcmp(static_cast<const char *>(a), static_cast<const char *>(b)) == 0
                   ? ""
                   : where + ": string differs";
    case TAG_LIST: {
        const auto *x = static_cast<const nbt_list *>(a);
        const auto *y = static_cast<const nbt_list *>(b);
        if (x->length != y->length || x->type != y->type) {
            return where + ": list type or count differs";
        }
        for (int32_t i = 0; i < x->length; ++i) {
            std::string d = value_difference(x->type, x->content[i], y->content[i],
                                             where + "[" + std::to_string(i) + "]");
            if (!d.empty()) {
                return d;
            }
        }
        return "";
    }
    default: { // TAG_COMPOUND
        const auto *x = static_cast<const nbt_compound *>(a);
        const auto *y = static_cast<const nbt_compound *>(b);
        if (x->length != y->length) {
            return where + ": compound holds " + std::to_string(x->length) + " vs " +
                   std::to_string(y->length) + " tags";
        }
        for (int32_t i = 0; i < x->length; ++i) {
            std::string d = tag_difference(x->tags[i], y->tags[i], where);
            if (!d.empty()) {
                return d;
            }
        }
        return "";
    }
    }
}

} // namespace

std::string nbt_tree_difference(const nbt_tag *a, const nbt_tag *b) {
    return tag_difference(a, b, "");
}
