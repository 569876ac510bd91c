// lodecast on worlds in use: the session lock stops a run that another
// program took the world from, -record never gives a chunk the same ore
// twice even across killed runs, -backup and lodecast-restore bring back
// the exact old bytes, and a dry run (-n) writes nothing and predicts what
// the real run places.
#include "lodecast/formats/chunk_document.h"
#include "lodecast/ores/random.h"
#include "lodecast/pipeline/output.h"
#include "lodecast/pipeline/world_update.h"
#include "lodecast/run/options.h"
#include "support/child_run.h"
#include "support/temp_dir.h"
#include "support/world_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <regex>

namespace {

namespace fs = std::filesystem;

// A demo world of n x n chunks, as chunk files or region files.
std::string make_world(const TempDir &dir, bool region, int n = 8) {
    const std::string w = dir.file(region ? "r" : "c");
    std::vector<std::string> args = {w, std::to_string(n)};
    if (region) {
        args.insert(args.begin(), "--region");
    }
    EXPECT_EQ(run_program(LODECAST_MKWORLD_EXE, args).status, 0);
    return w;
}

uint64_t count_of(const std::string &world, int id) {
    return std::stoull(
        run_program(LODECAST_MKWORLD_EXE, {"--count", world, std::to_string(id)}).out);
}

// What the session lock test's sync hook does: after `at` syncs, another
// program opens the world.
struct lock_thief {
    std::string lock;
    int calls = 0;
    int at = 0;
    static int sync(int, void *context) {
        auto *t = static_cast<lock_thief *>(context);
        if (++t->calls == t->at) {
            write_file(t->lock, Bytes{0, 0, 1, 2, 3, 4, 5, 6});
        }
        return 0;
    }
};

TEST(SessionLock, ALockTakenDuringTheRunStopsItAndLeavesEveryUnitWhole) {
    // Taking the lock syncs the file and its folder; then each region file
    // syncs once, and each group of up to 64 chunk files once. The lock is
    // taken at a commit's sync: that commit completes, the next is refused.
    const struct {
        bool region;
        int side;
        int theft_at_sync; // counting the commits' syncs from 1
        int changed;       // files replaced before the run stops
    } cases[] = {{false, 10, 2, 64}, {true, 40, 1, 1}};
    for (const auto &c : cases) {
        TempDir dir;
        const std::string w = make_world(dir, c.region, c.side);
        write_file(w + "/session.lock", Bytes(8, 0));
        const FileSnapshot before = snapshot_files(w);
        options opt{};
        opt.threads = 1;
        std::vector<ore_plan> lapis(1);
        lapis[0].block.id = 21;
        lapis[0].opt = opt;
        apply_ore_defaults(21, &lapis[0].opt);
        ore_srand(3);
        lock_thief thief{w + "/session.lock", 0, 2 + c.theft_at_sync};
        nbt_durability d = run_durability();
        d.sync = lock_thief::sync;
        d.context = &thief;
        std::string err;
        int status = 0;
        {
            output_capture capture(&err);
            status = update_world(w.c_str(), opt, lapis, d);
        }
        EXPECT_EQ(status, 1);
        EXPECT_NE(err.find(w + "/session.lock changed during the run: another program opened the "
                               "world. lodecast stopped"),
                  std::string::npos)
            << err;
        EXPECT_EQ(err.find("Failed"), std::string::npos) << err;
        int changed = 0;
        for (const auto &[rel, bytes] : snapshot_files(w)) {
            if (rel == "session.lock" || before.at(rel) == bytes) {
                continue;
            }
            ++changed;
            if (c.region) {
                EXPECT_EQ(run_program(NBTDUMP_EXE, {w + "/" + rel}).status, 0) << rel;
            } else {
                EXPECT_EQ(check_chunk_file(w + "/" + rel, before.at(rel), 21).state,
                          ChunkState::Updated)
                    << rel;
            }
        }
        EXPECT_EQ(changed, c.changed);
        EXPECT_EQ(read_file(w + "/session.lock"), (Bytes{0, 0, 1, 2, 3, 4, 5, 6}));
    }
}

// The blocks of id in each chunk file of world, as (x, y, z).
std::map<std::string, std::vector<std::array<int, 3>>> ore_blocks(const std::string &world,
                                                                  uint8_t id) {
    std::map<std::string, std::vector<std::array<int, 3>>> out;
    for (const auto &[rel, bytes] : snapshot_files(world)) {
        if (rel.find("c.") == std::string::npos) {
            continue;
        }
        int status = 0;
        NbtDoc doc = parse_nbt_file(world + "/" + rel, &status);
        nbt_byte_array *blocks = doc ? chunk_blocks(doc->root) : nullptr;
        EXPECT_TRUE(blocks != nullptr) << rel;
        for (int i = 0; blocks != nullptr && i < blocks->length; ++i) {
            if (blocks->content[i] == id) {
                out[rel].push_back({i >> 11, i & 127, (i >> 7) & 15});
            }
        }
    }
    return out;
}

TEST(ChunkRecord, KilledAndResumedRunsNeverGiveAChunkTheOreTwice) {
    TempDir dir;
    const std::string w = make_world(dir, false, 8);
    // One vein of size 1 fills at most a 2 x 3 x 2 box: a chunk holding ore
    // beyond one such box got two veins.
    const std::vector<std::string> args = {w,     "99", "-r",  "1",  "-s",  "1",
                                           "-mn", "10", "-mx", "60", "-oa", "-record"};
    std::mt19937 rng(5);
    int hits = 0; // kills that landed while the run was going on
    for (int i = 0; i < 20 && (i < 5 || hits < 2); ++i) {
        std::vector<std::string> run = args;
        run.insert(run.end(), {"-seed", std::to_string(i)});
        hits += run_and_kill(LODECAST_EXE, run,
                             std::chrono::microseconds(
                                 std::uniform_int_distribution<int>(0, 60000)(rng))) == 128 + 9;
    }
    EXPECT_GE(hits, 2);
    const RunResult last = run_program(LODECAST_EXE, args);
    EXPECT_EQ(last.status, 0) << last.err;
    const auto ore = ore_blocks(w, 99);
    EXPECT_GT(ore.size(), 32u);
    for (const auto &[rel, blocks] : ore) {
        for (int axis = 0; axis < 3; ++axis) {
            const auto [lo, hi] = std::minmax_element(
                blocks.begin(), blocks.end(),
                [axis](const auto &a, const auto &b) { return a[axis] < b[axis]; });
            EXPECT_LE((*hi)[axis] - (*lo)[axis], axis == 1 ? 2 : 1) << rel << " axis " << axis;
        }
    }
    // Every chunk is recorded now: another run skips them all.
    const RunResult again = run_program(LODECAST_EXE, args);
    EXPECT_NE(again.err.find("Skipped 64 chunks that already have this ore"), std::string::npos)
        << again.err;
}

TEST(Backup, RestoreBringsBackTheExactOldBytesAndAFullBackupIsNeverOverwritten) {
    for (const bool region : {false, true}) {
        TempDir dir;
        const std::string w = make_world(dir, region);
        const std::string bk = dir.file("bk");
        const FileSnapshot before = snapshot_files(w);
        ASSERT_EQ(run_program(LODECAST_EXE, {w, "21", "-backup", bk, "-seed", "1"}).status, 0);
        const FileSnapshot after = snapshot_files(w);
        FileSnapshot replaced; // what the run replaced, as it was
        for (const auto &[rel, bytes] : before) {
            if (after.at(rel) != bytes) {
                replaced[rel] = bytes;
            }
        }
        EXPECT_GT(replaced.size(), 0u);
        EXPECT_EQ(snapshot_files(bk), replaced);
        // Other veins than the first run's: a run that changes nothing
        // leaves a region file alone.
        const RunResult again = run_program(LODECAST_EXE, {w, "21", "-backup", bk, "-seed", "2"});
        EXPECT_NE(again.err.find("already holds a file for it - left unchanged"), std::string::npos)
            << again.err;
        EXPECT_EQ(snapshot_files(w), after);
        const RunResult restore = run_program(LODECAST_RESTORE_EXE, {bk, w});
        EXPECT_EQ(restore.status, 0) << restore.err;
        EXPECT_NE(restore.out.find(std::to_string(replaced.size()) + " of " +
                                   std::to_string(replaced.size()) + " files restored"),
                  std::string::npos)
            << restore.out;
        EXPECT_EQ(snapshot_files(w), before);
    }
}

TEST(DryRun, WritesNothingAndCountsWhatTheRealRunPlaces) {
    for (const bool region : {false, true}) {
        TempDir dir;
        const std::string w = make_world(dir, region);
        write_file(w + "/session.lock", Bytes(8, 1));
        const FileSnapshot before = snapshot_files(w);
        const uint64_t lapis = count_of(w, 21);
        const std::string map = dir.file("m.svg");
        const RunResult dry =
            run_program(LODECAST_EXE, {w, "21", "-seed", "7", "-n", "-record", "-map", map});
        EXPECT_EQ(dry.status, 0) << dry.err;
        EXPECT_EQ(snapshot_files(w), before);
        std::smatch m;
        ASSERT_TRUE(std::regex_search(dry.err, m, std::regex("Lapis \\(21\\): (\\d+) blocks")))
            << dry.err;
        const Bytes bytes = read_file(map);
        const std::string svg(bytes.begin(), bytes.end());
        EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
        size_t cells = 0;
        for (size_t at = 0; (at = svg.find("class=\"chunk\"", at)) != std::string::npos; ++at) {
            ++cells;
        }
        EXPECT_EQ(cells, 64u);
        ASSERT_EQ(run_program(LODECAST_EXE, {w, "21", "-seed", "7"}).status, 0);
        EXPECT_EQ(count_of(w, 21) - lapis, std::stoull(m[1])) << (region ? "region" : "chunks");
        EXPECT_NE(read_file(w + "/session.lock"), Bytes(8, 1)); // a real run takes the lock
        EXPECT_EQ(read_file(w + "/session.lock").size(), 8u);
    }
}

TEST(LivingWorld, BadInputIsRefusedWithAMessageAndChangesNothing) {
    const struct {
        std::vector<std::string> args; // after "<world> 21"
        std::string record;            // written as the record first, when not empty
        std::string message;
    } cases[] = {
        {{"-backup", "@/bk"}, "", "lies inside the world; choose one outside it - nothing changed"},
        {{"-backup"}, "", "-backup needs a folder - nothing changed"},
        {{"-map", "m.svg"}, "", "-map draws what a dry run would add: use it with -n"},
        {{"-n", "-map"}, "", "-map needs a file name"},
        {{"-record"}, "lodecast record 1\nworld path @\n+ main 0 0\n", "line 3: not a chunk line"},
        {{"-record"}, "lodecast record 2\n", "line 1: not a lodecast record of this version"},
        {{"-record"}, "lodecast record 1\nworld path /else\n", "was written for another world"},
        {{"-record"}, "-", "lodecast-data/record: Not a directory"},
    };
    for (const auto &c : cases) {
        TempDir dir;
        const std::string w = make_world(dir, false, 2);
        const std::string real = fs::canonical(w).string();
        const auto fill = [&](std::string s) {
            for (size_t at; (at = s.find('@')) != std::string::npos;) {
                s.replace(at, 1, real);
            }
            return s;
        };
        if (c.record == "-") {
            write_file(w + "/lodecast-data", Bytes{1});
        } else if (!c.record.empty()) {
            fs::create_directories(w + "/lodecast-data");
            const std::string text = fill(c.record);
            write_file(w + "/lodecast-data/record", Bytes(text.begin(), text.end()));
        }
        write_file(w + "/session.lock", Bytes(8, 2));
        const FileSnapshot before = snapshot_files(w);
        std::vector<std::string> args = {w, "21"};
        for (const std::string &a : c.args) {
            args.push_back(fill(a));
        }
        const RunResult r = run_program(LODECAST_EXE, args);
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_NE(r.err.find(fill(c.message)), std::string::npos) << r.err;
        EXPECT_EQ(snapshot_files(w), before) << c.message;
    }
}

} // namespace
