#include "lodecast/block.h"

#include "lodecast/output.h"
#include "lodecast/vein.h"

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

namespace {

// Existing blocks that -oo lets an ore replace: the six known ores, then 3
// and 13.
constexpr int over_ores_ids[] = {16, 15, 14, 73, 56, 21, 3, 13};

bool in_over_ores_set(int cur) {
    for (int id : over_ores_ids) {
        if (cur == id) {
            return true;
        }
    }
    return false;
}

// The precedence rule. cur is the existing block (0..255), id the ore as a
// signed 16-bit number, so an id outside 0..255 never equals cur.
bool ore_may_replace(int cur, int id, uint32_t set) {
    if ((set & OPT_OVER_ALL) && cur != id) {
        return true;
    }
    if ((set & OPT_OVER_ORES) && in_over_ores_set(cur) && cur != id) {
        return true;
    }
    if ((set & OPT_OVER_BLOCKS) && cur != 0 && cur != id) {
        return true;
    }
    return cur == 1;
}

} // namespace

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
    if (!ore_may_replace(cur, id, opt->set)) {
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
