// Small builders for the tags of generated documents: each returns an owned
// tag, or null when the library is out of memory.
#ifndef LODECAST_MKWORLD_TAGS_H
#define LODECAST_MKWORLD_TAGS_H

#include "nbt/nbt.hpp"

#include <cstdint>
#include <vector>

namespace mkworld {

// Hand child to the compound parent; false (child freed) when that fails.
bool add(nbt_tag *parent, nbt::tag_ptr child);

nbt::tag_ptr byte_array(const char *name, const std::vector<uint8_t> &bytes);
nbt::tag_ptr compound_list(const char *name);
nbt::tag_ptr string_list(const char *name);
nbt::tag_ptr int_array(const char *name, const std::vector<int32_t> &values);
nbt::tag_ptr long_array(const char *name, const std::vector<int64_t> &values);
// Moves the payload of the tag item into the list (of item's type); false
// (item freed) when that fails.
bool add_item(nbt_tag *list, nbt::tag_ptr item);
nbt::tag_ptr compound(const char *name);
nbt::tag_ptr byte_tag(const char *name, char v);
nbt::tag_ptr int_tag(const char *name, int32_t v);
nbt::tag_ptr long_tag(const char *name, int64_t v);
nbt::tag_ptr string_tag(const char *name, const char *v);

} // namespace mkworld

#endif
