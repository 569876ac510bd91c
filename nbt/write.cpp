// Writing a whole document: the tree is checked, serialised into memory and
// compressed before the disk is touched, and the file is then replaced in
// one step, so a failure at any point leaves the old file as it was.

#include "nbt/atomic_file.h"
#include "nbt/byte_buffer.h"
#include "nbt/nbt.h"
#include "nbt/write_check.h"
#include "nbt/write_gzip.h"
#include "nbt/writer.h"

using nbt_detail::ByteBuffer;
using nbt_detail::MemorySink;
using nbt_detail::Writer;

extern "C" {

int nbt_write(nbt_file *nbt, const char *filename) {
    if (nbt->root == nullptr) {
        return NBT_ERR;
    }
    int64_t size = nbt_detail::encoded_tag_size(nbt->root);
    if (size < 0) {
        return NBT_ERR;
    }
    ByteBuffer raw;
    if (!raw.reserve(static_cast<size_t>(size))) {
        return NBT_EMEM;
    }
    MemorySink sink(raw);
    if (Writer<MemorySink>(sink).tag(nbt->root) != static_cast<size_t>(size)) {
        return NBT_ERR;
    }
    ByteBuffer gz;
    int r = nbt_detail::gzip_compress(raw.data(), raw.size(), gz);
    if (r != NBT_OK) {
        return r;
    }
    r = nbt_detail::replace_file(filename, gz.data(), gz.size());
    return r != NBT_OK ? r : static_cast<int>(size);
}

} // extern "C"
