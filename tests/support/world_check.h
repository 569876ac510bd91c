// Checks that a run of the tool left every chunk file of a world either
// with exactly its old bytes or as a complete, valid chunk holding veins.
#ifndef TESTS_SUPPORT_WORLD_CHECK_H
#define TESTS_SUPPORT_WORLD_CHECK_H

#include "nbt/nbt.hpp"
#include "support/chunk_bytes.h"
#include "support/files.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

using NbtDoc = nbt::document;

// Parses path with nbt_parse; *status receives its result. Null on failure.
NbtDoc parse_nbt_file(const std::string &path, int *status);
// Parses bytes as the content of a chunk file (through a temporary file).
NbtDoc parse_nbt_bytes(const Bytes &bytes, int *status);

// "" when doc is a chunk: a root compound holding a compound "Level" with
// a byte array "Blocks" of 32768 bytes; else what is missing. ("Data" and
// the rest are checked by comparing with the tree the chunk came from.)
std::string chunk_shape_problem(const nbt_file *doc);

// Every regular file below dir by its path relative to dir.
using FileSnapshot = std::map<std::string, Bytes>;
FileSnapshot snapshot_files(const std::string &dir);

// Relative paths of all entries below dir whose name begins with a dot:
// temporary files of the writer, finished or not.
std::vector<std::string> dot_entries(const std::string &dir);

enum class ChunkState {
    Unchanged, // exactly the old bytes
    Updated,   // a complete, valid chunk: the old tree with veins added
    Damaged,   // anything else
};

struct ChunkCheck {
    ChunkState state = ChunkState::Damaged;
    std::string detail; // why Damaged
    int placed = 0;     // blocks that became ore (Updated only)
};

// Compares the chunk file at path with the bytes it held before the run.
// Updated requires gzip output that parses, has the chunk shape, equals the
// tree parsed from old_bytes except for "Blocks" entries that went from a
// replaceable id (other than ore) to ore, and holds at least one such entry
// when the old chunk had plenty of replaceable blocks (twenty veins cannot
// all miss them).
ChunkCheck check_chunk_file(const std::string &path, const Bytes &old_bytes, uint8_t ore,
                            const std::vector<uint8_t> &replaceable = {kStone});

// Per chunk, the lines the tool printed after its "Updating chunk a/b/c..."
// line (needs -v), keyed by the relative path "a/b/c". Lines after the last
// chunk's own output (from "World updated" on) are not included.
std::map<std::string, std::vector<std::string>> messages_by_chunk(const std::string &err);

#endif
