// Sectioned chunks (section_blocks.h): 12-bit ids with "Add", heights
// 0..255, a world's block names from its mod loader's registry. Natural
// rock counts as the stone an ore replaces by default; a placed block gets
// data 0 or -d's value; a vein that replaced anything but natural rock
// marks the chunk for relighting.
#ifndef LODECAST_SECTIONED_STORAGE_H
#define LODECAST_SECTIONED_STORAGE_H

#include "lodecast/formats/block_registry.h"
#include "lodecast/storage/storage_kind.h"

class sectioned_storage : public storage_kind {
  public:
    explicit sectioned_storage(std::string world) : world_(std::move(world)) {}
    int32_t height_modulus() const override;
    bool read_ore(const std::string &word, ore_block &block, std::string &error) const override;
    std::unique_ptr<prepared_ore> prepare(const ore_plan &ore) const override;
    chunk_status bind(nbt_file *doc, std::unique_ptr<block_grid> &out) const override;
    bool unfinished(nbt_tag *skeleton) const override;

  private:
    std::string world_;
    mutable bool registry_read_ = false;
    mutable bool have_registry_ = false;
    mutable block_registry registry_;
};

// Marks a sectioned chunk for relighting: "LightPopulated" 0, where it has
// one (it is never created).
void mark_for_relighting(nbt_tag *root);

#endif
