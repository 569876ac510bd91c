// nbt_write in its two halves, for callers that compress on one thread and
// wait for the disk on another: encode_document makes the file's bytes,
// replace_file (atomic_file.h) puts them in place. Together they do exactly
// what nbt_write does.
#ifndef NBT_DOCUMENT_WRITE_H
#define NBT_DOCUMENT_WRITE_H

#include "nbt/byte_buffer.h"
#include "nbt/nbt.h"

namespace nbt_detail {

// Checks the document's tree, serialises it and appends its gzip-compressed
// bytes to out. The uncompressed byte count (what nbt_write returns), or
// NBT_ERR for a document without root or a tree nbt_write refuses, NBT_EMEM
// when out of memory. The tree is not changed.
int encode_document(const nbt_file *nbt, ByteBuffer &out);

} // namespace nbt_detail

#endif
