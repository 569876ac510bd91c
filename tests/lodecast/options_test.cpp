// Ore defaults applied over what the command line gave.
#include "lodecast/run/options.h"
#include "lodecast/run/ore_plan.h"
#include "lodecast/storage/flat_storage.h"
#include "lodecast/storage/paletted_storage.h"
#include "lodecast/storage/sectioned_storage.h"
#include "support/temp_dir.h"

#include <fstream>

#include <gtest/gtest.h>

#include <string>

namespace {

struct four {
    int rounds, min_depth, max_depth, size;
    bool operator==(const four &) const = default;
};

std::ostream &operator<<(std::ostream &os, const four &f) {
    return os << "{" << f.rounds << ", " << f.min_depth << ", " << f.max_depth << ", " << f.size
              << "}";
}

four fields(const options &opt) {
    return {opt.rounds, opt.min_depth, opt.max_depth, opt.size};
}

TEST(ApplyOreDefaults, EveryRowOfTheTable) {
    struct row {
        int ore_id;
        four want;
    };
    const row rows[] = {
        {16, {20, 0, 128, 16}}, // Coal
        {15, {20, 0, 64, 8}},   // Iron
        {14, {2, 0, 32, 8}},    // Gold
        {73, {8, 0, 16, 7}},    // Redstone
        {56, {1, 0, 16, 7}},    // Diamond
        {21, {1, 0, 32, 7}},    // Lapis
    };
    for (const row &r : rows) {
        options opt{};
        apply_ore_defaults(r.ore_id, &opt);
        EXPECT_EQ(fields(opt), r.want) << "ore " << r.ore_id;
        EXPECT_EQ(opt.set, 0u);
    }
}

TEST(ApplyOreDefaults, GivenOptionsWin) {
    struct row {
        int ore_id;
        uint32_t set;
        four given;
        four want;
    };
    const row rows[] = {
        {56, OPT_ROUNDS, {5, 0, 0, 0}, {5, 0, 16, 7}},
        {14, OPT_MAX_DEPTH | OPT_SIZE, {0, 0, 100, 3}, {2, 0, 100, 3}},
        {16, OPT_MIN_DEPTH, {0, 40, 0, 0}, {20, 40, 128, 16}},
        {15, OPT_ROUNDS | OPT_MIN_DEPTH | OPT_MAX_DEPTH | OPT_SIZE, {1, 2, 3, 4}, {1, 2, 3, 4}},
        // An unreadable -r leaves 0 behind its bit: no veins, not 20.
        {16, OPT_ROUNDS, {0, 0, 0, 0}, {0, 0, 128, 16}},
        // Bits that are not about the four fields change nothing.
        {73, OPT_VERBOSE | OPT_DATA | OPT_BBOX, {0, 0, 0, 0}, {8, 0, 16, 7}},
    };
    for (const row &r : rows) {
        options opt{};
        opt.set = r.set;
        opt.rounds = r.given.rounds;
        opt.min_depth = r.given.min_depth;
        opt.max_depth = r.given.max_depth;
        opt.size = r.given.size;
        apply_ore_defaults(r.ore_id, &opt);
        EXPECT_EQ(fields(opt), r.want) << "ore " << r.ore_id << " set " << r.set;
        EXPECT_EQ(opt.set, r.set);
    }
}

TEST(ApplyOreDefaults, UnknownIdLeavesTheParsedValues) {
    // -16 and 65552 share 16's low bits but are different numbers.
    for (int ore_id : {1, 0, -16, 255, -255, 65536 + 16}) {
        options opt{};
        apply_ore_defaults(ore_id, &opt);
        EXPECT_EQ(fields(opt), (four{0, 0, 0, 0})) << "ore " << ore_id;

        opt.set = OPT_SIZE;
        opt.size = 9;
        apply_ore_defaults(ore_id, &opt);
        EXPECT_EQ(fields(opt), (four{0, 0, 0, 9})) << "ore " << ore_id;
    }
}

TEST(ApplyOreDefaults, OtherFieldsUntouched) {
    options opt{};
    opt.set = OPT_DATA | OPT_MTIME;
    opt.c_time = 11;
    opt.m_time = 22;
    opt.x1 = -3;
    opt.y1 = -4;
    opt.x2 = 5;
    opt.y2 = 6;
    opt.data = 7;
    apply_ore_defaults(16, &opt);
    EXPECT_EQ(opt.c_time, 11u);
    EXPECT_EQ(opt.m_time, 22u);
    EXPECT_EQ(opt.x1, -3);
    EXPECT_EQ(opt.y1, -4);
    EXPECT_EQ(opt.x2, 5);
    EXPECT_EQ(opt.y2, 6);
    EXPECT_EQ(opt.data, 7);
}

TEST(OrePlan, ListsAndProfilesGiveEachOreItsDefaultsAndLineOptions) {
    TempDir dir;
    std::ofstream(dir.file("p")) << "# dirt first\n3 -r 20 -mx 127 -s 32\n\nlapis -s 6 # smaller\n";
    std::ofstream(dir.file("bad")) << "Coal\n16 -j 4\n";
    std::ofstream(dir.file("biome")) << "Coal -biome badlands\n";
    options base{};
    base.set = OPT_VERBOSE | OPT_ROUNDS;
    base.rounds = 2; // -r 2 on the command line
    const flat_storage flat;
    const sectioned_storage sectioned(std::string(LODECAST_TEST_DATA) + "/worlds/anvil");
    struct Case {
        std::string arg;
        const storage_kind &kind;
        std::vector<std::pair<int, four>> want; // empty: refused
        std::string error;
    } cases[] = {
        {"16,Gold", flat, {{16, {2, 0, 128, 16}}, {14, {2, 0, 32, 8}}}, ""},
        {"@" + dir.file("p"), flat, {{3, {20, 0, 127, 32}}, {21, {2, 0, 32, 6}}}, ""},
        // An ore is read the same way alone, in a list and in a profile.
        {"Diamond", flat, {{56, {2, 0, 16, 7}}}, ""},
        {"iceandfire:silver_ore,16", sectioned, {{1064, {2, 0, 0, 0}}, {16, {2, 0, 128, 16}}}, ""},
        {"16,mithril", flat, {}, "not an ore id or name: mithril"},
        {"mithril", flat, {}, "Ore ID has to be a number"},
        {"16,iceandfire:silvr_ore", sectioned, {}, "Unknown block name \"iceandfire:silvr_ore\""},
        {"@" + dir.file("bad"), flat, {}, dir.file("bad") + " line 2: only -r -mn -mx"},
        {"@" + dir.file("none"), flat, {}, "cannot read the profile " + dir.file("none")},
        {"@" + dir.file("biome"), flat, {}, dir.file("biome") + " line 1: -biome needs"},
    };
    for (const Case &c : cases) {
        std::vector<ore_plan> plan;
        std::string error;
        EXPECT_EQ(read_ore_plan(c.arg, base, c.kind, plan, error), c.want.size() > 0) << c.arg;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
        ASSERT_EQ(plan.size(), c.want.empty() ? plan.size() : c.want.size()) << c.arg;
        for (size_t i = 0; i < c.want.size(); ++i) {
            EXPECT_EQ(plan[i].block.id, c.want[i].first) << c.arg;
            EXPECT_EQ(fields(plan[i].opt), c.want[i].second) << c.arg << " ore " << i;
            EXPECT_TRUE(plan[i].opt.set & OPT_VERBOSE); // the run's options stay
        }
    }
    // Reports name a mod's ore as the world's registry does, by id or by name.
    for (const auto &[word, label] : {std::pair{"1064", "iceandfire:silver_ore"},
                                      {"iceandfire:silver_ore", "iceandfire:silver_ore"},
                                      {"16", "Coal"},
                                      {"4000", "4000"}}) {
        std::vector<ore_plan> plan;
        std::string error;
        ASSERT_TRUE(read_ore_plan(word, base, sectioned, plan, error)) << error;
        EXPECT_EQ(plan[0].block.label, label);
    }
}

// A line's distribution options reach its ore alone; its biomes are kept
// namespaced after its words are gone.
TEST(OrePlan, ProfileLinesCarryTheirDistributions) {
    TempDir dir;
    std::ofstream(dir.file("p")) << "coal_ore -tri -air 0.5 -every 9 -biome badlands,x:y\n"
                                    "iron_ore -saved-before 2724\n";
    options base{};
    base.set = OPT_SPREAD;
    const paletted_storage kind;
    std::vector<ore_plan> plan;
    std::string error;
    ASSERT_TRUE(read_ore_plan("@" + dir.file("p"), base, kind, plan, error)) << error;
    ASSERT_EQ(plan.size(), 2u);
    EXPECT_EQ(plan[0].opt.set, OPT_SPREAD | OPT_TRIANGLE | OPT_AIR | OPT_EVERY | OPT_BIOME);
    EXPECT_EQ(plan[0].opt.air_chance, 0.5);
    EXPECT_EQ(plan[0].opt.every, 9);
    EXPECT_EQ(plan[0].biomes, (std::vector<std::string>{"minecraft:badlands", "x:y"}));
    EXPECT_EQ(plan[1].opt.set, OPT_SPREAD | OPT_SAVED_BEFORE);
    EXPECT_EQ(plan[1].opt.saved_before, 2724);
    EXPECT_TRUE(plan[1].biomes.empty());
}

} // namespace
