// What a dry run would add: the blocks each ore's veins placed in memory,
// by height and by chunk, reported in the census's table and, on request,
// as a map.
#ifndef LODECAST_DRY_RUN_H
#define LODECAST_DRY_RUN_H

#include "lodecast/census/census.h"
#include "lodecast/formats/world_format.h"
#include "lodecast/ores/vein.h"

#include <string>
#include <vector>

class dry_run {
  public:
    explicit dry_run(const std::vector<ore_plan> &ores);
    // A chunk carved in memory, and what each ore placed in it.
    void add(const chunk_meta &m, const std::vector<placement_count> &placed);
    // A chunk that could not be processed.
    void failed(const chunk_meta &m, const std::string &describe);
    // The table, for the messages.
    std::string report(const std::string &world) const;
    std::string map(const std::string &world) const;

  private:
    census c_;
    std::vector<size_t> tally_of_; // by ore: its row (an ore given twice has one)
};

#endif
