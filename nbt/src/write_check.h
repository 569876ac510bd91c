// The check that runs before anything is written: a tree the reader would
// refuse, or whose bytes would not match their length fields, is refused as
// a whole instead of being written in part.
#ifndef NBT_WRITE_CHECK_H
#define NBT_WRITE_CHECK_H

#include "nbt/nbt.h"

#include <cstdint>

namespace nbt_detail {

// The number of bytes t encodes to (type byte, name and payload), or -1
// when it cannot be written: a type number above 255, a missing name or
// value, a name or string longer than 32767 bytes, a negative array length
// or an array without content, a missing item or child array, a list of a payload-less element
// type with items, an end tag among a compound's children, nesting deeper
// than the reader accepts, or a document over INT_MAX bytes.
int64_t encoded_tag_size(const nbt_tag *t);

// The same for a bare payload of type (0 for types without payload).
int64_t encoded_value_size(unsigned type, const void *value);

} // namespace nbt_detail

#endif
