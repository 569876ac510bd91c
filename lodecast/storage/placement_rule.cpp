#include "lodecast/storage/placement_rule.h"

#include "lodecast/run/options.h"

namespace {

// Existing blocks that -oo lets an ore replace: the six known ores, then 3
// and 13.
constexpr int over_ores_ids[] = {16, 15, 14, 73, 56, 21, 3, 13};

bool in_over_ores_set(int cur) {
    for (int id : over_ores_ids) {
        if (cur == id) {
            return true;
        }
    }
    return false;
}

} // namespace

bool natural_rock(int data) {
    return data == 0 || data == 1 || data == 3 || data == 5;
}

bool ore_may_replace(int cur, int id, uint32_t set, bool stone) {
    if ((set & OPT_OVER_ALL) && cur != id) {
        return true;
    }
    if ((set & OPT_OVER_ORES) && in_over_ores_set(cur) && cur != id) {
        return true;
    }
    if ((set & OPT_OVER_BLOCKS) && cur != 0 && cur != id) {
        return true;
    }
    return stone;
}
