#include "lodecast/run/program.h"

#include "lodecast/formats/world_kind.h"
#include "lodecast/ores/random.h"
#include "lodecast/pipeline/output.h"
#include "lodecast/pipeline/world_update.h"
#include "lodecast/run/cli.h"
#include "lodecast/run/options.h"
#include "lodecast/run/ore_plan.h"
#include "lodecast/storage/block.h"

#include <cstdint>
#include <cstdio>
#include <ctime>

int run_lodecast(int argc, char **argv) {
    // The whole record is cleared, not only set: the walk reads only fields
    // whose bit is set, but cleared fields keep every read well defined.
    options opt{};
    opt.set = 0;

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
    // Only a level.dat tells the storage kind, so the dimension does not
    // matter here; a world lodecast cannot update is refused by the walk,
    // whatever the ore.
    const std::unique_ptr<storage_kind> storage =
        make_storage_kind(identify_world(argv[1], argv[1]), argv[1]);
    parse_options(argc, argv, &opt, storage ? storage->height_modulus() : chunk_height);
    std::vector<ore_plan> ores;
    if (storage) {
        storage->take_options(opt);
        std::string error;
        if (!read_ore_plan(argv[2], opt, *storage, ores, error)) {
            out_printf("%s\n", shown(error).c_str());
            return 1;
        }
    }
    if ((opt.set & OPT_RECORD) && ores.size() > 1) {
        // The record says which ore a chunk has; a chunk with some of a
        // run's ores but not others would have to be split up.
        out_printf("-record takes one ore per run - nothing changed\n");
        return 1;
    }
    if (opt.set & OPT_SEED) {
        ore_srand(opt.seed); // -seed: a reproducible run
    }
    return update_world(argv[1], opt, ores);
}
