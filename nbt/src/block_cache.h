// The blocks of a tree (tags, numbers, strings, records, slot arrays and
// number arrays up to a few KiB) go back to stacks of freed blocks kept per
// thread, one per block size, and come from them before malloc: a chunk
// document holds thousands of blocks, all freed at once and made again for
// the next document, often on another thread, while malloc keeps only a few
// blocks of each size at hand and takes a lock for a block of another
// thread's arena. On paletted chunks this cut the allocator's instructions
// by three quarters on one thread, by half on two (callgrind).
//
// Every block on a stack is a plain malloc block whose usable size
// (malloc_usable_size) puts it in its stack's class: free() and realloc()
// stay valid on whatever cache_alloc() returns, and cache_free() accepts any
// malloc block, so every free path of a tree works unchanged. A thread
// keeps at most 2 MiB this way. Under AddressSanitizer both are plain
// malloc and free, which keeps its use-after-free checks.
#ifndef NBT_BLOCK_CACHE_H
#define NBT_BLOCK_CACHE_H

#include <cstddef>

namespace nbt_detail {

// As malloc(n).
void *cache_alloc(size_t n);
// As free(p).
void cache_free(void *p);

} // namespace nbt_detail

#endif
