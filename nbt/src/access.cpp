// Typed access to a tag's payload, length and element-type queries, and
// lookup of a child by name.

#include "nbt/nbt.h"

#include <cstdlib>
#include <cstring>

namespace {

void *alloc_block(size_t size) {
    return std::malloc(size == 0 ? 1 : size);
}

template <typename T> T *cast_as(nbt_tag *t, nbt_type type) {
    return t->type == type ? static_cast<T *>(t->value) : nullptr;
}

// Scalars and strings are copied into a fresh block by nbt_change_value.
template <typename T> int set_scalar(nbt_tag *t, nbt_type type, T v) {
    if (t->type != type) {
        return 1;
    }
    return nbt_change_value(t, &v, sizeof v);
}

// Copies count elements of elem_size bytes from src into a new array, or
// returns null. A negative count has nothing to copy and is refused.
void *copy_array(const void *src, int count, size_t elem_size) {
    if (count < 0) {
        return nullptr;
    }
    size_t size = static_cast<size_t>(count) * elem_size;
    void *copy = alloc_block(size);
    if (copy != nullptr && size > 0) {
        std::memcpy(copy, src, size);
    }
    return copy;
}

// Installs the record rec, whose array is array, as the tag's value; on
// failure the new array is released and the tag keeps its old value.
template <typename Record> int install_record(nbt_tag *t, Record rec, void *array) {
    if (nbt_change_value(t, &rec, sizeof rec) != 0) {
        std::free(array);
        return 1;
    }
    return 0;
}

} // namespace

extern "C" {

char *nbt_cast_byte(nbt_tag *t) {
    return cast_as<char>(t, TAG_BYTE);
}
int16_t *nbt_cast_short(nbt_tag *t) {
    return cast_as<int16_t>(t, TAG_SHORT);
}
int32_t *nbt_cast_int(nbt_tag *t) {
    return cast_as<int32_t>(t, TAG_INT);
}
int64_t *nbt_cast_long(nbt_tag *t) {
    return cast_as<int64_t>(t, TAG_LONG);
}
float *nbt_cast_float(nbt_tag *t) {
    return cast_as<float>(t, TAG_FLOAT);
}
double *nbt_cast_double(nbt_tag *t) {
    return cast_as<double>(t, TAG_DOUBLE);
}
char *nbt_cast_string(nbt_tag *t) {
    return cast_as<char>(t, TAG_STRING);
}
nbt_byte_array *nbt_cast_byte_array(nbt_tag *t) {
    return cast_as<nbt_byte_array>(t, TAG_BYTE_ARRAY);
}
nbt_int_array *nbt_cast_int_array(nbt_tag *t) {
    return cast_as<nbt_int_array>(t, TAG_INT_ARRAY);
}
nbt_long_array *nbt_cast_long_array(nbt_tag *t) {
    return cast_as<nbt_long_array>(t, TAG_LONG_ARRAY);
}
nbt_list *nbt_cast_list(nbt_tag *t) {
    return cast_as<nbt_list>(t, TAG_LIST);
}
nbt_compound *nbt_cast_compound(nbt_tag *t) {
    return cast_as<nbt_compound>(t, TAG_COMPOUND);
}

int nbt_set_byte(nbt_tag *t, char v) {
    return set_scalar(t, TAG_BYTE, v);
}
int nbt_set_short(nbt_tag *t, int16_t v) {
    return set_scalar(t, TAG_SHORT, v);
}
int nbt_set_int(nbt_tag *t, int32_t v) {
    return set_scalar(t, TAG_INT, v);
}
int nbt_set_long(nbt_tag *t, int64_t v) {
    return set_scalar(t, TAG_LONG, v);
}
int nbt_set_float(nbt_tag *t, float v) {
    return set_scalar(t, TAG_FLOAT, v);
}
int nbt_set_double(nbt_tag *t, double v) {
    return set_scalar(t, TAG_DOUBLE, v);
}

int nbt_set_string(nbt_tag *t, const char *v) {
    if (t->type != TAG_STRING) {
        return 1;
    }
    // v may be the tag's own text; nbt_change_value copies before it frees.
    return nbt_change_value(t, const_cast<char *>(v), std::strlen(v) + 1);
}

int nbt_set_byte_array(nbt_tag *t, const unsigned char *v, int len) {
    if (t->type != TAG_BYTE_ARRAY) {
        return 1;
    }
    auto *content = static_cast<unsigned char *>(copy_array(v, len, 1));
    if (content == nullptr) {
        return 1;
    }
    return install_record(t, nbt_byte_array{len, content}, content);
}

int nbt_set_int_array(nbt_tag *t, const int32_t *v, int len) {
    if (t->type != TAG_INT_ARRAY) {
        return 1;
    }
    auto *content = static_cast<int32_t *>(copy_array(v, len, sizeof(int32_t)));
    if (content == nullptr) {
        return 1;
    }
    return install_record(t, nbt_int_array{len, content}, content);
}

int nbt_set_long_array(nbt_tag *t, const int64_t *v, int len) {
    if (t->type != TAG_LONG_ARRAY) {
        return 1;
    }
    auto *content = static_cast<int64_t *>(copy_array(v, len, sizeof(int64_t)));
    if (content == nullptr) {
        return 1;
    }
    return install_record(t, nbt_long_array{len, content}, content);
}

int nbt_set_list(nbt_tag *t, void **v, int len, nbt_type type) {
    if (t->type != TAG_LIST) {
        return 1;
    }
    auto **items = static_cast<void **>(copy_array(v, len, sizeof(void *)));
    if (items == nullptr) {
        return 1;
    }
    return install_record(t, nbt_list{len, type, items}, items);
}

int nbt_set_compound(nbt_tag *t, nbt_tag **tags, int len) {
    if (t->type != TAG_COMPOUND) {
        return 1;
    }
    auto **children = static_cast<nbt_tag **>(copy_array(tags, len, sizeof(nbt_tag *)));
    if (children == nullptr) {
        return 1;
    }
    return install_record(t, nbt_compound{len, children}, children);
}

int nbt_get_length(nbt_tag *t) {
    if (t->value == nullptr) {
        return -1;
    }
    switch (t->type) {
    case TAG_BYTE_ARRAY:
        return static_cast<nbt_byte_array *>(t->value)->length;
    case TAG_INT_ARRAY:
        return static_cast<nbt_int_array *>(t->value)->length;
    case TAG_LONG_ARRAY:
        return static_cast<nbt_long_array *>(t->value)->length;
    case TAG_LIST:
        return static_cast<nbt_list *>(t->value)->length;
    case TAG_COMPOUND:
        return static_cast<nbt_compound *>(t->value)->length;
    default:
        return -1;
    }
}

int nbt_get_list_type(nbt_tag *t) {
    // A list tag without a value (its construction failed) has no element
    // type to report either.
    if (t->type != TAG_LIST || t->value == nullptr) {
        return -1;
    }
    return static_cast<nbt_list *>(t->value)->type;
}

nbt_tag *nbt_find_tag_by_name(const char *needle, nbt_tag *haystack) {
    nbt_compound *c = nbt_cast_compound(haystack);
    if (c == nullptr) {
        return nullptr;
    }
    for (int32_t i = 0; i < c->length; ++i) {
        nbt_tag *child = c->tags[i];
        if (child != nullptr && child->name != nullptr && std::strcmp(child->name, needle) == 0) {
            return child;
        }
    }
    return nullptr;
}

} // extern "C"
