// Directory and chunk file names of a world, and chunk coordinates.
#ifndef LODECAST_CHUNK_NAME_H
#define LODECAST_CHUNK_NAME_H

#include <cstdint>
#include <string>

struct chunk_coords {
    int32_t x;
    int32_t y;
};

// 1 when every character is 0-9 or a-z (the empty name included), else 0.
int check_base32(const char *str);
// 1 when str reads "c." A "." B ".dat..." with A and B runs of 0-9, a-z
// and '-', else 0. Nothing after "dat" is examined.
int check_chunkname(const char *str);
// Decode the two base-36 coordinates of a name check_chunkname accepted.
void chunk_to_coords(const char *str, chunk_coords *cc);

// v in base 36 (0-9, a-z) with a minus sign when negative, as chunk names
// spell coordinates.
std::string base36(int64_t v);

// Where chunk (x, z) lives below the world: "<x mod 64>/<z mod 64>/c.<x>.<z>.dat",
// each part in base 36.
std::string chunk_file_path(int32_t x, int32_t z);

#endif
