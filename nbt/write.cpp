// Writing a whole document: the tree is checked, serialised into memory and
// compressed before the disk is touched, and the file is then replaced in
// one step, so a failure at any point leaves the old file as it was. Both
// buffers are kept per thread and reused for the next document.

#include "nbt/atomic_file.h"
#include "nbt/byte_buffer.h"
#include "nbt/document_write.h"
#include "nbt/gzip_codec.h"
#include "nbt/nbt.h"
#include "nbt/write_check.h"
#include "nbt/writer.h"

using nbt_detail::ByteBuffer;
using nbt_detail::MemorySink;
using nbt_detail::Writer;

namespace {

// Serialises root (size bytes) into raw and its gzip member into gz.
int compress_tree(const nbt_tag *root, size_t size, ByteBuffer &raw, ByteBuffer &gz) {
    if (!raw.reserve(size)) {
        return NBT_EMEM;
    }
    MemorySink sink(raw);
    if (Writer<MemorySink>(sink).tag(root) != size) {
        return NBT_ERR;
    }
    return nbt_detail::gzip_encode(raw.data(), raw.size(), gz);
}

} // namespace

int nbt_detail::encode_document(const nbt_file *nbt, ByteBuffer &out) {
    if (nbt->root == nullptr) {
        return NBT_ERR;
    }
    int64_t size = nbt_detail::encoded_tag_size(nbt->root);
    if (size < 0) {
        return NBT_ERR;
    }
    thread_local ByteBuffer raw;
    raw.clear();
    int r = compress_tree(nbt->root, static_cast<size_t>(size), raw, out);
    nbt_detail::release_if_large(raw);
    return r != NBT_OK ? r : static_cast<int>(size);
}

extern "C" {

int nbt_write(nbt_file *nbt, const char *filename) {
    thread_local ByteBuffer gz;
    gz.clear();
    int r = nbt_detail::encode_document(nbt, gz);
    if (r >= 0) {
        int size = r;
        r = nbt_detail::replace_file(filename, gz.data(), gz.size());
        r = r != NBT_OK ? r : size;
    }
    nbt_detail::release_if_large(gz);
    return r;
}

} // extern "C"
