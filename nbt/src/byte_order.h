// Conversion of a number's bytes between the file's big-endian order and
// the host's order. Numbers travel as byte arrays and integers only, never
// as float or double values, so every float and double bit pattern
// (signalling NaNs included) passes unchanged.
#ifndef NBT_BYTE_ORDER_H
#define NBT_BYTE_ORDER_H

#include "endianness.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace nbt_detail {

// Reverses the N bytes of b in place (the conversion is its own inverse).
// The compiler's byte swaps, inlined: the long arrays of a paletted chunk
// hold thousands of numbers, and a call for each cost 5 % of a run.
template <size_t N> void reverse_number(unsigned char (&b)[N]) {
    static_assert(N == 1 || N == 2 || N == 4 || N == 8);
    if constexpr (N == 2) {
        uint16_t v;
        std::memcpy(&v, b, 2);
        v = __builtin_bswap16(v);
        std::memcpy(b, &v, 2);
    } else if constexpr (N == 4) {
        uint32_t v;
        std::memcpy(&v, b, 4);
        v = __builtin_bswap32(v);
        std::memcpy(b, &v, 4);
    } else if constexpr (N == 8) {
        uint64_t v;
        std::memcpy(&v, b, 8);
        v = __builtin_bswap64(v);
        std::memcpy(b, &v, 8);
    }
}

// Converts between host and file order: a reversal on a little-endian host,
// nothing on a big-endian one.
template <size_t N> void convert_number(unsigned char (&b)[N], bool host_big_endian) {
    if (!host_big_endian) {
        reverse_number(b);
    }
}

// Converts count numbers of N bytes each, stored one after another at p,
// in place.
template <size_t N> void convert_numbers(unsigned char *p, size_t count, bool host_big_endian) {
    if (host_big_endian) {
        return;
    }
    for (size_t i = 0; i < count; ++i, p += N) {
        unsigned char b[N];
        std::memcpy(b, p, N);
        reverse_number(b);
        std::memcpy(p, b, N);
    }
}

} // namespace nbt_detail

#endif
