// The shape of a chunk document: an unnamed root compound holding the
// compound "Level", which holds the byte arrays "Blocks" (one id per block)
// and "Data" (one nibble per block), laid out as block.h says. Also what a
// chunk document may cost to read.
#ifndef LODECAST_CHUNK_DOCUMENT_H
#define LODECAST_CHUNK_DOCUMENT_H

#include "lodecast/formats/world_format.h"
#include "nbt/nbt.h"

#include <cstddef>
#include <cstdint>

// How a chunk document holds its blocks: one flat "Blocks" array of
// 16 x 128 x 16 ids, "Sections" of 16 x 16 x 16 (section_blocks.h), or
// sections of palettes (paletted_chunk.h).
enum class chunk_shape { flat, sectioned, paletted };

// Far above any real chunk (about 82 KB decompressed, a few thousand tags;
// a region record is at most 1 MiB compressed), low enough that a chunk
// bomb costs a bounded amount of memory: a chunk over a limit is left
// alone as not a valid chunk.
constexpr uint64_t max_chunk_file_bytes = uint64_t{2} << 20;
constexpr size_t max_chunk_decoded_bytes = size_t{8} << 20;
constexpr size_t max_chunk_tags = size_t{1} << 17;

// 0 when the tree under nbtroot has a compound "Level" holding a byte array
// "Blocks" of exactly 32768 bytes, else 1. Only reads the tree.
int valid_chunk(nbt_tag *nbtroot);

// A child of "Level", or null.
nbt_tag *find_in_level(nbt_tag *root, const char *name);

// The chunk's block array when the document is a valid chunk, else null.
nbt_byte_array *chunk_blocks(nbt_tag *root);

// false when a tag anywhere in the tree has a type the library cannot
// carry over (its payload would be lost on writing).
bool tag_types_known(const nbt_tag *tag);

// Parse n bytes of a chunk document compressed as c into out, within the
// limits above and refusing what a rewrite would not carry over unchanged.
// ok; init_failed; parse_failed for damaged data; invalid over a limit;
// unfinished, with out empty, when io.left_unfinished says so of the
// decompressed document's skeleton.
chunk_status parse_chunk(const unsigned char *data, size_t n, nbt_compression c, nbt::document &out,
                         chunk_io &io);

#endif
