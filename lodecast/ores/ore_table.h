// The ores the tool knows by name and their defaults: one table for the
// tool, the census and the usage text. A library of its own, which the
// census's report links without the rest of the tool.
#ifndef LODECAST_ORE_TABLE_H
#define LODECAST_ORE_TABLE_H

#include <cstdint>
#include <string>

struct ore_record {
    const char *name;
    int16_t block_id;
    int16_t rounds;
    int16_t min_depth;
    int16_t max_depth;
    int16_t size;
};

// The ores the tool knows by name, with their defaults: the one table the
// tool, the census and the usage text go by.
extern const ore_record ore_list[6];

// The row of ore_list for block id, or null.
const ore_record *find_ore(int block_id);

// "Coal" for 16 and the other known ores, else the id in decimal.
std::string ore_name(int id);

#endif
