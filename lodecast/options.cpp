#include "lodecast/options.h"

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

void apply_ore_defaults(int ore_id, options *opt) {
    // Every row is visited; the ids are unique, so at most one matches.
    for (const ore_record &row : ore_list) {
        if (row.block_id != ore_id) {
            continue;
        }
        if (!(opt->set & OPT_ROUNDS)) {
            opt->rounds = row.rounds;
        }
        if (!(opt->set & OPT_MIN_DEPTH)) {
            opt->min_depth = row.min_depth;
        }
        if (!(opt->set & OPT_MAX_DEPTH)) {
            opt->max_depth = row.max_depth;
        }
        if (!(opt->set & OPT_SIZE)) {
            opt->size = row.size;
        }
    }
}
