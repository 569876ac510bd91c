// Where a block lives in a sectioned chunk: "Level" > "Sections" is a list
// of up to 16 compounds, each 16 x 16 x 16 blocks at height "Y" * 16, with
// "Blocks" (the low 8 bits of each id), an optional "Add" (the high 4 bits,
// one nibble per block), "Data" (one nibble per block) and the light
// arrays. A section that is not in the list is air.
#ifndef LODECAST_SECTION_BLOCKS_H
#define LODECAST_SECTION_BLOCKS_H

#include "nbt/nbt.h"

#include <array>
#include <cstdint>

constexpr int section_side = 16;
constexpr int section_count = 16;
constexpr int sectioned_height = section_side * section_count; // 256
constexpr int32_t section_block_count = 4096;
constexpr int32_t section_nibble_bytes = section_block_count / 2;
constexpr int max_sectioned_id = 4095; // 12 bits

// The index of chunk block (x, y, z) in its section's arrays: y varies
// slowest, then z, then x. The section is y >> 4.
constexpr int32_t section_index(int x, int y, int z) {
    return ((y & 15) << 8) | (z << 4) | x;
}

// Nibble i of a nibble array: the low half of byte i >> 1 for even i, the
// high half for odd i.
int get_nibble(const unsigned char *bytes, int32_t i);
void set_nibble(unsigned char *bytes, int32_t i, int value);

// One section's arrays, viewed in the document that owns them.
struct section_view {
    nbt_compound *compound = nullptr; // the section; null: no section here
    nbt_byte_array *blocks = nullptr; // 4096 bytes
    nbt_byte_array *add = nullptr;    // 2048 bytes, or null
    nbt_byte_array *data = nullptr;   // 2048 bytes
};

// What binding a document found.
enum class sections_shape {
    ok,
    not_a_chunk,     // no "Level" compound or no "Sections" list of compounds
    unknown_storage, // a section with other arrays, sizes or heights than these
};

// The sections of one chunk document, by height.
class chunk_sections {
  public:
    // Looks at root's sections; only reads the tree.
    sections_shape bind(nbt_tag *root);

    // Section y >> 4 or, when the chunk has none there, a view with no tag.
    const section_view &at(int y) const { return sections_[static_cast<size_t>(y >> 4) & 15]; }
    // The block's 12-bit id and its data value; 0 in a missing section.
    int id(int x, int y, int z) const;
    int data(int x, int y, int z) const;
    // Sets the block's id (0..4095) and data (0..15) in an existing
    // section: an id above 255 creates the section's "Add" when it has
    // none; an id below 256 clears its nibble where "Add" exists. false
    // (nothing changed) when the section is missing or "Add" could not be
    // created.
    bool set(int x, int y, int z, int id, int data);

  private:
    std::array<section_view, section_count> sections_{};
};

#endif
