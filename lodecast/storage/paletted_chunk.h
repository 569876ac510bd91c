// The blocks of a paletted chunk (DataVersion 1444 on), bound in the parsed
// document that owns them. Two layouts, by the chunk's own DataVersion:
//  - level (1444..2843): "Level" > "Sections" [{"Y", "Palette",
//    "BlockStates", light}], "Level" > "Status", "TileEntities";
//  - root (2844 on): "sections" [{"Y", "block_states" {"palette", "data"},
//    "biomes", light}], "Status", "yPos", "block_entities" at the root.
// Each section is 16 x 16 x 16 blocks at height "Y" * 16: a palette of block
// states ({"Name", optional "Properties" {name: string}}) and one packed
// palette index per block (palette_packing.h). A section without block
// states (light only, or missing) reads as air and never receives blocks.
//
// Reading and editing go through this class; write_back() re-packs what
// changed into the tree, leaving every other tag as it was.
#ifndef LODECAST_PALETTED_CHUNK_H
#define LODECAST_PALETTED_CHUNK_H

#include "lodecast/storage/palette_packing.h"
#include "nbt/nbt.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum class chunk_layout { level, root };

// What a binding found, or what a write-back did.
enum class paletted_result {
    ok,
    not_paletted,    // no int "DataVersion" of 1444 or more: another storage's chunk
    unknown_storage, // tags of unexpected types, wrong array lengths, indices past the palette
    out_of_memory,   // write_back() only: the tree is partly re-packed; do not save it
};

// One palette entry, viewed in the document: "Name" and "Properties" (null
// when the entry has none) of the entry's compound, which stays untouched.
struct palette_entry {
    std::string_view name;
    nbt_compound *properties = nullptr;
    nbt_compound *compound = nullptr;
};

// A block state to look up or add: a name and its properties, in any order.
struct block_state {
    std::string name;
    std::vector<std::pair<std::string, std::string>> properties;
};

class paletted_chunk {
  public:
    paletted_chunk();
    ~paletted_chunk();
    paletted_chunk(const paletted_chunk &) = delete;
    paletted_chunk &operator=(const paletted_chunk &) = delete;

    // Looks at root's layout, status, block entities and sections; reads
    // only the tree, and decodes no indices yet. The tree must outlive the
    // binding and change only through it. Anything but ok leaves the
    // binding refused(), with no sections.
    paletted_result bind(nbt_tag *root);

    int32_t data_version() const { return data_version_; }
    chunk_layout layout() const { return layout_; }
    // "Status", "" when there is none.
    std::string_view status() const { return status_; }
    bool below_zero_retrogen() const { return below_zero_retrogen_; }
    // Status full (minecraft:full, 1.13's fullchunk or postprocessed) and no
    // below_zero_retrogen: the game will not generate anything in it again.
    bool finished() const;

    // Lowest and highest block y: the bottom from "yPos", else from the
    // lowest section holding blocks (0 at most in the level layout); the
    // top that of the era (255; 319 for an overworld of 1.18 on) or of the
    // highest section holding blocks when that is higher.
    int bottom() const { return bottom_; }
    int top() const { return top_; }

    // Whether a block entity stands at chunk-local x, z (0..15) and height y.
    bool has_block_entity(int x, int y, int z) const;

    // The palette of section section_y (y >> 4); empty when that section
    // has no block states. Valid until the next find_or_add().
    std::span<const palette_entry> palette(int section_y) const;

    // Below, x and z are chunk-local (0..15) and y a block height. A
    // section's indices are decoded on first use; a section whose indices
    // cannot be decoded makes the whole binding refused(): reads then give
    // air, edits fail, and write_back() says unknown_storage.

    // The block's palette index; -1 in a section without block states.
    int index_at(int x, int y, int z);
    // The block's palette entry; minecraft:air (no compound) where
    // index_at gives -1.
    const palette_entry &entry_at(int x, int y, int z);
    // The index of state in section section_y's palette, appending an
    // entry {Name, Properties} at its end when there is none (existing
    // entries keep their order). -1 when the section has no block states,
    // its palette is full or memory ran out.
    int find_or_add(int section_y, const block_state &state);
    // Sets the block's palette index (below its palette's size). false,
    // with nothing changed, when the index or the section does not exist.
    bool set_index(int x, int y, int z, int index);

    bool refused() const { return refused_; }

    // Re-packs every section changed since the last write-back with its
    // era's rule (a wider index when the palette outgrew the old one; from
    // 2844 a "data" array created when a one-entry palette gained a
    // second). Sections that changed nothing keep their tags byte for byte.
    paletted_result write_back();

  private:
    struct section;
    paletted_result bind_tree(nbt_tag *root);
    section *find(int section_y) const;
    // The section's decoded indices, or null (refused) when they cannot be.
    section_indices *decoded(section &s);
    paletted_result bind_sections(nbt_tag *list);
    bool bind_block_entities(nbt_tag *list);

    int32_t data_version_ = 0;
    chunk_layout layout_ = chunk_layout::root;
    std::string_view status_;
    bool below_zero_retrogen_ = false;
    bool refused_ = false;
    int bottom_ = 0;
    int top_ = 0;
    std::vector<section> sections_; // never reallocated once bound: find() points into it
    // The palettes, each section's a stretch of its own: a few allocations a
    // chunk rather than one per section (callgrind).
    std::vector<palette_entry> entries_;
    // Section slot + 1 by section Y + 128 (0: none), for a lookup per block.
    std::array<uint16_t, 256> slot_of_y_{};
    std::vector<int64_t> block_entities_; // sorted keys of (x, y, z)
};

#endif
