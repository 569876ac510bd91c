// Making tags and replacing a tag's value or name.
//
// Empty containers are zero-length arrays; the library always asks the
// allocator for at least one byte so that making one succeeds whenever
// memory is available (malloc(0) may legitimately return null).

#include "nbt/nbt.h"

#include <cstdlib>
#include <cstring>

namespace {

void *alloc_block(size_t size) {
    return std::malloc(size == 0 ? 1 : size);
}

} // namespace

extern "C" {

int nbt_change_value(nbt_tag *tag, void *val, size_t size) {
    void *block = alloc_block(size);
    if (block == nullptr) {
        return 1;
    }
    // Copy before releasing: val may point into the value being replaced
    // (a string set to its own text).
    if (size > 0) {
        std::memcpy(block, val, size);
    }
    nbt_free_type(tag->type, tag->value);
    tag->value = block;
    return 0;
}

int nbt_change_name(nbt_tag *tag, const char *newname) {
    size_t size = std::strlen(newname) + 1;
    char *copy = static_cast<char *>(std::malloc(size));
    if (copy == nullptr) {
        return 1;
    }
    std::memcpy(copy, newname, size);
    std::free(tag->name);
    tag->name = copy;
    return 0;
}

int nbt_new_tag(nbt_tag **d, nbt_type t, const char *name) {
    nbt_tag *tag = static_cast<nbt_tag *>(std::malloc(sizeof(nbt_tag)));
    *d = tag;
    if (tag == nullptr) {
        return NBT_ERR;
    }
    tag->type = t;
    tag->name = nullptr;
    tag->value = nullptr;
    if (nbt_change_name(tag, name) != 0) {
        // A half-made tag is of no use to the caller: release it here so
        // that a failed construction leaves nothing behind.
        std::free(tag);
        *d = nullptr;
        return NBT_ERR;
    }
    return NBT_OK;
}

int nbt_new_byte(nbt_tag **d, const char *name) {
    if (nbt_new_tag(d, TAG_BYTE, name) != NBT_OK) {
        return -1;
    }
    return nbt_set_byte(*d, 0);
}

int nbt_new_short(nbt_tag **d, const char *name) {
    if (nbt_new_tag(d, TAG_SHORT, name) != NBT_OK) {
        return -1;
    }
    return nbt_set_short(*d, 0);
}

int nbt_new_int(nbt_tag **d, const char *name) {
    if (nbt_new_tag(d, TAG_INT, name) != NBT_OK) {
        return -1;
    }
    return nbt_set_int(*d, 0);
}

int nbt_new_long(nbt_tag **d, const char *name) {
    if (nbt_new_tag(d, TAG_LONG, name) != NBT_OK) {
        return -1;
    }
    return nbt_set_long(*d, 0);
}

int nbt_new_float(nbt_tag **d, const char *name) {
    if (nbt_new_tag(d, TAG_FLOAT, name) != NBT_OK) {
        return -1;
    }
    return nbt_set_float(*d, 0.0f);
}

int nbt_new_double(nbt_tag **d, const char *name) {
    if (nbt_new_tag(d, TAG_DOUBLE, name) != NBT_OK) {
        return -1;
    }
    return nbt_set_double(*d, 0.0);
}

int nbt_new_string(nbt_tag **d, const char *name) {
    if (nbt_new_tag(d, TAG_STRING, name) != NBT_OK) {
        return -1;
    }
    return nbt_set_string(*d, "");
}

int nbt_new_byte_array(nbt_tag **d, const char *name) {
    if (nbt_new_tag(d, TAG_BYTE_ARRAY, name) != NBT_OK) {
        return -1;
    }
    return nbt_set_byte_array(*d, nullptr, 0);
}

int nbt_new_int_array(nbt_tag **d, const char *name) {
    if (nbt_new_tag(d, TAG_INT_ARRAY, name) != NBT_OK) {
        return -1;
    }
    return nbt_set_int_array(*d, nullptr, 0);
}

int nbt_new_long_array(nbt_tag **d, const char *name) {
    if (nbt_new_tag(d, TAG_LONG_ARRAY, name) != NBT_OK) {
        return -1;
    }
    return nbt_set_long_array(*d, nullptr, 0);
}

int nbt_new_list(nbt_tag **d, const char *name, nbt_type type) {
    if (nbt_new_tag(d, TAG_LIST, name) != NBT_OK) {
        return -1;
    }
    return nbt_set_list(*d, nullptr, 0, type);
}

int nbt_new_compound(nbt_tag **d, const char *name) {
    if (nbt_new_tag(d, TAG_COMPOUND, name) != NBT_OK) {
        return -1;
    }
    return nbt_set_compound(*d, nullptr, 0);
}

} // extern "C"
