#include "lodecast/formats/record_codec.h"

#include "lodecast/formats/region_file.h"
#include "nbt/nbt.hpp"

#include <cstdlib>
#include <cstring>

namespace {

nbt_compression library_compression(uint8_t c) {
    return c == region::compression_gzip   ? NBT_GZIP
           : c == region::compression_zlib ? NBT_ZLIB
                                           : NBT_UNCOMPRESSED;
}

// Appends n bytes to b, a malloc'd block as the library's buffers are.
bool append_to(nbt_buffer *b, const unsigned char *data, size_t n) {
    if (b->capacity - b->size < n) {
        void *grown = std::realloc(b->data, b->size + n);
        if (grown == nullptr) {
            return false;
        }
        b->data = static_cast<unsigned char *>(grown);
        b->capacity = b->size + n;
    }
    std::memcpy(b->data + b->size, data, n);
    b->size += n;
    return true;
}

} // namespace

lz4_stream::result record_payload_of(uint8_t c, const unsigned char *data, size_t n,
                                     std::vector<unsigned char> &plain, size_t limit,
                                     record_payload *out) {
    if (c != region::compression_lz4) {
        *out = {data, n, library_compression(c)};
        return lz4_stream::result::ok;
    }
    const lz4_stream::result r = lz4_stream::decode(data, n, plain, limit);
    *out = {plain.data(), plain.size(), NBT_UNCOMPRESSED};
    return r;
}

bool encode_record(const nbt_file *doc, uint8_t c, nbt_buffer *out, nbt_codec *codec,
                   std::vector<unsigned char> &scratch) {
    if (c != region::compression_lz4) {
        return nbt_encode(doc, library_compression(c), out, codec) >= 0;
    }
    nbt::buffer plain;
    scratch.clear();
    return nbt_encode(doc, NBT_UNCOMPRESSED, plain.get(), codec) >= 0 &&
           lz4_stream::encode(plain.data(), plain.size(), scratch) &&
           append_to(out, scratch.data(), scratch.size());
}
