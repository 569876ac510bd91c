// The blocks a vein is carved into: a flat chunk (block.h) or a sectioned
// one (section_blocks.h), behind one interface so that the vein's
// arithmetic and draws are the same for both.
#ifndef LODECAST_BLOCK_GRID_H
#define LODECAST_BLOCK_GRID_H

#include "lodecast/run/options.h"
#include "lodecast/storage/section_blocks.h"
#include "nbt/nbt.h"

class block_grid {
  public:
    virtual ~block_grid() = default;
    // The highest y of the chunk: 127 flat, 255 sectioned.
    virtual int top() const = 0;
    // Place the ore at chunk-local (x, y, z) where the precedence rule
    // allows, printing the -vv line for a placed block. true when placed.
    virtual bool place(int x, int y, int z, int ore_id, const options *opt) = 0;
};

// A flat chunk's "Blocks" and "Data" arrays: update_block's rule on 8-bit
// ids, data nibbles only with -d.
class flat_grid : public block_grid {
  public:
    flat_grid(nbt_byte_array *arr, nbt_byte_array *dat) : arr_(arr), dat_(dat) {}
    int top() const override;
    bool place(int x, int y, int z, int ore_id, const options *opt) override;

  private:
    nbt_byte_array *arr_;
    nbt_byte_array *dat_;
};

// A sectioned chunk: 12-bit ids, stone only as a natural rock, every
// placed block gets data 0 or -d's value, and missing sections stay air.
class sectioned_grid : public block_grid {
  public:
    explicit sectioned_grid(chunk_sections &sections) : sections_(sections) {}
    int top() const override;
    bool place(int x, int y, int z, int ore_id, const options *opt) override;

    // A block other than natural rock was replaced: the chunk's light is
    // stale.
    bool relight() const { return relight_; }
    // An "Add" array could not be created (out of memory).
    bool failed() const { return failed_; }

  private:
    chunk_sections &sections_;
    bool relight_ = false;
    bool failed_ = false;
};

#endif
