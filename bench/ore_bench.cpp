// Veins per second for Coal's defaults carved into a stone chunk.
#include "lodecast/ores/random.h"
#include "lodecast/ores/vein.h"
#include "lodecast/storage/flat_storage.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

// One iteration is one vein. Every 20 veins (one chunk's worth of Coal) the
// chunk goes back to solid stone, so most placements still find stone as
// they would in a real world; the 32 KiB copy is inside the timed loop and
// costs well under one vein per chunk.
void BM_CoalVein(benchmark::State &state) {
    std::vector<unsigned char> stone(32768, 1);
    std::vector<unsigned char> blocks = stone;
    std::vector<unsigned char> data(16384, 0);
    nbt_byte_array arr{32768, blocks.data()};
    nbt_byte_array dat{16384, data.data()};
    options opt{};
    opt.rounds = 20;
    opt.min_depth = 0;
    opt.max_depth = 128;
    opt.size = 16;
    const flat_storage kind;
    ore_plan coal;
    coal.block.id = 16;
    coal.opt = opt;
    const std::unique_ptr<prepared_ore> prepared = kind.prepare(coal);
    const std::unique_ptr<block_grid> grid = flat_grid(&arr, &dat);
    grid->begin(*prepared);
    ore_srand(12345);
    int round = 0;
    for (auto _ : state) {
        gen_ore(*grid, &opt);
        if (++round == opt.rounds) {
            round = 0;
            std::memcpy(blocks.data(), stone.data(), stone.size());
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    benchmark::DoNotOptimize(blocks.data());
}
BENCHMARK(BM_CoalVein);

} // namespace

BENCHMARK_MAIN();
