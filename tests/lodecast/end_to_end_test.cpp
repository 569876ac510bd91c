// The program as a whole: usage, ore id, option handling as seen in its
// output, and runs on generated worlds.
#include "lodecast/formats/region_file.h"
#include "lodecast/formats/world_kind.h"
#include "lodecast/storage/paletted_chunk.h"
#include "lodecast/version.h"
#include "nbt/nbt.hpp"
#include "support/child_run.h"
#include "support/nbt_tree_equal.h"
#include "support/region_chunks.h"
#include "support/temp_dir.h"
#include "support/world_check.h"
#include "world_builder.h"

#include "lodecast/storage/block.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <map>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

#ifdef LODECAST_EXE

namespace {

using namespace world_test;

const std::string kUsageTail =
    " <world dir> <ore_id> [options]\n"
    "Ore IDs:\n"
    "    16 = Coal, 15 = Iron, 14 = Gold, 73 = Redstone, 56 = Diamond, 21 = Lapis\n"
    "Options:\n"
    "    -r <num>    : Number of rounds ore is generated per chunk\n"
    "    -mn <num>   : Minimum depth ore is generated (0-127)\n"
    "    -mx <num>   : Maximum depth ore is generated (0-127)\n"
    "    -s <num>    : Size of ore deposit (0-63) -- Defaults:\n"
    "                  Coal = 16, Iron/Gold = 8, Redstone/Diamond/Lapis = 7\n"
    "    -mb <time>  : Only update chunks modified before time (as unix timestamp)\n"
    "    -ma <time>  : Only update chunks modified after time (as unix timestamp)\n"
    "    -oo         : Take precedence over all existing ores\n"
    "    -ob         : Take precedence over all existing blocks (excluding air)\n"
    "    -oa         : Take precedence over all existing blocks (including air)\n"
    "    -bb <x1> <y1> <x2> <y2>\n"
    "                : Only update chunks with coordinates bounded by the rectangle\n"
    "                  by (x1, y1) and (x2, y2), given as decimal chunk coordinates\n"
    "    -d <num>    : Set block-specific data values (0-15)\n"
    "    -v          : Verbose output\n"
    "    -vv         : Very verbose output\n";

TEST(Program, TooFewArgumentsPrintTheUsage) {
    TempDir dir;
    const std::string chunk = put_chunk(dir.path(), "0/0/c.0.0.dat", 0, 0);
    const Bytes before = read_file(chunk);
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{}, std::vector<std::string>{dir.path().string()}}) {
        RunResult r = run_tool(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "Usage: " + std::string(LODECAST_EXE) + kUsageTail);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(read_file(chunk), before);
}

TEST(Program, OreIdMustStartWithANumber) {
    TempDir dir;
    for (const char *id : {"abc", "", "  ", "-", "x16", "- 1"}) {
        RunResult r = run_tool({dir.path().string(), id, "-v"});
        EXPECT_EQ(r.status, 1) << '"' << id << '"';
        EXPECT_EQ(r.err, "Ore ID has to be a number\n") << '"' << id << '"';
        EXPECT_EQ(r.out, "");
    }
}

// The header line of a -vv chunk update shows the ore id and the values
// the run ended with.
std::string header_for(const std::vector<std::string> &args) {
    TempDir dir;
    put_chunk(dir.path(), "0/0/c.0.0.dat", 0, 0);
    std::vector<std::string> full = {dir.path().string()};
    full.insert(full.end(), args.begin(), args.end());
    full.push_back("-vv");
    RunResult r = run_tool(full);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    for (const std::string &line : lines_of(r.err)) {
        if (line.rfind("Generating ", 0) == 0 && line.find("(rounds") != std::string::npos) {
            return line;
        }
    }
    return "(no header)";
}

TEST(Program, OreIdIsReducedAndGetsItsDefaults) {
    struct Case {
        std::vector<std::string> args;
        std::string header;
    };
    const Case cases[] = {
        {{"16"}, "Generating 16 (rounds 20, min 0, max 128, size 16)"},
        {{"16abc"}, "Generating 16 (rounds 20, min 0, max 128, size 16)"},
        {{" +272"}, "Generating 16 (rounds 20, min 0, max 128, size 16)"},
        {{"300"}, "Generating 44 (rounds 0, min 0, max 0, size 0)"},
        {{"-300"}, "Generating -44 (rounds 0, min 0, max 0, size 0)"},
        {{"-240"}, "Generating -240 (rounds 0, min 0, max 0, size 0)"},
        {{"256"}, "Generating 0 (rounds 0, min 0, max 0, size 0)"},
        {{"99999999999"}, "Generating 255 (rounds 0, min 0, max 0, size 0)"},
        {{"56", "-r", "5"}, "Generating 56 (rounds 5, min 0, max 16, size 7)"},
        {{"14", "-mx", "100", "-s", "3"}, "Generating 14 (rounds 2, min 0, max 100, size 3)"},
        {{"16", "-r", "abc"}, "Generating 16 (rounds 0, min 0, max 128, size 16)"},
        {{"16", "-mn", "130", "-mx", "200"}, "Generating 16 (rounds 20, min 2, max 72, size 16)"},
        {{"21", "-s", "100", "-r"}, "Generating 21 (rounds 0, min 0, max 32, size 36)"},
        {{"73", "-cb", "100", "-ca", "5"}, "Generating 73 (rounds 8, min 0, max 16, size 7)"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(header_for(c.args), c.header) << c.args[0];
    }
}

TEST(Program, ChunkWithoutVeinsIsWrittenBackWithTheSameBytes) {
    TempDir dir;
    const std::string path = dir.file("0/0/c.0.0.dat");
    fs::create_directories(dir.path() / "0/0");
    const Bytes doc = make_chunk_document(0, 0);
    write_file(path, doc); // plain: the rewrite compresses it
    RunResult r = run_tool({dir.path().string(), "1", "-vv"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Processing...\nUpdating chunk 0/0/c.0.0.dat...\n"
                     "Generating 1 (rounds 0, min 0, max 0, size 0)\nWorld updated\n");
    EXPECT_EQ(read_file(path).at(0), 0x1f);
    EXPECT_EQ(gunzip_file(path), doc);
}

TEST(Program, VeryVerboseWorldRunReportsEveryPlacedBlock) {
    // Over a whole world the "Added block" lines of each chunk name exactly
    // the blocks that changed in it.
    TempDir dir;
    std::map<std::string, Bytes> before;
    for (int x = -1; x <= 1; ++x) {
        const std::string rel = "0/0/c." + std::string(x < 0 ? "-1" : std::to_string(x)) + ".0.dat";
        put_chunk(dir.path(), rel, x, 0);
        before[rel] = make_chunk_document(x, 0);
    }
    RunResult r = run_tool({dir.path().string(), "15", "-vv", "-oo"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");

    std::map<std::string, std::set<int>> reported;
    std::string current;
    for (const std::string &line : lines_of(r.err)) {
        if (line.rfind("Updating chunk ", 0) == 0) {
            current = line.substr(15, line.size() - 18);
        }
        int x, y, z;
        if (std::sscanf(line.c_str(), "Added block at %d,%d,%d", &x, &y, &z) == 3) {
            ASSERT_FALSE(current.empty());
            reported[current].insert(y + 128 * z + 2048 * x);
        }
    }
    EXPECT_EQ(reported.size(), before.size());
    for (const auto &[rel, old_doc] : before) {
        int status = 0;
        NbtDoc doc = parse_nbt_file(dir.file(rel), &status);
        ASSERT_EQ(status, NBT_OK);
        NbtDoc old = parse_nbt_bytes(old_doc, &status);
        ASSERT_EQ(status, NBT_OK);
        nbt_byte_array *now = nbt_cast_byte_array(
            nbt_find_tag_by_name("Blocks", nbt_find_tag_by_name("Level", doc->root)));
        nbt_byte_array *was = nbt_cast_byte_array(
            nbt_find_tag_by_name("Blocks", nbt_find_tag_by_name("Level", old->root)));
        std::set<int> changed;
        for (int i = 0; i < 32768; ++i) {
            if (now->content[i] != was->content[i]) {
                changed.insert(i);
                EXPECT_EQ(now->content[i], 15);
            }
        }
        EXPECT_EQ(changed, reported[rel]) << rel;
        // Everything but the blocks is as before.
        std::copy(was->content, was->content + 32768, now->content);
        EXPECT_EQ(nbt_tree_difference(doc->root, old->root), "") << rel;
    }
}

const std::string kPartly =
    "World partly updated: 1 file could not be written and keeps its old content\n";

TEST(Program, ChunkTheUserMayNotWriteIsLeftAlone) {
    if (!can_run_as_nobody()) {
        GTEST_SKIP() << "needs root to run the tool as an unprivileged user";
    }
    // The folder is writable, so replacing the file would be possible; the
    // file itself is not, and its permission is honoured.
    TempDir dir;
    const std::string world = dir.file("world");
    const std::string path = put_chunk(world, "0/0/c.0.0.dat", 0, 0);
    for (const std::string &d : {dir.path().string(), world, world + "/0"}) {
        ASSERT_EQ(chmod(d.c_str(), 0755), 0);
    }
    ASSERT_EQ(chown((world + "/0/0").c_str(), kNobodyUid, kNobodyGid), 0);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    const Bytes before = read_file(path);
    RunResult r = run_with_setup(LODECAST_EXE, {world, "16", "-v"}, {.as_nobody = true});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Processing...\nUpdating chunk 0/0/c.0.0.dat...\n"
                     "nbt_write(): Failed - chunk left unchanged (" +
                         path + ": Permission denied)\nFailed to update chunk.  Skipping...\n" +
                         kPartly);
    EXPECT_EQ(read_file(path), before);
    EXPECT_TRUE(dot_entries(world).empty());
}

TEST(Program, FailedWriteKeepsTheOldChunk) {
    TempDir dir;
    const std::string path = put_chunk(dir.path(), "0/0/c.0.0.dat", 0, 0);
    const Bytes before = read_file(path);
    RunResult r =
        run_with_setup(LODECAST_EXE, {dir.path().string(), "16"}, {.file_size_limit = 64});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Processing...\nnbt_write(): Failed - chunk left unchanged (" + path +
                         ": File too large)\n" + kPartly);
    EXPECT_EQ(read_file(path), before);
    EXPECT_TRUE(dot_entries(dir.path().string()).empty());
}

TEST(Program, RealChunksGetVeinsAndStayComplete) {
    TempDir dir;
    const std::vector<std::string> names = {"c.-j.6.dat", "c.-l.5.dat", "c.-o.4.dat"};
    for (const std::string &name : names) {
        fs::create_directories(dir.path() / "1" / "2");
        fs::copy_file(std::string(LODECAST_TEST_DATA) + "/chunks/" + name,
                      dir.path() / "1" / "2" / name);
    }
    RunResult r = run_tool({dir.path().string(), "16", "-v", "-r", "40"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(updated_chunks(r.err).size(), names.size());
    for (const std::string &name : names) {
        const std::string path = dir.file("1/2/" + name);
        int status = 0;
        NbtDoc doc = parse_nbt_file(path, &status);
        ASSERT_EQ(status, NBT_OK) << name;
        EXPECT_EQ(chunk_shape_problem(doc.get()), "") << name;
        NbtDoc old = parse_nbt_file(std::string(LODECAST_TEST_DATA) + "/chunks/" + name, &status);
        EXPECT_NE(nbt_tree_difference(doc->root, old->root), "") << name;
    }
}

// A chest, a furnace and a sign hold block entities: no rule replaces them,
// or their entries would be left behind in a chunk that lost the block.
TEST(Program, BlocksWithABlockEntityAreNeverReplaced) {
    TempDir dir;
    const std::string name = "c.-o.2.dat";
    fs::create_directories(dir.path() / "1" / "2");
    fs::copy_file(std::string(LODECAST_TEST_DATA) + "/chunks/" + name,
                  dir.path() / "1" / "2" / name);
    const std::string path = dir.file("1/2/" + name);
    int status = 0;
    NbtDoc old = parse_nbt_file(path, &status);
    ASSERT_EQ(run_tool({dir.path().string(), "16", "-oa", "-r", "3000", "-s", "60", "-mn", "4",
                        "-mx", "14", "-seed", "1"})
                  .status,
              0);
    NbtDoc now = parse_nbt_file(path, &status);
    const auto blocks = [](const NbtDoc &d) {
        return nbt_cast_byte_array(
            nbt_find_tag_by_name("Blocks", nbt_find_tag_by_name("Level", d->root)));
    };
    nbt_list *entities = nbt_cast_list(
        nbt_find_tag_by_name("TileEntities", nbt_find_tag_by_name("Level", now->root)));
    ASSERT_EQ(entities->length, 3);
    for (int32_t i = 0; i < entities->length; ++i) {
        nbt_tag entry{TAG_COMPOUND, nullptr, entities->content[i]};
        const auto at = [&](const char *c) {
            return *nbt_cast_int(nbt_find_tag_by_name(c, &entry));
        };
        const int32_t index = block_at(at("x") & 15, at("y"), at("z") & 15).index;
        EXPECT_EQ(blocks(now)->content[index], blocks(old)->content[index]) << i;
        EXPECT_NE(blocks(now)->content[index], 16) << i;
    }
    EXPECT_GT(std::count(blocks(now)->content, blocks(now)->content + 32768, 16), 2000);
}

#ifdef LODECAST_MKWORLD_EXE

TEST(MakeWorld, IsDeterministicAndLaidOutByCoordinates) {
    TempDir a;
    TempDir b;
    ASSERT_EQ(run_program(LODECAST_MKWORLD_EXE, {a.file("w"), "4"}).status, 0);
    ASSERT_EQ(run_program(LODECAST_MKWORLD_EXE, {b.file("w"), "4"}).status, 0);
    const FileSnapshot sa = snapshot_files(a.file("w"));
    const FileSnapshot sb = snapshot_files(b.file("w"));
    // Chunks -2..1 on both axes; folders hold the coordinates modulo 64.
    std::vector<std::string> expected;
    for (const char *x : {"-2", "-1", "0", "1"}) {
        for (const char *z : {"-2", "-1", "0", "1"}) {
            auto folder = [](const std::string &v) {
                return v == "-2" ? std::string("1q") : v == "-1" ? std::string("1r") : v;
            };
            expected.push_back(folder(x) + "/" + folder(z) + "/c." + x + "." + z + ".dat");
        }
    }
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> got;
    for (const auto &[rel, bytes] : sa) {
        got.push_back(rel);
        EXPECT_EQ(gunzip_file(a.file("w/" + rel)), gunzip_file(b.file("w/" + rel))) << rel;
        int status = 0;
        NbtDoc doc = parse_nbt_file(a.file("w/" + rel), &status);
        ASSERT_EQ(status, NBT_OK);
        EXPECT_EQ(chunk_shape_problem(doc.get()), "") << rel;
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(sb.size(), sa.size());
}

TEST(MakeWorld, CountSeesTheVeinsTheToolAdds) {
    TempDir dir;
    const std::string world = dir.file("w");
    ASSERT_EQ(run_program(LODECAST_MKWORLD_EXE, {world, "2"}).status, 0);
    RunResult before = run_program(LODECAST_MKWORLD_EXE, {"--count", world, "21"});
    ASSERT_EQ(before.status, 0);
    EXPECT_EQ(before.out, "0\n"); // the generated terrain holds no lapis
    RunResult stone = run_program(LODECAST_MKWORLD_EXE, {"--count", world, "1"});
    EXPECT_GT(std::stoll(stone.out), 4 * 10000);

    RunResult r = run_tool({world, "21", "-vv", "-r", "10"});
    ASSERT_EQ(r.status, 0);
    size_t added = 0;
    for (const std::string &line : lines_of(r.err)) {
        added += line.rfind("Added block at ", 0) == 0;
    }
    RunResult after = run_program(LODECAST_MKWORLD_EXE, {"--count", world, "21"});
    EXPECT_EQ(after.out, std::to_string(added) + "\n");
    EXPECT_GT(added, 0u);
}

// 6 x 6 chunks: the outer ring at noise, the next at features, 2 x 2
// finished; chunk 0,0 holds the chest.
TEST(MakeWorld, PalettedWorldsOfBothEras) {
    struct row {
        const char *flag;
        int32_t version;
        int bottom, top;
        const char *full;
        bool deepslate;
    };
    const row rows[] = {{"--paletted", 3218, -64, 319, "minecraft:full", true},
                        {"--paletted=1.16", 2586, 0, 255, "full", false}};
    for (const row &r : rows) {
        SCOPED_TRACE(r.flag);
        TempDir dir;
        ASSERT_EQ(run_program(LODECAST_MKWORLD_EXE, {r.flag, dir.file("a"), "6"}).status, 0);
        ASSERT_EQ(run_program(LODECAST_MKWORLD_EXE, {r.flag, dir.file("b"), "6"}).status, 0);
        EXPECT_TRUE(snapshot_files(dir.file("a")) == snapshot_files(dir.file("b")));
        EXPECT_EQ(identify_world(dir.file("a"), dir.file("a")), world_kind::paletted);
        std::map<std::string, int> statuses;
        for (int32_t x = -3; x < 3; ++x) {
            for (int32_t z = -3; z < 3; ++z) {
                const std::string file = dir.file(
                    "a/region/" + region::file_name(region::region_of(x), region::region_of(z),
                                                    region::extension::mca));
                nbt::document doc = read_region_chunk(file, region::slot_of(x, z));
                ASSERT_NE(doc, nullptr);
                paletted_chunk c;
                ASSERT_EQ(c.bind(doc->root), paletted_result::ok);
                EXPECT_EQ(c.data_version(), r.version);
                EXPECT_EQ(c.bottom(), r.bottom);
                EXPECT_EQ(c.top(), r.top);
                EXPECT_EQ(c.entry_at(5, r.bottom, 5).name, "minecraft:bedrock");
                EXPECT_EQ(c.entry_at(5, r.top, 5).name, "minecraft:air");
                statuses[std::string(c.status())] += c.finished() ? 100 : 1;
                // The chest, block and entity, stands on the ground.
                int chest = 0;
                for (int y = 40; y < 128; ++y) {
                    if (c.entry_at(8, y, 8).name == "minecraft:chest") {
                        chest = y;
                        EXPECT_TRUE(c.has_block_entity(8, y, 8));
                        EXPECT_NE(c.entry_at(8, y - 1, 8).name, "minecraft:air");
                    }
                }
                EXPECT_EQ(chest != 0, x == 0 && z == 0);
            }
        }
        const std::string prefix = std::string(r.flag) == "--paletted" ? "minecraft:" : "";
        EXPECT_EQ(statuses, (std::map<std::string, int>{
                                {prefix + "noise", 20}, {prefix + "features", 12}, {r.full, 400}}));
        const auto count = [&](const char *name) {
            const RunResult c = run_program(LODECAST_MKWORLD_EXE, {"--count", dir.file("a"), name});
            EXPECT_EQ(c.status, 0) << c.err;
            return std::stoll(c.out);
        };
        EXPECT_EQ(count("minecraft:chest"), 1);
        EXPECT_GT(count("minecraft:coal_ore"), 0);
        EXPECT_GT(count("minecraft:granite"), 0);
        EXPECT_EQ(count("minecraft:deepslate") > 0, r.deepslate);
        EXPECT_EQ(count("minecraft:deepslate_diamond_ore") > 0, r.deepslate);
    }
}

TEST(MakeWorld, WritesOnlyIntoAMissingOrEmptyFolderUnlessForced) {
    TempDir dir;
    const std::string world = dir.file("w");
    ASSERT_EQ(run_program(LODECAST_MKWORLD_EXE, {world, "2"}).status, 0);
    const FileSnapshot before = snapshot_files(world);
    const RunResult refused = run_program(LODECAST_MKWORLD_EXE, {world, "3"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err.rfind("lodecast-mkworld: " + world + " ", 0), 0u) << refused.err;
    EXPECT_EQ(snapshot_files(world), before);
    EXPECT_EQ(run_program(LODECAST_MKWORLD_EXE, {"--force", world, "3"}).status, 0);
    EXPECT_EQ(snapshot_files(world).size(), 9u);
    fs::create_directories(dir.path() / "empty");
    EXPECT_EQ(run_program(LODECAST_MKWORLD_EXE, {dir.file("empty"), "1"}).status, 0);
}

// On a terminal the status line steps aside for every message and counts
// towards the world's total: without its redraws and erasures, what is left
// is what a plain run prints, then the summary; -v draws no status line.
TEST(Program, ProgressLineOnATerminalLeavesWhatAPlainRunPrints) {
    struct Case {
        std::string kind; // lodecast-mkworld's first argument
        bool damaged;     // a chunk file that cannot be read: a failure message
        std::vector<std::string> flags;
        bool progress;
        std::string summary; // with the time as "T"
    };
    const std::string lapis = "Blocks placed: Lapis ";
    const Case cases[] = {
        {"--force", false, {}, true, "updated: 4 of 4 in T\nLeft alone: none\n" + lapis},
        {"--region",
         false,
         {"-bb", "0", "0", "5", "5"},
         true,
         "updated: 1 of 4 in T\nLeft alone: 3 outside the filters\n" + lapis},
        {"--force",
         true,
         {"-j", "1"},
         true,
         "updated: 3 of 4 in T\nLeft alone: 1 could not be read or written\n" + lapis},
        {"--force", true, {"-v"}, false, "updated: 3 of 4 in T\n"}};
    const std::regex redraw("\r[^\r\n]*\x1b\\[K(?=\r)|\r\x1b\\[K");
    const std::regex time(" in [0-9]+\\.[0-9] s\n");
    for (const Case &c : cases) {
        RunResult runs[2]; // the same world, without and with a terminal
        for (RunResult &r : runs) {
            TempDir dir;
            const std::string world = dir.file("w");
            ASSERT_EQ(run_program(LODECAST_MKWORLD_EXE, {c.kind, world, "2"}).status, 0);
            if (c.damaged) {
                write_file(world + "/0/0/c.0.0.dat", Bytes{'x'});
            }
            std::vector<std::string> args = {world, "21", "-seed", "7"};
            args.insert(args.end(), c.flags.begin(), c.flags.end());
            r = &r == runs ? run_tool(args) : run_on_terminal(LODECAST_EXE, args);
        }
        EXPECT_EQ(runs[1].err.find("\rprocessed ") != std::string::npos, c.progress);
        EXPECT_EQ(std::regex_search(runs[1].err, std::regex("\rprocessed [0-9]+ of 4 chunks "
                                                            "\\([0-9]+%\\), [^\r]* left")),
                  c.progress)
            << runs[1].err;
        const std::string seen = std::regex_replace(runs[1].err, redraw, "");
        ASSERT_EQ(seen.substr(0, runs[0].err.size()), runs[0].err) << seen;
        const std::string summary =
            std::regex_replace(seen.substr(runs[0].err.size()), time, " in T\n");
        EXPECT_EQ(summary.rfind("Chunks " + c.summary, 0), 0u) << summary;
    }
}

// A -v run over a 3 x 3 world under setup ends with status 0 and every chunk
// updated, whatever becomes of its messages.
void expect_every_chunk_updated(const ChildSetup &setup) {
    TempDir dir;
    const std::string world = dir.file("w");
    ASSERT_EQ(run_program(LODECAST_MKWORLD_EXE, {world, "3"}).status, 0);
    const FileSnapshot before = snapshot_files(world);
    EXPECT_EQ(run_with_setup(LODECAST_EXE, {world, "16", "-v", "-j", "8"}, setup).status, 0);
    for (const auto &[rel, old] : before) {
        const ChunkCheck c = check_chunk_file(world + "/" + rel, old, kCoal);
        EXPECT_EQ(c.state, ChunkState::Updated) << rel << ": " << c.detail;
        const Bytes now = read_file(world + "/" + rel);
        EXPECT_EQ(std::string(now.begin(), now.end()).find("Updating"), std::string::npos);
    }
}

TEST(Program, MessagesNeverLandInAChunkWhenStandardErrorIsClosed) {
    expect_every_chunk_updated({.closed_fd = 2});
}

TEST(Program, AReaderOfTheMessagesThatGoesAwayDoesNotStopTheRun) {
    expect_every_chunk_updated({.stderr_read_limit = 1});
}

// Usage errors: 2 in every tool, 1 in lodecast as in its first versions.
TEST(Program, EveryProgramAnswersHelpAndVersionOnStandardOutput) {
    for (const auto &[exe, name, usage] : {std::tuple{LODECAST_EXE, "lodecast", 1},
                                           {LODECAST_CENSUS_EXE, "lodecast-census", 2},
                                           {LODECAST_MKWORLD_EXE, "lodecast-mkworld", 2},
                                           {LODECAST_RESTORE_EXE, "lodecast-restore", 2},
                                           {NBTDUMP_EXE, "nbtdump", 2}}) {
        const RunResult v = run_program(exe, {"--version"});
        const RunResult h = run_program(exe, {"--help"});
        EXPECT_EQ(v.status + h.status, 0) << name;
        EXPECT_EQ(run_program(exe, {}).status, usage) << name;
        EXPECT_EQ(v.out + v.err, std::string(name) + " " + LODECAST_VERSION +
                                     "\ncompression: " + LODECAST_COMPRESSION + "\n");
        EXPECT_EQ(h.out.rfind(std::string("Usage: ") + name + " ", 0), 0u) << h.out;
        EXPECT_EQ(h.err, "") << name;
    }
    // Only as the first argument: elsewhere lodecast reads them as it always did.
    EXPECT_EQ(run_tool({"w", "--version"}).err, "Ore ID has to be a number\n");
}

// The int named name in the compound parent, or INT32_MIN when there is none.
int32_t int_in(nbt_tag *parent, const char *name) {
    nbt_tag *t = parent ? nbt_find_tag_by_name(name, parent) : nullptr;
    int32_t *v = t ? nbt_cast_int(t) : nullptr;
    return v ? *v : INT32_MIN;
}

TEST(MakeWorld, RegionWorldIsReproducibleAndEveryChunkSitsInItsSlot) {
    TempDir a;
    TempDir b;
    ASSERT_EQ(run_program(LODECAST_MKWORLD_EXE, {"--region", a.file("w"), "40"}).status, 0);
    ASSERT_EQ(run_program(LODECAST_MKWORLD_EXE, {"--region", b.file("w"), "40"}).status, 0);
    const FileSnapshot files = snapshot_files(a.file("w"));
    EXPECT_TRUE(files == snapshot_files(b.file("w")));
    EXPECT_EQ(files.size(), 5u); // level.dat and four regions, opened below
    int chunks = 0;
    region::record rec;
    // Chunks -20..19 on both axes: regions -1 and 0.
    for (int32_t rx : {-1, 0}) {
        for (int32_t rz : {-1, 0}) {
            const std::string name = region::file_name(rx, rz, region::extension::mcr);
            const int fd = open(a.file("w/region/" + name).c_str(), O_RDONLY);
            region::reader in;
            ASSERT_EQ(in.open(fd), region::open_result::ok) << name;
            for (int slot = 0; slot < region::slot_count; ++slot) {
                const region::chunk_pos c = region::chunk_of_slot(rx, rz, slot);
                if (c.x < -20 || c.x > 19 || c.z < -20 || c.z > 19) {
                    EXPECT_EQ(in.state(slot), region::status::absent) << name << " " << slot;
                    continue;
                }
                ASSERT_EQ(in.read_record(slot, rec), region::status::ok) << name << " " << slot;
                EXPECT_EQ(rec.compression, region::compression_zlib);
                nbt::document doc = nbt::make_document();
                ASSERT_EQ(nbt_parse_memory(doc.get(), rec.bytes.data(), rec.bytes.size(), NBT_ZLIB,
                                           nullptr, nullptr),
                          NBT_OK);
                EXPECT_EQ(chunk_shape_problem(doc.get()), "") << name << " " << slot;
                nbt_tag *level = nbt_find_tag_by_name("Level", doc->root);
                EXPECT_TRUE(int_in(level, "xPos") == c.x && int_in(level, "zPos") == c.z) << slot;
                ++chunks;
            }
            close(fd);
        }
    }
    EXPECT_EQ(chunks, 40 * 40);
    int status = 0;
    NbtDoc level = parse_nbt_file(a.file("w/level.dat"), &status);
    ASSERT_EQ(status, NBT_OK);
    EXPECT_EQ(int_in(nbt_find_tag_by_name("Data", level->root), "version"), 19132);
}

TEST(MakeWorld, CountReadsRegionWorldsLikeChunkFolders) {
    TempDir dir;
    ASSERT_EQ(run_program(LODECAST_MKWORLD_EXE, {dir.file("chunks"), "3"}).status, 0);
    ASSERT_EQ(run_program(LODECAST_MKWORLD_EXE, {"--region", dir.file("regions"), "3"}).status, 0);
    RunResult chunks = run_program(LODECAST_MKWORLD_EXE, {"--count", dir.file("chunks"), "1"});
    RunResult regions = run_program(LODECAST_MKWORLD_EXE, {"--count", dir.file("regions"), "1"});
    EXPECT_EQ(regions.status, 0);
    EXPECT_EQ(regions.out, chunks.out);
    EXPECT_GT(std::stoll(regions.out), 9 * 10000); // stone
}

#endif

} // namespace

#endif
