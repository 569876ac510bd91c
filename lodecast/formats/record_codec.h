// A region record's bytes and the chunk document they hold, by the record's
// compression byte: gzip, zlib and uncompressed records go through the NBT
// library's codecs, LZ4 records through their block stream (lz4_stream.h).
#ifndef LODECAST_RECORD_CODEC_H
#define LODECAST_RECORD_CODEC_H

#include "lodecast/formats/lz4_stream.h"
#include "nbt/nbt_io.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// What the library is given to parse a record: its own bytes, or for an
// LZ4 record the decompressed document in the caller's buffer.
struct record_payload {
    const unsigned char *data = nullptr;
    size_t size = 0;
    nbt_compression how = NBT_UNCOMPRESSED;
};

// The payload of n bytes of a record of compression c (1 to 4), unwrapping
// an LZ4 stream into plain (at most limit bytes).
lz4_stream::result record_payload_of(uint8_t c, const unsigned char *data, size_t n,
                                     std::vector<unsigned char> &plain, size_t limit,
                                     record_payload *out);

// Appends doc compressed as c (1 to 4) to out; scratch is reused between
// calls. false when it cannot be encoded.
bool encode_record(const nbt_file *doc, uint8_t c, nbt_buffer *out, nbt_codec *codec,
                   std::vector<unsigned char> &scratch);

#endif
