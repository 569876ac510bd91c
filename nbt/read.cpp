// Reading a whole document: the file is read with plain reads and
// decompressed in one step, then parsed from memory, so every length can be
// checked against the data that is really there before anything is
// allocated for it. The buffer of decompressed bytes is kept per thread and
// reused for the next file.

#include "nbt/gzip_codec.h"
#include "nbt/nbt.h"
#include "nbt/reader.h"

#include <cstdlib>

using nbt_detail::BufferSource;
using nbt_detail::ByteBuffer;
using nbt_detail::Parser;

namespace {

int parse_root(nbt_file *nbt, const ByteBuffer &data) {
    auto *root = static_cast<nbt_tag *>(std::malloc(sizeof(nbt_tag)));
    if (root == nullptr) {
        return NBT_EMEM;
    }
    BufferSource src(data.data(), data.size());
    Parser<BufferSource> parser(src);
    // Bytes after the root are never looked at.
    int r = parser.tag(root, 0);
    if (r < 0) {
        std::free(root);
        return r;
    }
    nbt->root = root;
    return NBT_OK;
}

} // namespace

extern "C" {

int nbt_init(nbt_file **nbt) {
    *nbt = static_cast<nbt_file *>(std::malloc(sizeof(nbt_file)));
    if (*nbt == nullptr) {
        return NBT_EMEM;
    }
    (*nbt)->fp = nullptr;
    (*nbt)->root = nullptr;
    return NBT_OK;
}

int nbt_parse(nbt_file *nbt, const char *filename) {
    nbt->root = nullptr;
    thread_local ByteBuffer data;
    data.clear();
    int r = nbt_detail::read_gzip_file(filename, data);
    if (r == NBT_OK) {
        r = parse_root(nbt, data);
    }
    nbt_detail::release_if_large(data);
    return r;
}

} // extern "C"
