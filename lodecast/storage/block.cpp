#include "lodecast/storage/block.h"

#include "lodecast/ores/vein.h"
#include "lodecast/pipeline/output.h"
#include "lodecast/storage/placement_rule.h"

#include <cstdio>
#include <cstdlib>

// Unlike assert(), stays active under NDEBUG: writing outside the chunk's
// arrays must never happen silently in a release build.
#define LODECAST_CHECK(cond)                                                                       \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: %s: Assertion `%s' failed.\n", __FILE__, __LINE__,        \
                         __func__, #cond);                                                         \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

block_position block_at(int x, int y, int z) {
    // Formed in 64 bits so that wild coordinates reach the checks instead of
    // overflowing; for chunk coordinates this equals the 32-bit formula.
    const int64_t index = ((int64_t{x} * 16) + z) * 128 + y;
    LODECAST_CHECK(index >= 0);
    LODECAST_CHECK(index < 32768);
    const auto i = static_cast<int32_t>(index);
    return block_position{i, i >> 1, (i & 1) != 0};
}

bool update_block(nbt_byte_array *arr, nbt_byte_array *dat, int x, int y, int z, int ore_id,
                  const options *opt) {
    const block_position pos = block_at(x, y, z);
    const int cur = arr->content[pos.index];
    const int id = static_cast<int16_t>(ore_id);
    if (!ore_may_replace(cur, id, opt->set, cur == stone_id)) {
        return false;
    }
    arr->content[pos.index] = static_cast<unsigned char>(id & 0xFF);
    if (opt->set & OPT_VERY_VERBOSE) {
        out_printf("Added block at %d,%d,%d\n", x, y, z);
    }
    // A missing or short data array leaves the nibble unwritten rather than
    // writing outside it; the chunk update decides what such a chunk means.
    if ((opt->set & OPT_DATA) && dat != nullptr && dat->content != nullptr &&
        pos.data_byte < dat->length) {
        unsigned char &byte = dat->content[pos.data_byte];
        const unsigned value = static_cast<unsigned>(opt->data) & 0x0Fu;
        if (pos.high_nibble) {
            byte = static_cast<unsigned char>((byte & 0x0Fu) | (value << 4));
        } else {
            byte = static_cast<unsigned char>((byte & 0xF0u) | value);
        }
    }
    return true;
}
