#include "block_cache.h"

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

void *cache_alloc(size_t n) {
    return std::malloc(n);
}

void cache_free(void *p) {
    std::free(p);
}

#else

namespace {

// Class c holds blocks of at least smallest + c * step usable bytes (and
// less than one step more). malloc's own sizes on 64-bit glibc: 24, 40, 56...
constexpr size_t smallest = 24;
constexpr size_t step = 16;
// A paletted section's long array of 6-bit indices takes 3280 bytes.
constexpr size_t class_count = (4096 - smallest) / step + 1;
constexpr size_t max_bytes = size_t{2} << 20; // kept per thread at most

constexpr size_t class_size(size_t c) {
    return smallest + c * step;
}

// The freed blocks of each class, linked through their first bytes. Left
// trivially destructible, so that it is still there for a block freed by a
// later thread-exit or exit-time destructor (a document held in a static,
// say): the drain below closes it first, and a closed cache frees at once.
struct stacks {
    void *tops[class_count];
    size_t bytes;
    bool open;   // the drain is registered
    bool closed; // the thread is ending: nothing more is kept
};

thread_local stacks freed;

// Gives a thread's kept blocks back when the thread ends.
struct drain {
    drain() { freed.open = true; }
    drain(const drain &) = delete;
    drain &operator=(const drain &) = delete;
    ~drain() {
        freed.closed = true;
        for (void *&top : freed.tops) {
            while (top != nullptr) {
                void *next = *static_cast<void **>(top);
                std::free(top);
                top = next;
            }
        }
        freed.bytes = 0;
    }
};

} // namespace

void *cache_alloc(size_t n) {
    // The first class whose blocks all hold n bytes.
    const size_t c = n <= smallest ? 0 : (n - smallest + step - 1) / step;
    if (c >= class_count) {
        return std::malloc(n);
    }
    stacks &s = freed;
    void *p = s.tops[c];
    if (p == nullptr) {
        return std::malloc(n);
    }
    s.tops[c] = *static_cast<void **>(p);
    s.bytes -= class_size(c);
    return p;
}

void cache_free(void *p) {
    if (p == nullptr) {
        return;
    }
    const size_t usable = malloc_usable_size(p);
    const size_t c = (usable - smallest) / step; // the last class it fully serves
    stacks &s = freed;
    if (usable < smallest || c >= class_count || s.bytes + class_size(c) > max_bytes || s.closed) {
        std::free(p);
        return;
    }
    if (!s.open) {
        thread_local drain registered; // constructed once, on the first block kept
        (void)registered;
    }
    *static_cast<void **>(p) = s.tops[c];
    s.tops[c] = p;
    s.bytes += class_size(c);
}

#endif

} // namespace nbt_detail
