// Counting block ids by height over the chunks of a world.
#ifndef LODECAST_CENSUS_CENSUS_H
#define LODECAST_CENSUS_CENSUS_H

#include "lodecast/census/chunk_map.h"
#include "lodecast/storage/block.h"
#include "lodecast/storage/section_blocks.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The block at height y of a chunk's block array (lodecast/storage/block.h) lies
// at an index whose low seven bits are y.

// What was found of one block id.
struct ore_tally {
    int id = 0;
    std::string state;           // a block-state name counted instead of an id, or ""
    std::string name;            // "Coal", the id in decimal, or the state
    uint64_t total = 0;          // blocks of this id
    uint64_t chunks = 0;         // chunks holding at least one
    std::vector<uint64_t> per_y; // blocks at each height of the census
};

// A chunk that could not be counted, and why.
struct skipped_chunk {
    std::string path;
    std::string reason;
};

struct census {
    int bottom = 0;            // the lowest height counted (per_y[0])
    int height = chunk_height; // heights counted: 128 flat, 256 sectioned, 384 paletted
    std::vector<ore_tally> ores;
    uint64_t chunks_counted = 0;
    std::vector<skipped_chunk> skipped;    // unreadable or invalid chunks
    std::vector<std::string> skipped_dirs; // sub-directories that failed
    std::vector<map_cell> cells;           // per chunk: the chosen ids' blocks
};

// The ids counted when the user names none: the six ores the tool knows.
extern const int default_ore_ids[6];

// Read an ore given on the command line: a decimal id 0..255 or a known
// ore's name in any case. The id, or -1 when arg is neither.
int parse_ore(const char *arg);

// A census of heights 0..height-1 with one empty tally per id (0..4095),
// in the order given, named by names[i] where given and not empty;
// repeated ids are counted once.
census make_census(const std::vector<int> &ids, const std::vector<std::string> &names = {},
                   int height = chunk_height);

// A census of the block states named, at heights bottom..bottom+height-1;
// repeated names are counted once.
census make_state_census(const std::vector<std::string> &states, int bottom, int height);

// The label of a tally in reports: "Coal (16)", or a state's name.
std::string tally_label(const ore_tally &t);

// Add one chunk's counts (here[tally][y], heights from the census's
// bottom) to the tallies.
void add_chunk_counts(const std::vector<std::vector<uint64_t>> &here, census &c);

// Add one chunk's block array (chunk_block_count ids) to the tallies.
void count_blocks(const unsigned char *blocks, census &c);

// Add one sectioned chunk's blocks (12-bit ids, heights 0..255; the
// census's height must be sectioned_height).
void count_sections(const chunk_sections &sections, census &c);

#endif
