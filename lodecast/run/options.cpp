#include "lodecast/run/options.h"

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
