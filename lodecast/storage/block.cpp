#include "lodecast/storage/block.h"

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
