// Vein tracing: draws, extents, start point, steps, clamping and messages.
#include "lodecast/ores/random.h"
#include "lodecast/ores/vein.h"
#include "ore_fixtures.h"

#include "support/run.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using coords = std::array<int, 3>; // x, y, z

options vein_options(int size, int min_depth, int max_depth, uint32_t set = OPT_VERY_VERBOSE) {
    options opt{};
    opt.set = set;
    opt.size = size;
    opt.min_depth = min_depth;
    opt.max_depth = max_depth;
    return opt;
}

// The coordinates of every "Added block" line, in order.
std::vector<coords> added_blocks(const std::string &err) {
    std::vector<coords> out;
    for (const std::string &line : lines_of(err)) {
        coords c{};
        if (std::sscanf(line.c_str(), "Added block at %d,%d,%d", &c[0], &c[1], &c[2]) == 3) {
            out.push_back(c);
        }
    }
    return out;
}

// Runs one vein on chunk with the given draws, of which it must take
// used; returns what it printed.
std::string run_vein(test_chunk &chunk, int ore_id, const options &opt, std::vector<int> draws,
                     size_t used = 6) {
    scripted_draws script(std::move(draws));
    testing::internal::CaptureStderr();
    carve_flat(&chunk.arr, &chunk.dat, ore_id, opt);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(script.used(), used);
    return err;
}

// The line that reports the start point.
std::string position_line(const std::string &err) {
    for (const std::string &line : lines_of(err)) {
        if (line.rfind("Selected initial position: ", 0) == 0) {
            return line;
        }
    }
    return "";
}

TEST(GenOre, SmallVeinThroughStone) {
    test_chunk chunk(1);
    const std::string err =
        run_vein(chunk, 16, vein_options(8, 0, 64), {1000, 2000, 0, 5000, 12345, 20000});
    EXPECT_EQ(err, "Selected scale: 0.500000, 0.750000, 0.250000\n"
                   "Selected length: 0.500000, 1.875000, 0.250000\n"
                   "Selected initial position: 5.000000, 22.000000, 12.345000\n"
                   "Added block at 5,22,12\n"
                   "Added block at 5,23,12\n"
                   "Added block at 5,24,12\n");
    test_chunk want(1);
    want.block(5, 22, 12) = 16;
    want.block(5, 23, 12) = 16;
    want.block(5, 24, 12) = 16;
    EXPECT_EQ(chunk.blocks, want.blocks);
}

// With ore id 1 over stone every call places and prints, so the messages
// list all 128 calls in order: 16 steps of 8.
TEST(GenOre, SmallVeinMakesEightCallsPerStep) {
    test_chunk chunk(1);
    const std::vector<coords> calls = added_blocks(
        run_vein(chunk, 1, vein_options(8, 0, 64), {1000, 2000, 0, 5000, 12345, 20000}));
    ASSERT_EQ(calls.size(), 128u);
    const coords low{5, 22, 12}, mid{5, 23, 12}, high{5, 24, 12};
    for (size_t i = 0; i < calls.size(); ++i) {
        const coords &c = calls[i];
        EXPECT_TRUE(c == low || c == mid || c == high) << "call " << i;
    }
    // First touches: step 0, step 7 through typ (third call), step 15.
    auto first = [&](const coords &c) {
        for (size_t i = 0; i < calls.size(); ++i) {
            if (calls[i] == c) {
                return static_cast<int>(i);
            }
        }
        return -1;
    };
    EXPECT_EQ(first(low), 0);
    EXPECT_EQ(first(mid), 7 * 8 + 2);
    EXPECT_EQ(first(high), 15 * 8 + 2);
}

TEST(GenOre, HighestStartOfACoalVein) {
    test_chunk chunk(1);
    const std::string err =
        run_vein(chunk, 16, vein_options(16, 0, 128), {2999, 2999, 2999, 32767, 32767, 32767});
    EXPECT_EQ(position_line(err), "Selected initial position: 4.765000, 34.766998, 4.765000");
}

TEST(GenOre, StartHeightSpreads) {
    struct row {
        int min_depth, max_depth, draw;
        const char *line;
    };
    const row rows[] = {
        {0, 128, 0, "Selected initial position: 0.000000, 2.000000, 0.000000"},
        {0, 64, 32767, "Selected initial position: 0.000000, 34.766998, 0.000000"},
        {0, 32, 31999, "Selected initial position: 0.000000, 33.999001, 0.000000"},
        {0, 32, 32000, "Selected initial position: 0.000000, 2.000000, 0.000000"},
        {0, 16, 15999, "Selected initial position: 0.000000, 17.999001, 0.000000"},
        // A reversed range: the remainder keeps the draw's sign.
        {40, 20, 25000, "Selected initial position: 0.000000, 47.000000, 0.000000"},
        // An empty range starts at its low end.
        {10, 10, 31000, "Selected initial position: 0.000000, 12.000000, 0.000000"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(std::to_string(r.min_depth) + ".." + std::to_string(r.max_depth));
        test_chunk chunk(1);
        const std::string err =
            run_vein(chunk, 16, vein_options(7, r.min_depth, r.max_depth), {0, 0, 0, 0, 0, r.draw});
        EXPECT_EQ(position_line(err), r.line);
    }
}

TEST(GenOre, EmptyHeightRangeStillPlacesAVein) {
    test_chunk chunk(1);
    const std::vector<coords> calls =
        added_blocks(run_vein(chunk, 1, vein_options(1, 10, 10), {0, 0, 0, 0, 0, 12345}));
    // Size 1, scales 0.25: y extent 0.515625 over 2 steps from 12.0, so
    // every point stays in layer 12.
    ASSERT_EQ(calls.size(), 16u);
    for (const coords &c : calls) {
        EXPECT_EQ(c, (coords{0, 12, 0}));
    }
}

TEST(GenOre, SixDrawsWhateverTheSize) {
    for (int size : {-63, -1, 0, 1, 7, 16, 63}) {
        for (int max_depth : {0, 16, 128}) {
            SCOPED_TRACE("size " + std::to_string(size) + " max " + std::to_string(max_depth));
            test_chunk chunk(1);
            const options opt = vein_options(size, 0, max_depth, 0);
            scripted_draws script({111, 2222, 2999, 15000, 7, 32767, 9, 9});
            carve_flat(&chunk.arr, &chunk.dat, 16, opt);
            EXPECT_EQ(script.used(), 6u);
        }
    }
}

TEST(GenOre, SeededSequenceAdvancesBySixPerVein) {
    ore_srand(42);
    std::vector<int> fresh;
    for (int i = 0; i < 13; ++i) {
        fresh.push_back(ore_rand());
    }
    for (int size : {0, 16}) {
        test_chunk chunk(1);
        const options opt = vein_options(size, 0, 128, 0);
        ore_srand(42);
        carve_flat(&chunk.arr, &chunk.dat, 16, opt);
        carve_flat(&chunk.arr, &chunk.dat, 16, opt);
        EXPECT_EQ(ore_rand(), fresh[12]) << "size " << size;
    }
}

TEST(GenOre, NoStepsForSizeZeroOrBelow) {
    for (int size : {0, -1, -63}) {
        SCOPED_TRACE(size);
        test_chunk chunk(1);
        const std::string err =
            run_vein(chunk, 16, vein_options(size, 0, 64), {1000, 2000, 0, 5000, 12345, 20000});
        const std::vector<std::string> lines = lines_of(err);
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0].rfind("Selected scale: ", 0), 0u);
        EXPECT_EQ(lines[1].rfind("Selected length: ", 0), 0u);
        EXPECT_EQ(lines[2].rfind("Selected initial position: ", 0), 0u);
        EXPECT_EQ(chunk.blocks, std::vector<unsigned char>(32768, 1));
    }
}

TEST(GenOre, NegativeSizeMessages) {
    test_chunk chunk(1);
    const std::string err =
        run_vein(chunk, 16, vein_options(-8, 0, 64), {1000, 2000, 0, 5000, 12345, 20000});
    // Negative extents widen the x and z moduli: 16000 + 500, 16000 + 250.
    EXPECT_EQ(err, "Selected scale: 0.500000, 0.750000, 0.250000\n"
                   "Selected length: -0.500000, 1.125000, -0.250000\n"
                   "Selected initial position: 5.000000, 22.000000, 12.345000\n");
}

TEST(GenOre, CallsPerSize) {
    for (int size : {1, 16}) {
        test_chunk chunk(1);
        const std::vector<coords> calls = added_blocks(
            run_vein(chunk, 1, vein_options(size, 0, 64), {1500, 1500, 1500, 4000, 4000, 4000}));
        EXPECT_EQ(calls.size(), 16u * size) << "size " << size;
    }
}

TEST(GenOre, QuietWithoutVeryVerbose) {
    test_chunk chunk(1);
    const std::string err = run_vein(chunk, 16, vein_options(8, 0, 64, OPT_VERBOSE),
                                     {1000, 2000, 0, 5000, 12345, 20000});
    EXPECT_EQ(err, "");
    EXPECT_EQ(chunk.block(5, 23, 12), 16);
}

TEST(GenOre, ClampsIntoTheChunk) {
    struct row {
        const char *what;
        int min_depth, max_depth;
        std::vector<int> draws;
        coords lowest, highest;
    };
    // Size 1 with scales 0.25: x and z extents 0.03125, y extent 0.515625.
    const row rows[] = {
        // Below the floor: the start height -48 becomes 0.
        {"below", -50, -40, {0, 0, 0, 0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
        // Above the top: 120 + 6.999 + 2 = 128.999 becomes 127.
        {"above", 120, 127, {0, 0, 0, 0, 0, 6999}, {0, 127, 0}, {0, 127, 0}},
        // x and z start at 15.968: the fuzzed point 16.218 becomes 15.
        {"far side", 0, 64, {0, 0, 0, 15968, 15968, 0}, {15, 2, 15}, {15, 2, 15}},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        test_chunk chunk(1);
        const std::vector<coords> calls =
            added_blocks(run_vein(chunk, 1, vein_options(1, r.min_depth, r.max_depth), r.draws));
        ASSERT_EQ(calls.size(), 16u);
        for (const coords &c : calls) {
            for (int axis = 0; axis < 3; ++axis) {
                EXPECT_GE(c[axis], r.lowest[axis]);
                EXPECT_LE(c[axis], r.highest[axis]);
            }
        }
    }
}

TEST(GenOre, WritesTheDataValue) {
    test_chunk chunk(1, 0x00);
    options opt = vein_options(8, 0, 64, OPT_DATA);
    opt.data = 9;
    run_vein(chunk, 16, opt, {1000, 2000, 0, 5000, 12345, 20000});
    // y 22 and 24 are even (low nibbles), 23 odd (high nibble of 22's byte).
    EXPECT_EQ(chunk.data[((5 * 16 + 12) * 128 + 22) / 2], 0x99);
    EXPECT_EQ(chunk.data[((5 * 16 + 12) * 128 + 24) / 2], 0x09);
}

// Coal veins whose points fall close to block boundaries: with the step
// sums formed in float instead of double, the first would also take
// (10,25,0), the second (12,10,3), and the third would miss (4,10,2). One
// vein per axis.
TEST(GenOre, StepSumsAreFormedInDouble) {
    struct row {
        std::vector<int> draws;
        std::set<coords> blocks;
    };
    const row rows[] = {
        {{23208, 3075, 22301, 9349, 30390, 22855},
         {{9, 24, 0},
          {9, 24, 1},
          {9, 25, 0},
          {9, 25, 1},
          {10, 25, 1},
          {10, 25, 2},
          {11, 25, 1},
          {11, 25, 2}}},
        {{27168, 1688, 1227, 11773, 31893, 5797},
         {{11, 7, 2}, {11, 8, 2}, {12, 7, 2}, {12, 8, 2}, {12, 8, 3}, {12, 9, 2}, {12, 9, 3}}},
        {{1740, 17578, 26680, 18681, 30630, 6761},
         {{4, 8, 2},
          {4, 9, 2},
          {4, 9, 3},
          {4, 10, 2},
          {4, 10, 3},
          {5, 10, 3},
          {5, 10, 4},
          {5, 11, 3},
          {5, 11, 4}}},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.draws[0]);
        test_chunk chunk(1);
        run_vein(chunk, 16, vein_options(16, 0, 128, 0), r.draws);
        std::set<coords> placed;
        for (int x = 0; x < 16; ++x) {
            for (int y = 0; y < 128; ++y) {
                for (int z = 0; z < 16; ++z) {
                    if (chunk.block(x, y, z) == 16) {
                        placed.insert({x, y, z});
                    }
                }
            }
        }
        EXPECT_EQ(placed, r.blocks);
    }
}

// -spread and -tri: one draw while the range in thousandths fits in 15
// bits (32 blocks), two beyond; the range's top layer is included.
TEST(GenOre, WholeRangeStartHeights) {
    struct row {
        uint32_t set;
        int min_depth, max_depth;
        std::vector<int> y_draws;
        const char *y;
    };
    const row rows[] = {
        {OPT_SPREAD, 10, 10, {32767}, "10.999000"},
        {OPT_SPREAD, 10, 10, {0}, "10.000000"},
        {OPT_SPREAD, 0, 31, {32767}, "31.999001"},
        {OPT_SPREAD, 0, 31, {16384}, "16.000000"},
        {OPT_SPREAD, 0, 32, {32767, 32767}, "32.999001"},
        {OPT_SPREAD, 0, 32, {16384, 0}, "16.500000"},
        {OPT_SPREAD, -64, 319, {32767, 32767}, "319.998993"},
        {OPT_SPREAD, -64, 319, {0, 0}, "-64.000000"},
        {OPT_SPREAD, 40, 20, {}, "40.000000"}, // a reversed range: its low end
        {OPT_TRIANGLE, 0, 63, {32767, 32767}, "63.998001"},
        {OPT_TRIANGLE, 0, 63, {0, 32767}, "31.999001"},
        {OPT_TRIANGLE | OPT_SPREAD, -144, 15, {0, 0, 0, 0}, "-144.000000"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(std::to_string(r.min_depth) + ".." + std::to_string(r.max_depth));
        std::vector<int> draws = {0, 0, 0, 0, 0};
        draws.insert(draws.end(), r.y_draws.begin(), r.y_draws.end());
        test_chunk chunk(1);
        const std::string err =
            run_vein(chunk, 16, vein_options(0, r.min_depth, r.max_depth, OPT_VERY_VERBOSE | r.set),
                     draws, draws.size());
        EXPECT_EQ(position_line(err),
                  std::string("Selected initial position: 0.000000, ") + r.y + ", 0.000000");
    }
}

// Over many seeded veins of one block's height: -spread is flat over the
// range, -tri a symmetric triangle (a fifth of it within the lowest
// tenth's twice: 2% there, 36% in the middle fifth).
TEST(GenOre, WholeRangeDistributions) {
    struct row {
        uint32_t set;
        int low, high; // heights 0..99 of the range 0..99
        double share;
    };
    const row rows[] = {
        {OPT_SPREAD, 0, 9, 0.10},     {OPT_SPREAD, 90, 99, 0.10},   {OPT_SPREAD, 0, 49, 0.50},
        {OPT_TRIANGLE, 0, 9, 0.02},   {OPT_TRIANGLE, 90, 99, 0.02}, {OPT_TRIANGLE, 0, 49, 0.50},
        {OPT_TRIANGLE, 40, 59, 0.36},
    };
    for (const row &r : rows) {
        placement_count placed;
        ore_srand(5);
        for (int i = 0; i < 40000; ++i) {
            test_chunk chunk(1);
            carve_flat(&chunk.arr, &chunk.dat, 1, vein_options(1, 0, 99, r.set), &placed);
        }
        uint64_t in = 0;
        for (int y = r.low; y <= r.high; ++y) {
            in += placed.per_y[static_cast<size_t>(y)];
        }
        EXPECT_NEAR(static_cast<double>(in) / static_cast<double>(placed.total), r.share, 0.01)
            << r.set << " " << r.low << ".." << r.high;
    }
}

// Whole-range veins lose what lies beyond the chunk's heights; the older
// rule clamps it into the bottom layer.
TEST(GenOre, WholeRangeVeinsLoseBlocksBeyondTheChunk) {
    for (const uint32_t set : {0u, uint32_t{OPT_SPREAD}}) {
        test_chunk chunk(1);
        const std::vector<coords> calls = added_blocks(run_vein(
            chunk, 1, vein_options(1, -50, -40, OPT_VERY_VERBOSE | set), {0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(calls.size(), set == 0 ? 16u : 0u) << set;
    }
}

// A grid of stone whose air blocks a test lists, heights -64..319.
class air_grid : public block_grid {
  public:
    explicit air_grid(std::set<coords> air) : air_(std::move(air)) {}
    int bottom() const override { return -64; }
    int top() const override { return 319; }
    bool finished() const override { return true; }
    bool begin(const prepared_ore &) override { return true; }
    bool place(int, int, int) override { return true; }
    bool air(int x, int y, int z) override { return air_.count({x, y, z}) > 0; }
    bool biome(int, int, int, std::string &name) override { return !(name = "x:river").empty(); }
    chunk_status finish() override { return chunk_status::ok; }

  private:
    std::set<coords> air_;
};

TEST(GenOre, AirNeighboursInsideTheChunkOnly) {
    struct row {
        coords block;
        std::set<coords> air;
        bool touches;
    };
    const row rows[] = {
        {{5, 15, 5}, {{5, 16, 5}}, true}, // across a section border
        {{5, 16, 5}, {{5, 15, 5}}, true},
        {{5, 15, 5}, {{6, 16, 5}}, false},            // diagonal
        {{0, 7, 0}, {{-1, 7, 0}, {0, 7, -1}}, false}, // beside the chunk
        {{15, 7, 15}, {{15, 7, 14}}, true},
        {{3, -64, 3}, {{3, -65, 3}}, false}, // below the bottom, above the top
        {{3, 319, 3}, {{3, 320, 3}}, false},
        {{3, 319, 3}, {{3, 318, 3}}, true},
    };
    for (const row &r : rows) {
        air_grid grid(r.air);
        EXPECT_EQ(touches_air(grid, r.block[0], r.block[1], r.block[2]), r.touches)
            << r.block[0] << "," << r.block[1] << "," << r.block[2];
    }
}

// The small vein of SmallVeinThroughStone (5,22..24,12) beside an air
// block at (6,23,12): one draw for (5,23,12), however often the vein
// reaches it, skips it when below chance x 32768.
TEST(GenOre, AirSkipIsDrawnOncePerBlock) {
    struct row {
        double chance;
        int draw;
        size_t used;
        bool placed;
    };
    const row rows[] = {
        {0, 0, 6, true}, {0.5, 16383, 7, false}, {0.5, 16384, 7, true}, {1, 32767, 7, false}};
    for (const row &r : rows) {
        test_chunk chunk(1);
        chunk.block(6, 23, 12) = 0;
        options opt = vein_options(8, 0, 64, OPT_AIR);
        opt.air_chance = r.chance;
        run_vein(chunk, 16, opt, {1000, 2000, 0, 5000, 12345, 20000, r.draw}, r.used);
        EXPECT_EQ(chunk.block(5, 23, 12) == 16, r.placed) << r.chance << " " << r.draw;
        EXPECT_EQ(chunk.block(5, 22, 12), 16);
        EXPECT_EQ(chunk.block(5, 24, 12), 16);
    }
}

// A vein stops after its draws where the biome at its start is not listed.
TEST(GenOre, BiomeAtTheStart) {
    for (const std::string biome : {"x:river", "x:beach"}) {
        air_grid grid({});
        placement_count placed;
        scripted_draws script({1000, 2000, 0, 5000, 12345, 20000});
        const std::vector<std::string> biomes = {"x:lake", biome};
        const options opt = vein_options(8, 0, 64, 0);
        gen_ore(grid, &opt, &placed, &biomes);
        EXPECT_EQ(script.used(), 6u);
        EXPECT_EQ(placed.total, biome == "x:river" ? 128u : 0u) << biome; // 16 steps of 8
    }
}

TEST(GenOre, EveryNChunksDrawsOnce) {
    struct row {
        uint32_t set;
        int every, draw;
        size_t used;
        bool happens;
    };
    const row rows[] = {{0, 9, 32767, 0, true},         {OPT_EVERY, 1, 32767, 0, true},
                        {OPT_EVERY, 9, 3640, 1, true},  {OPT_EVERY, 9, 3641, 1, false},
                        {OPT_EVERY, 2, 16383, 1, true}, {OPT_EVERY, 2, 16384, 1, false}};
    for (const row &r : rows) {
        options opt = vein_options(8, 0, 64, r.set);
        opt.every = r.every;
        scripted_draws script({r.draw});
        EXPECT_EQ(round_happens(&opt), r.happens) << r.every << " " << r.draw;
        EXPECT_EQ(script.used(), r.used);
    }
}

TEST(GenOre, SameSeedSameChunk) {
    auto carve = [](uint32_t seed, test_chunk &chunk) {
        const options opt = vein_options(16, 0, 128, 0);
        ore_srand(seed);
        for (int round = 0; round < 20; ++round) {
            carve_flat(&chunk.arr, &chunk.dat, 16, opt);
        }
    };
    test_chunk a(1), b(1), c(1);
    carve(7, a);
    carve(7, b);
    carve(8, c);
    EXPECT_EQ(a.blocks, b.blocks);
    EXPECT_NE(a.blocks, c.blocks);
    EXPECT_NE(a.blocks, std::vector<unsigned char>(32768, 1));
}

} // namespace
