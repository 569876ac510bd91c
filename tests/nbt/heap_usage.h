// How many heap bytes the process holds right now, so that a test can tell
// whether an operation released a big block (the count drops by its size)
// or left it alone. Works with the plain glibc allocator and under
// AddressSanitizer, which keeps its own heap.
#ifndef TESTS_NBT_HEAP_USAGE_H
#define TESTS_NBT_HEAP_USAGE_H

#include <cstddef>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#define NBT_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NBT_TEST_ASAN 1
#endif
#endif

#ifdef NBT_TEST_ASAN
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
inline size_t heap_bytes_in_use() {
    return __sanitizer_get_current_allocated_bytes();
}
#else
#include <malloc.h>
// Small blocks are counted in the arena, big ones are mapped on their own.
inline size_t heap_bytes_in_use() {
    struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}
#endif

// A payload this big stands out against the bookkeeping blocks that an
// edit allocates and releases on its way.
constexpr size_t kBigBlock = 1u << 20;

inline std::string big_text(char fill) {
    return std::string(kBigBlock, fill);
}

// Big blocks released since the heap held before bytes, rounded to the
// nearest whole block: the half-block margin absorbs the bookkeeping blocks.
inline long long big_blocks_released_since(size_t before) {
    const long long drop =
        static_cast<long long>(before) - static_cast<long long>(heap_bytes_in_use());
    const long long big = static_cast<long long>(kBigBlock);
    return drop >= 0 ? (drop + big / 2) / big : -((-drop + big / 2) / big);
}

#endif
