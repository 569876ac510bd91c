// How a paletted section packs its 4096 palette indices (index
// (y << 8) | (z << 4) | x) into a long array, b bits each. Three variants,
// told apart by the chunk's own DataVersion:
//  - spanning (below 2527): one little-endian bit stream across the longs,
//    an index may straddle two longs; 64 · b longs;
//  - padded (2527..2843): floor(64 / b) indices per long from its low bits,
//    the high bits left as padding; ceil(4096 / floor(64 / b)) longs;
//  - sparse padded (2844 on): padded, but a one-entry palette has no long
//    array at all and any palette of up to 16 entries takes 4 bits.
// The two packings only differ for widths other than 4, 8 and 16.
#ifndef LODECAST_PALETTE_PACKING_H
#define LODECAST_PALETTE_PACKING_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr int32_t first_paletted_version = 1444;
inline constexpr int32_t first_padded_version = 2527;
inline constexpr int32_t first_sparse_version = 2844;

// A palette larger than a section's block count cannot be indexed usefully;
// it also bounds the width at 12 bits.
inline constexpr size_t max_palette_size = 4096;

enum class packing { spanning, padded, sparse_padded };

// The variant of a chunk of DataVersion data_version (1444 on).
packing packing_for(int32_t data_version);

// Bits per index for a palette of n (1..max_palette_size) entries: below
// 2844 max(4, ceil(log2 n)); from 2844 0 for n = 1 (no array), 4 up to 16,
// else ceil(log2 n).
int index_bits(packing p, size_t n);

// Number of longs holding 4096 indices of the given width (0 for width 0).
int32_t packed_length(packing p, int bits);

using section_indices = std::array<uint16_t, 4096>;

// Reads the indices of a palette of palette_size entries out of n longs.
// false, with out unspecified, when n is not the length the variant gives
// that palette, or an index is not below palette_size: such a section is
// storage the tool does not know, never read out of bounds. Width 0 (a
// one-entry palette from 2844) takes no longs and gives all zeros.
bool unpack_indices(packing p, size_t palette_size, const int64_t *longs, int32_t n,
                    section_indices &out);

// The long array of indices (each below 2^bits) at width bits (1..16) in
// variant p; unused bits are zero.
std::vector<int64_t> pack_indices(packing p, int bits, const section_indices &indices);

#endif
