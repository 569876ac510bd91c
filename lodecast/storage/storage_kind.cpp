#include "lodecast/storage/storage_kind.h"

#include "lodecast/ores/ore_table.h"

#include <strings.h>

bool read_known_ore(const std::string &word, ore_block &block) {
    for (const ore_record &k : ore_list) {
        if (strcasecmp(word.c_str(), k.name) == 0) {
            block.id = k.block_id;
            block.label = k.name;
            block.defaults_id = k.block_id;
            return true;
        }
    }
    return false;
}
