// Turning a tree, or a single value, into its bytes. A tree the reader
// would refuse, or whose bytes would not match their length fields, is
// refused as a whole: a type number above 255, a missing name or value, a
// name or string longer than 32767 bytes, a negative array length or an
// array without content, a missing item or child, a list of a payload-less
// element type with items, an end tag among a compound's children, nesting
// deeper than the reader accepts, or a document over INT_MAX bytes.
#ifndef NBT_WRITER_H
#define NBT_WRITER_H

#include "byte_buffer.h"
#include "nbt/nbt.h"

namespace nbt_detail {

// Appends t's bytes (type, name, payload) to buf. NBT_OK; NBT_ERR for a
// tree that cannot be written, NBT_EMEM; either leaves buf as it was.
int append_tag(const nbt_tag *t, ByteBuffer &buf);
// The same for a value of the given type (its payload only).
int append_value(unsigned type, const void *value, ByteBuffer &buf);

} // namespace nbt_detail

#endif
