#include "lodecast/storage/palette_packing.h"

#include <algorithm>
#include <bit>
#include <cassert>

namespace {

constexpr int32_t block_count = 4096;

// ceil(log2 n) for n >= 1.
int ceil_log2(size_t n) {
    return static_cast<int>(std::bit_width(n - 1));
}

uint64_t mask_of(int bits) {
    return (uint64_t{1} << bits) - 1; // bits <= 16: never a shift by 64
}

} // namespace

packing packing_for(int32_t data_version) {
    if (data_version < first_padded_version) {
        return packing::spanning;
    }
    return data_version < first_sparse_version ? packing::padded : packing::sparse_padded;
}

int index_bits(packing p, size_t n) {
    if (p == packing::sparse_padded && n <= 1) {
        return 0;
    }
    return std::max(4, ceil_log2(n));
}

int32_t packed_length(packing p, int bits) {
    if (bits <= 0) {
        return 0;
    }
    if (p == packing::spanning) {
        return block_count * bits / 64;
    }
    const int32_t per_long = 64 / bits;
    return (block_count + per_long - 1) / per_long;
}

bool unpack_indices(packing p, size_t palette_size, const int64_t *longs, int32_t n,
                    section_indices &out) {
    if (palette_size == 0 || palette_size > max_palette_size) {
        return false;
    }
    const int bits = index_bits(p, palette_size);
    if (n != packed_length(p, bits) || (n > 0 && longs == nullptr)) {
        return false;
    }
    if (bits == 0) {
        out.fill(0);
        return true;
    }
    const uint64_t mask = mask_of(bits);
    uint64_t seen = 0; // the largest index met, checked once at the end
    if (p == packing::spanning) {
        for (int32_t i = 0; i < block_count; ++i) {
            const int32_t bit = i * bits;
            const int32_t word = bit >> 6;
            const int shift = bit & 63;
            uint64_t v = static_cast<uint64_t>(longs[word]) >> shift;
            if (shift + bits > 64) {
                v |= static_cast<uint64_t>(longs[word + 1]) << (64 - shift);
            }
            v &= mask;
            seen = std::max(seen, v);
            out[static_cast<size_t>(i)] = static_cast<uint16_t>(v);
        }
    } else {
        const int32_t per_long = 64 / bits;
        int32_t i = 0;
        for (int32_t word = 0; word < n; ++word) {
            uint64_t w = static_cast<uint64_t>(longs[word]);
            for (int32_t k = 0; k < per_long && i < block_count; ++k, ++i, w >>= bits) {
                const uint64_t v = w & mask;
                seen = std::max(seen, v);
                out[static_cast<size_t>(i)] = static_cast<uint16_t>(v);
            }
        }
    }
    return seen < palette_size;
}

std::vector<int64_t> pack_indices(packing p, int bits, const section_indices &indices) {
    assert(bits >= 1 && bits <= 16);
    std::vector<uint64_t> words(static_cast<size_t>(packed_length(p, bits)), 0);
    const uint64_t mask = mask_of(bits);
    if (p == packing::spanning) {
        for (int32_t i = 0; i < block_count; ++i) {
            const uint64_t v = indices[static_cast<size_t>(i)] & mask;
            const int32_t bit = i * bits;
            const auto word = static_cast<size_t>(bit >> 6);
            const int shift = bit & 63;
            words[word] |= v << shift;
            if (shift + bits > 64) {
                words[word + 1] |= v >> (64 - shift);
            }
        }
    } else {
        const int32_t per_long = 64 / bits;
        for (int32_t i = 0; i < block_count; ++i) {
            const uint64_t v = indices[static_cast<size_t>(i)] & mask;
            words[static_cast<size_t>(i / per_long)] |= v << ((i % per_long) * bits);
        }
    }
    std::vector<int64_t> out(words.size());
    std::transform(words.begin(), words.end(), out.begin(),
                   [](uint64_t w) { return static_cast<int64_t>(w); });
    return out;
}
