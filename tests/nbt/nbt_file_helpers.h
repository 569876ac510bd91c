// Reading and writing whole documents in the NBT file tests: documents are
// owned by a smart pointer, so a failed assertion leaks nothing and the
// leak checker only reports what the library itself left behind.
#ifndef TESTS_NBT_NBT_FILE_HELPERS_H
#define TESTS_NBT_NBT_FILE_HELPERS_H

#include "nbt/nbt.hpp"
#include "support/files.h"

#include <memory>
#include <string>

using NbtFilePtr = nbt::document;

struct Parsed {
    int status = NBT_ERR;
    NbtFilePtr doc;
    nbt_tag *root() const { return doc ? doc->root : nullptr; }
};

inline Parsed parse_path(const std::string &path) {
    nbt_file *f = nullptr;
    Parsed p;
    if (nbt_init(&f) != NBT_OK) {
        return p;
    }
    p.doc.reset(f);
    p.status = nbt_parse(f, path.c_str());
    return p;
}

// Parses bytes stored at path, as they are or gzip-compressed.
inline Parsed parse_bytes(const std::string &path, const Bytes &bytes, bool gzip) {
    if (gzip) {
        write_gzip_file(path, bytes);
    } else {
        write_file(path, bytes);
    }
    return parse_path(path);
}

// A document that owns root (which may be null).
inline NbtFilePtr document_with(nbt_tag *root) {
    nbt_file *f = nullptr;
    if (nbt_init(&f) != NBT_OK) {
        nbt_free_tag(root);
        return nullptr;
    }
    f->root = root;
    return NbtFilePtr(f);
}

// The example document: a root compound with an empty name holding a short
// "s" = 258 and a list "l" with one int 7.
inline const Bytes kExample = {
    0x0A,                   // type: compound (root)
    0x00, 0x00,             // name length 0
    0x02,                   // type: short
    0x00, 0x01, 0x73,       // name "s"
    0x01, 0x02,             // value 258
    0x09,                   // type: list
    0x00, 0x01, 0x6C,       // name "l"
    0x03,                   // element type: int
    0x00, 0x00, 0x00, 0x01, // count 1
    0x00, 0x00, 0x00, 0x07, // element 0: 7
    0x00,                   // end of the root compound
};

#endif
