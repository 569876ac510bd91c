#include "lodecast/run/ore_argument.h"

#include "lodecast/formats/block_registry.h"
#include "lodecast/pipeline/output.h"
#include "lodecast/run/number.h"
#include "lodecast/storage/section_blocks.h"

#include <string>

namespace {

bool read_block_name(const char *world, const char *arg, int32_t *id) {
    block_registry registry;
    if (!registry.load(world)) {
        out_printf("Ore ID has to be a number (the world's level.dat lists no block names)\n");
        return false;
    }
    const int found = registry.id_of(arg);
    if (found >= 0 && found <= max_sectioned_id) {
        *id = found;
        return true;
    }
    std::string list;
    for (const std::string &name : registry.close_matches(arg)) {
        list += (list.empty() ? "" : ", ") + shown(name);
    }
    out_printf("Unknown block name \"%s\" in this world%s%s\n", shown(arg).c_str(),
               list.empty() ? "" : " - close matches: ", list.c_str());
    return false;
}

} // namespace

bool read_ore_argument(const char *world, const char *arg, world_kind kind, int32_t *id) {
    const bool sectioned = kind == world_kind::sectioned;
    if (!parse_decimal(arg, id)) {
        if (sectioned) {
            return read_block_name(world, arg, id);
        }
        out_printf("Ore ID has to be a number\n");
        return false;
    }
    if (!sectioned) {
        *id %= 256; // truncating: -300 gives -44
        return true;
    }
    if (*id < 0 || *id > max_sectioned_id) {
        out_printf("Ore ID has to be a block id 0..%d or a block name in this world\n",
                   max_sectioned_id);
        return false;
    }
    return true;
}
