#include "lodecast/ores/ore_table.h"

// Coal's max_depth of 128 lies one above what -mx can give; it is kept
// because it widens Coal's start heights to the generator's whole range.
const ore_record ore_list[6] = {
    {"Coal", 16, 20, 0, 128, 16},  {"Iron", 15, 20, 0, 64, 8},   {"Gold", 14, 2, 0, 32, 8},
    {"Redstone", 73, 8, 0, 16, 7}, {"Diamond", 56, 1, 0, 16, 7}, {"Lapis", 21, 1, 0, 32, 7},
};

const ore_record *find_ore(int block_id) {
    for (const ore_record &row : ore_list) {
        if (row.block_id == block_id) {
            return &row;
        }
    }
    return nullptr;
}

std::string ore_name(int id) {
    const ore_record *known = find_ore(id);
    return known != nullptr ? known->name : std::to_string(id);
}
