// Paletted chunks (1.13 on: paletted_chunk.h): blocks are named block
// states, heights the chunk's own (-64..319 in a 1.18+ overworld). An ore
// is a block-state name ("minecraft:diamond_ore", a mod's "create:zinc_ore";
// the six known ores and their ids mean their modern blocks). By default it
// replaces natural rock (stone, granite, diorite, andesite, tuff and the
// world's own base rocks given with -base) with the plain ore and deepslate
// with its deepslate variant; polished rock, which players place, never.
// Only finished chunks change; a section that received nothing is written
// back as it was.
#ifndef LODECAST_PALETTED_STORAGE_H
#define LODECAST_PALETTED_STORAGE_H

#include "lodecast/storage/storage_kind.h"

#include <string>
#include <vector>

// The newest chunk DataVersion lodecast knows (26.2); a later chunk, or a
// world saved by a later game, is left alone.
constexpr int32_t newest_known_data_version = 4903;

// The heights any paletted chunk can have: -64..319.
constexpr int paletted_bottom = -64;
constexpr int paletted_height = 384;

class paletted_storage : public storage_kind {
  public:
    int32_t height_modulus() const override;
    bool stores_biomes() const override { return true; }
    // -base: more block names that count as natural rock; -deep: the
    // deepslate variant of an ore that has no vanilla one.
    void take_options(const options &opt) override;
    bool read_ore(const std::string &word, ore_block &block, std::string &error) const override;
    std::unique_ptr<prepared_ore> prepare(const ore_plan &ore) const override;
    chunk_status bind(nbt_file *doc, std::unique_ptr<block_grid> &out) const override;
    bool unfinished(nbt_tag *skeleton) const override;

  private:
    std::vector<std::string> base_;
    std::string deep_; // "": none
};

#endif
