#include "tags.h"

namespace mkworld {

bool add(nbt_tag *parent, nbt::tag_ptr child) {
    if (!child || nbt_add_tag(child.get(), parent) == nullptr) {
        return false;
    }
    child.release(); // the compound owns it now
    return true;
}

nbt::tag_ptr byte_array(const char *name, const std::vector<uint8_t> &bytes) {
    nbt_tag *t = nullptr;
    int rc = nbt_new_byte_array(&t, name);
    nbt::tag_ptr owned(t);
    if (rc != 0 || nbt_set_byte_array(t, bytes.data(), static_cast<int>(bytes.size())) != 0) {
        return nullptr;
    }
    return owned;
}

namespace {

nbt::tag_ptr list_of(const char *name, nbt_type type) {
    nbt_tag *t = nullptr;
    int rc = nbt_new_list(&t, name, type);
    nbt::tag_ptr owned(t);
    return rc == 0 ? std::move(owned) : nullptr;
}

} // namespace

nbt::tag_ptr compound_list(const char *name) {
    return list_of(name, TAG_COMPOUND);
}

nbt::tag_ptr string_list(const char *name) {
    return list_of(name, TAG_STRING);
}

nbt::tag_ptr int_array(const char *name, const std::vector<int32_t> &values) {
    nbt_tag *t = nullptr;
    int rc = nbt_new_int_array(&t, name);
    nbt::tag_ptr owned(t);
    if (rc != 0 || nbt_set_int_array(t, values.data(), static_cast<int>(values.size())) != 0) {
        return nullptr;
    }
    return owned;
}

nbt::tag_ptr long_array(const char *name, const std::vector<int64_t> &values) {
    nbt_tag *t = nullptr;
    int rc = nbt_new_long_array(&t, name);
    nbt::tag_ptr owned(t);
    if (rc != 0 || nbt_set_long_array(t, values.data(), static_cast<int>(values.size())) != 0) {
        return nullptr;
    }
    return owned;
}

bool add_item(nbt_tag *list, nbt::tag_ptr item) {
    nbt_list *l = item ? nbt_cast_list(list) : nullptr;
    if (l == nullptr) {
        return false;
    }
    const int32_t before = l->length;
    nbt_add_list_item(item->value, list);
    if (l->length == before) {
        return false; // the item's payload is still owned by item
    }
    item->value = nullptr; // the list owns the payload now; free only the shell
    return true;
}

nbt::tag_ptr compound(const char *name) {
    nbt_tag *t = nullptr;
    int rc = nbt_new_compound(&t, name);
    nbt::tag_ptr owned(t);
    return rc == 0 ? std::move(owned) : nullptr;
}

nbt::tag_ptr byte_tag(const char *name, char v) {
    nbt_tag *t = nullptr;
    int rc = nbt_new_byte(&t, name);
    nbt::tag_ptr owned(t);
    return rc == 0 && nbt_set_byte(t, v) == 0 ? std::move(owned) : nullptr;
}

nbt::tag_ptr int_tag(const char *name, int32_t v) {
    nbt_tag *t = nullptr;
    int rc = nbt_new_int(&t, name);
    nbt::tag_ptr owned(t);
    return rc == 0 && nbt_set_int(t, v) == 0 ? std::move(owned) : nullptr;
}

nbt::tag_ptr long_tag(const char *name, int64_t v) {
    nbt_tag *t = nullptr;
    int rc = nbt_new_long(&t, name);
    nbt::tag_ptr owned(t);
    return rc == 0 && nbt_set_long(t, v) == 0 ? std::move(owned) : nullptr;
}

nbt::tag_ptr string_tag(const char *name, const char *v) {
    nbt_tag *t = nullptr;
    int rc = nbt_new_string(&t, name);
    nbt::tag_ptr owned(t);
    return rc == 0 && nbt_set_string(t, v) == 0 ? std::move(owned) : nullptr;
}

} // namespace mkworld
