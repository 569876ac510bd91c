#include "lodecast/storage/block_grid.h"

#include "lodecast/ores/vein.h"
#include "lodecast/pipeline/output.h"
#include "lodecast/storage/block.h"
#include "lodecast/storage/placement_rule.h"

#include <cstdint>

int flat_grid::top() const {
    return chunk_height - 1;
}

bool flat_grid::place(int x, int y, int z, int ore_id, const options *opt) {
    return update_block(arr_, dat_, x, y, z, ore_id, opt);
}

int sectioned_grid::top() const {
    return sectioned_height - 1;
}

bool sectioned_grid::place(int x, int y, int z, int ore_id, const options *opt) {
    if (sections_.at(y).compound == nullptr) {
        return false; // air, and a section is never created
    }
    const int cur = sections_.id(x, y, z);
    const int id = static_cast<int16_t>(ore_id);
    const bool stone = cur == stone_id && natural_rock(sections_.data(x, y, z));
    if (!ore_may_replace(cur, id, opt->set, stone)) {
        return false;
    }
    const int data = (opt->set & OPT_DATA) ? opt->data & 0x0F : 0;
    if (!sections_.set(x, y, z, id, data)) {
        failed_ = true;
        return false;
    }
    relight_ = relight_ || !stone;
    if (opt->set & OPT_VERY_VERBOSE) {
        out_printf("Added block at %d,%d,%d\n", x, y, z);
    }
    return true;
}
