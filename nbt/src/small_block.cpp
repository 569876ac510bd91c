#include "small_block.h"

#include <cstdlib>
#include <malloc.h>

#if defined(__SANITIZE_ADDRESS__)
#define NBT_PLAIN_MALLOC 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NBT_PLAIN_MALLOC 1
#endif
#endif

namespace nbt_detail {

#ifdef NBT_PLAIN_MALLOC

void *small_alloc(size_t n) {
    return std::malloc(n);
}

void small_free(void *p) {
    std::free(p);
}

#else

namespace {

// Enough for the largest chunk documents; a thread keeps at most
// max_count * small_block_size bytes (1.5 MiB) to itself.
constexpr size_t max_count = size_t{1} << 16;

// The freed blocks, linked through their first bytes.
struct stack {
    stack() = default;
    stack(const stack &) = delete;
    stack &operator=(const stack &) = delete;
    ~stack() {
        while (top != nullptr) {
            void *next = *static_cast<void **>(top);
            std::free(top);
            top = next;
        }
    }
    void *top = nullptr;
    size_t count = 0;
};

thread_local stack freed;

} // namespace

void *small_alloc(size_t n) {
    stack &s = freed;
    if (n > small_block_size || s.top == nullptr) {
        return std::malloc(n);
    }
    void *p = s.top;
    s.top = *static_cast<void **>(p);
    --s.count;
    return p;
}

void small_free(void *p) {
    stack &s = freed;
    // Only blocks near the size taken: a large one would be memory lost.
    const size_t usable = p == nullptr ? 0 : malloc_usable_size(p);
    if (usable < small_block_size || usable > 2 * small_block_size || s.count == max_count) {
        std::free(p);
        return;
    }
    *static_cast<void **>(p) = s.top;
    s.top = p;
    ++s.count;
}

#endif

} // namespace nbt_detail
