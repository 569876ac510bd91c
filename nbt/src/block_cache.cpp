#include "block_cache.h"

namespace nbt_detail::block_cache {

#ifndef NBT_PLAIN_MALLOC

thread_local constinit stacks freed{};

namespace {

// Gives a thread's kept blocks back when the thread ends.
struct drain {
    drain() { freed.state = phase::keeping; }
    drain(const drain &) = delete;
    drain &operator=(const drain &) = delete;
    ~drain() {
        freed.state = phase::closed;
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

void free_unkept(void *p) {
    if (freed.state == phase::fresh) {
        thread_local drain registered; // constructed once, on the thread's first block
        (void)registered;
        cache_free(p); // kept now, unless it is not a block to keep
        return;
    }
    std::free(p);
}

#endif

} // namespace nbt_detail::block_cache
