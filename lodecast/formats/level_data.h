// Reading a world's level.dat within limits: a real one is a few KB (a
// mod loader's registry makes it a few hundred), so a file far over that is
// refused instead of growing a tree of millions of tags.
#ifndef LODECAST_LEVEL_DATA_H
#define LODECAST_LEVEL_DATA_H

#include "nbt/nbt.hpp"

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint64_t max_level_file_bytes = uint64_t{4} << 20;
constexpr size_t max_level_decoded_bytes = size_t{32} << 20;
constexpr size_t max_level_tags = size_t{1} << 20;

enum class level_read {
    ok,
    absent,      // no level.dat
    unreadable,  // it cannot be opened, or does not decompress or parse
    over_limits, // bigger than any real level.dat
};

// <world>/level.dat into out (ok only).
level_read read_level_dat(const std::string &world, nbt::document &out);

#endif
