// Chunk documents read straight out of a region file's slots.
#ifndef TESTS_SUPPORT_REGION_CHUNKS_H
#define TESTS_SUPPORT_REGION_CHUNKS_H

#include "nbt/nbt.hpp"

#include <string>

// The document in slot (0..1023) of the region file at path; null when the
// slot holds no record or the record does not parse.
nbt::document read_region_chunk(const std::string &path, int slot);

// doc encoded and parsed again: what a reader of the saved chunk sees.
nbt::document reparse(const nbt_file *doc);

#endif
