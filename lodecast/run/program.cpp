#include "lodecast/run/program.h"

#include "lodecast/formats/world_kind.h"
#include "lodecast/ores/random.h"
#include "lodecast/pipeline/output.h"
#include "lodecast/pipeline/world_update.h"
#include "lodecast/run/cli.h"
#include "lodecast/run/options.h"
#include "lodecast/run/ore_argument.h"
#include "lodecast/run/ore_plan.h"
#include "lodecast/storage/block.h"
#include "lodecast/storage/section_blocks.h"

#include <cstdint>
#include <cstdio>
#include <ctime>

namespace {

// Several ores in one pass: a list of ores or a profile as the ore argument.
int run_ore_plan(int argc, char **argv, options opt, bool sectioned) {
    parse_options(argc, argv, &opt, sectioned ? sectioned_height : chunk_height);
    if (opt.set & OPT_SEED) {
        ore_srand(opt.seed);
    }
    std::vector<ore_pass> passes;
    std::string error;
    if (!read_ore_plan(argv[2], opt, passes, error, sectioned)) {
        out_printf("%s\n", shown(error).c_str());
        return 1;
    }
    if ((opt.set & OPT_RECORD) && passes.size() > 1) {
        // The record says which ore a chunk has; a chunk with some of a
        // run's ores but not others would have to be split up.
        out_printf("-record takes one ore per run - nothing changed\n");
        return 1;
    }
    const std::vector<ore_pass> also(passes.begin() + 1, passes.end());
    return update_world(argv[1], passes[0].ore_id, &passes[0].opt, run_durability(), also);
}

} // namespace

int run_lodecast(int argc, char **argv) {
    // The whole record is cleared, not only set: the walk reads only fields
    // whose bit is set, but cleared fields keep every read well defined.
    options opt{};
    opt.set = 0;
    int32_t ore_id = -1;

    // Seeded on every run before the arguments are looked at, so a usage
    // error still consumes the same start-up steps.
    const auto clock_seed = static_cast<uint32_t>(std::time(nullptr));
    ore_srand(clock_seed);
    opt.threads = default_threads();
    opt.seed = clock_seed;

    if (argc < 3) {
        print_usage(argc > 0 && argv[0] != nullptr ? argv[0] : "lodecast");
        return 1;
    }
    // Only a level.dat makes a world sectioned, so the dimension does not
    // matter here; a paletted world, or one whose level.dat cannot be read,
    // is refused by the walk, whatever the ore.
    const world_kind kind = identify_world(argv[1], argv[1]);
    const bool refused = kind == world_kind::paletted || kind == world_kind::unreadable_level;
    if (is_ore_plan(argv[2])) {
        return run_ore_plan(argc, argv, opt, kind == world_kind::sectioned);
    }
    if (!refused && !read_ore_argument(argv[1], argv[2], kind, &ore_id)) {
        return 1;
    }

    const bool sectioned = kind == world_kind::sectioned;
    parse_options(argc, argv, &opt, sectioned ? sectioned_height : chunk_height);
    if (opt.set & OPT_SEED) {
        ore_srand(opt.seed); // -seed: a reproducible run
    }
    apply_ore_defaults(ore_id, &opt);
    return update_world(argv[1], static_cast<int16_t>(ore_id), &opt);
}
