// What a dry run would add: the blocks its veins placed in memory, by height
// and by chunk, reported in the census's table and, on request, as a map.
#ifndef LODECAST_DRY_RUN_H
#define LODECAST_DRY_RUN_H

#include "lodecast/census/census.h"
#include "lodecast/formats/world_format.h"
#include "lodecast/ores/vein.h"

#include <string>

class dry_run {
  public:
    explicit dry_run(int16_t ore_id);
    // A chunk carved in memory, and what it received.
    void add(const chunk_meta &m, const placement_count &placed);
    // A chunk that could not be processed.
    void failed(const chunk_meta &m, const std::string &describe);
    // The table, for the messages.
    std::string report(const std::string &world) const;
    std::string map(const std::string &world) const;

  private:
    census c_;
};

#endif
