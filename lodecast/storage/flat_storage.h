// Flat chunks: "Level" > "Blocks", one 8-bit id per block of a 16 x 128 x
// 16 chunk, and "Data", one nibble each (block.h). An ore replaces what
// its options allow among the 256 ids; data values are written only with
// -d.
#ifndef LODECAST_FLAT_STORAGE_H
#define LODECAST_FLAT_STORAGE_H

#include "lodecast/storage/storage_kind.h"

class flat_storage : public storage_kind {
  public:
    int32_t height_modulus() const override;
    bool read_ore(const std::string &word, ore_block &block, std::string &error) const override;
    std::unique_ptr<prepared_ore> prepare(const ore_plan &ore) const override;
    chunk_status bind(nbt_file *doc, std::unique_ptr<block_grid> &out) const override;
    bool unfinished(nbt_tag *skeleton) const override;
};

// The blocks of a flat chunk's arrays, for carving into them directly:
// dat may be null or short when no ore writes data values.
std::unique_ptr<block_grid> flat_grid(nbt_byte_array *blocks, nbt_byte_array *dat);

#endif
