#include "lodecast/program.h"

#include "lodecast/block.h"
#include "lodecast/cli.h"
#include "lodecast/options.h"
#include "lodecast/ore_argument.h"
#include "lodecast/output.h"
#include "lodecast/random.h"
#include "lodecast/section_blocks.h"
#include "lodecast/world_kind.h"
#include "lodecast/world_update.h"

#include <cstdint>
#include <cstdio>
#include <ctime>

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
    // matter here; a paletted world is refused by the walk, whatever the ore.
    const world_kind kind = identify_world(argv[1], argv[1]);
    if (kind != world_kind::paletted && !read_ore_argument(argv[1], argv[2], kind, &ore_id)) {
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
