// How a chunk holds its blocks. A storage kind (flat arrays, sections with
// "Add", palettes of named block states) knows the ores of its worlds by id
// or name, prepares each ore of a run once (the block state it places and
// the states it may replace), and binds a loaded chunk document so that the
// vein code can carve into it without knowing which kind it is. The world
// format hands out the kind of its chunks (world_kind.h); nothing outside
// formats/ and storage/ asks which one it is.
#ifndef LODECAST_STORAGE_KIND_H
#define LODECAST_STORAGE_KIND_H

#include "lodecast/formats/world_format.h"
#include "lodecast/run/options.h"
#include "nbt/nbt.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// An ore's block as a storage kind read it from the command line or a
// profile.
struct ore_block {
    int32_t id = 0;   // numeric kinds: the block id
    std::string name; // a block-state name ("minecraft:coal_ore"); empty for numeric kinds
    std::string deep; // its variant in deepslate, where the kind has one
    // How reports name it: "Coal", a registry name, or the id in decimal.
    std::string label;
    // The row of the known ores whose defaults it takes (its numeric id in
    // the ore table), or 0 for none.
    int defaults_id = 0;
};

// One ore of a run: its block and how its veins are drawn (rounds, heights,
// size, data, the replace options; the run's other bits alongside).
struct ore_plan {
    ore_block block;
    options opt;
    // -biome's names, namespaced; empty: every biome.
    std::vector<std::string> biomes;
};

// An ore as a storage kind prepared it for a run, once: opaque to all
// but that kind.
class prepared_ore {
  public:
    virtual ~prepared_ore() = default;
};

// One loaded chunk's blocks, bound by its storage kind. Heights are the
// chunk's own: from bottom() to top(), both inclusive.
class block_grid {
  public:
    virtual ~block_grid() = default;
    virtual int bottom() const = 0;
    virtual int top() const = 0;
    // Whether the game has finished generating the chunk: one it has not
    // yet decorated gets its own ores later, so a run leaves it alone.
    virtual bool finished() const = 0;
    // The ore the next place() calls carve; false when this chunk cannot
    // take it (the chunk is then invalid).
    virtual bool begin(const prepared_ore &ore) = 0;
    // Place the begun ore at chunk-local (x, y, z) where its rule allows
    // and no block entity sits; true when the block became ore.
    virtual bool place(int x, int y, int z) = 0;
    // Whether the block at chunk-local (x, y, z), within the chunk's
    // heights, is air (what a vein's -air test looks at).
    virtual bool air(int x, int y, int z) = 0;
    // The biome stored at (x, y, z) as a namespaced name into name; false
    // when the chunk stores none readable there.
    virtual bool biome(int, int, int, std::string &) { return false; }
    // The chunk's own DataVersion; 0 for chunks that carry none.
    virtual int32_t data_version() const { return 0; }
    // Start heights over the whole height range without -spread: formats
    // with no earlier behaviour to keep.
    virtual bool spreads_by_default() const { return false; }
    // After the last vein: what the placed blocks need besides themselves
    // (light marks, palettes) goes into the document. ok, or why the chunk
    // must be left alone.
    virtual chunk_status finish() = 0;
};

class storage_kind {
  public:
    virtual ~storage_kind() = default;
    // Heights on the command line are taken modulo this (flat chunks 128).
    virtual int32_t height_modulus() const = 0;
    // Whether its chunks store biomes by name or id (what -biome reads).
    virtual bool stores_biomes() const { return false; }
    // The run's options that only some kinds take (-base, -deep).
    virtual void take_options(const options &) {}
    // Resolves word, an ore as a user writes it (an id, a known ore's
    // name, a block name of this world), into block. false when it names
    // no block of this kind, with error saying more where the kind knows
    // more (a name this world lacks and its close matches; empty else).
    virtual bool read_ore(const std::string &word, ore_block &block, std::string &error) const = 0;
    // What place() needs of an ore, computed once per run.
    virtual std::unique_ptr<prepared_ore> prepare(const ore_plan &ore) const = 0;
    // Binds a loaded chunk document: ok with out set, or invalid (not a
    // chunk of this kind, or one it cannot write back unchanged).
    virtual chunk_status bind(nbt_file *doc, std::unique_ptr<block_grid> &out) const = 0;
    // From a chunk's skeleton (nbt_parse_skeleton) alone: true when bind()
    // and finished() would leave the chunk alone as unfinished. false when
    // the skeleton cannot tell: the full document decides.
    virtual bool unfinished(nbt_tag *skeleton) const = 0;
};

// Reads a known ore's name ("Coal", any case) into block; false for any
// other word.
bool read_known_ore(const std::string &word, ore_block &block);

#endif
