// Reading a whole document: the file's decompressed bytes are fetched in
// one go and parsed from memory, so every length can be checked against the
// data that is really there before anything is allocated for it.

#include "nbt/nbt.h"
#include "nbt/read_file.h"
#include "nbt/reader.h"

#include <cstdlib>

using nbt_detail::BufferSource;
using nbt_detail::ByteBuffer;
using nbt_detail::Parser;

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
    ByteBuffer data;
    int r = nbt_detail::read_file_bytes(filename, data);
    if (r != NBT_OK) {
        return r;
    }
    auto *root = static_cast<nbt_tag *>(std::malloc(sizeof(nbt_tag)));
    if (root == nullptr) {
        return NBT_EMEM;
    }
    BufferSource src(data.data(), data.size());
    Parser<BufferSource> parser(src);
    // Bytes after the root are never looked at.
    r = parser.tag(root, 0);
    if (r < 0) {
        std::free(root);
        return r;
    }
    nbt->root = root;
    return NBT_OK;
}

} // extern "C"
