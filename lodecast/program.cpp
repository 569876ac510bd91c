#include "lodecast/program.h"

#include "lodecast/cli.h"
#include "lodecast/number.h"
#include "lodecast/options.h"
#include "lodecast/ore_plan.h"
#include "lodecast/output.h"
#include "lodecast/random.h"
#include "lodecast/world_update.h"

#include <cstdint>
#include <cstdio>
#include <ctime>

namespace {

// Several ores in one pass: a list of ores or a profile as the ore argument.
int run_ore_plan(int argc, char **argv, options opt) {
    parse_options(argc, argv, &opt);
    if (opt.set & OPT_SEED) {
        ore_srand(opt.seed);
    }
    std::vector<ore_pass> passes;
    std::string error;
    if (!read_ore_plan(argv[2], opt, passes, error)) {
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
    if (is_ore_plan(argv[2])) {
        return run_ore_plan(argc, argv, opt);
    }
    if (!parse_decimal(argv[2], &ore_id)) {
        out_printf("Ore ID has to be a number\n");
        return 1;
    }
    ore_id %= 256; // truncating: -300 gives -44

    parse_options(argc, argv, &opt);
    if (opt.set & OPT_SEED) {
        ore_srand(opt.seed); // -seed: a reproducible run
    }
    apply_ore_defaults(ore_id, &opt);
    return update_world(argv[1], static_cast<int16_t>(ore_id), &opt);
}
