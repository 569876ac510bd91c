// What a run did, told at its end on a terminal: the chunks it updated,
// those it left alone and why, the blocks each ore placed and the time it
// took.
#ifndef LODECAST_RUN_SUMMARY_H
#define LODECAST_RUN_SUMMARY_H

#include <cstdint>
#include <string>
#include <vector>

struct run_summary {
    uint64_t seen = 0;       // every chunk the walk found
    uint64_t updated = 0;    // given blocks and written (a dry run: would be)
    uint64_t filtered = 0;   // outside -t or -b
    uint64_t recorded = 0;   // already in the record of this ore
    uint64_t unfinished = 0; // not finished by the game
    uint64_t unchanged = 0;  // no vein placed a block
    uint64_t failed = 0;     // could not be read, updated or written
    std::vector<std::string> ores;
    std::vector<uint64_t> placed; // by ore, in the chunks updated
};

// The summary's lines after seconds, in the future tense for a dry run.
std::string summary_text(const run_summary &s, double seconds, bool dry);

// The line of a run whose walk found no chunk at all in world.
std::string no_chunk_line(const std::string &world);

#endif
