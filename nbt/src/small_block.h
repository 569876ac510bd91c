// Small blocks (tags, numbers, list and compound records, short strings)
// go back to a stack of freed blocks kept per thread and come from it
// before malloc: a chunk document holds thousands of them, all freed at
// once and made again for the next document, and malloc keeps only a few
// blocks of each size at hand (this cut a fifth of the allocator's
// instructions on paletted chunks).
//
// Every block on the stack is a plain malloc block of small_block_size to
// twice that many usable bytes: free() stays valid on whatever
// small_alloc() returns, and small_free() accepts any malloc block, so
// every free path of a tree works unchanged. Under AddressSanitizer both
// are plain malloc and free, which keeps its use-after-free checks.
#ifndef NBT_SMALL_BLOCK_H
#define NBT_SMALL_BLOCK_H

#include <cstddef>

namespace nbt_detail {

inline constexpr size_t small_block_size = 24;

// As malloc(n).
void *small_alloc(size_t n);
// As free(p).
void small_free(void *p);

} // namespace nbt_detail

#endif
