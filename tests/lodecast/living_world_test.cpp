// lodecast on worlds in use: the session lock stops a run that another
// program took the world from, -record never gives a chunk the same ore
// twice even across killed runs, -backup and lodecast-restore bring back
// the exact old bytes, and a dry run (-n) writes nothing and predicts what
// the real run places.
#include "lodecast/formats/chunk_document.h"
#include "lodecast/living/chunk_record.h"
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
#include <functional>
#include <random>
#include <regex>
#include <set>
#include <sys/stat.h>

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

// The run plan of one ore with its defaults over the run's options.
std::vector<ore_plan> one_ore(int id, const options &opt) {
    std::vector<ore_plan> plan(1);
    plan[0].block.id = id;
    plan[0].opt = opt;
    apply_ore_defaults(id, &plan[0].opt);
    return plan;
}

// A Lapis run in this process, every sync going through syncer; its
// status, and its messages in err.
template <typename Syncer>
int lapis_run(const std::string &w, const options &opt, Syncer &syncer, std::string &err) {
    durable_policy d = run_durability();
    d.sync = Syncer::sync;
    d.context = &syncer;
    output_capture capture(&err);
    return update_world(w.c_str(), opt, one_ore(21, opt), d);
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
    // syncs once just before its rename, and each group of up to 64 chunk
    // files once before its renames (with -record, the record's lines once
    // more, after the group's checks). The lock is taken at one of these
    // syncs: nothing is renamed after it.
    const struct {
        bool region;
        int side;
        bool record;
        int theft_at_sync; // counting the commits' syncs from 1
        int changed;       // files replaced before the run stops
    } cases[] = {
        {false, 10, false, 2, 64}, // the second group is refused whole
        {false, 8, true, 2, 0},    // between the group's checks and its renames
        {true, 20, false, 1, 0},   // a region file's own sync, before its rename
        {true, 20, false, 2, 1},
    };
    for (const auto &c : cases) {
        TempDir dir;
        const std::string w = make_world(dir, c.region, c.side);
        write_file(w + "/session.lock", Bytes(8, 0));
        const FileSnapshot before = snapshot_files(w);
        options opt{};
        opt.threads = 1;
        if (c.record) {
            opt.set |= OPT_RECORD;
        }
        ore_srand(3);
        lock_thief thief{w + "/session.lock", 0, 2 + c.theft_at_sync};
        std::string err;
        EXPECT_EQ(lapis_run(w, opt, thief, err), 1);
        EXPECT_NE(err.find(w + "/session.lock changed during the run: another program opened the "
                               "world. lodecast stopped"),
                  std::string::npos)
            << err;
        EXPECT_EQ(err.find("Failed"), std::string::npos) << err;
        int changed = 0;
        for (const auto &[rel, bytes] : snapshot_files(w)) {
            if (rel == "session.lock" || rel.starts_with("lodecast-data/") ||
                before.at(rel) == bytes) {
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
        EXPECT_EQ(dot_entries(w), std::vector<std::string>{});
    }
}

// A second run started at the first one's sync: it refuses at once and
// changes nothing, whatever the world's session lock.
struct second_run {
    std::string world;
    int calls = 0;
    RunResult seen;
    bool unchanged = false;
    static int sync(int, void *context) {
        auto *s = static_cast<second_run *>(context);
        if (++s->calls == 1) {
            const FileSnapshot before = snapshot_files(s->world);
            s->seen = run_program(LODECAST_EXE, {s->world, "56", "-record"});
            s->unchanged = snapshot_files(s->world) == before;
        }
        return 0;
    }
};

TEST(RunLock, ASecondRunOnTheSameWorldRefusesAtOnceAndChangesNothing) {
    for (const bool session_lock : {false, true}) {
        TempDir dir;
        const std::string w = make_world(dir, true, 20);
        if (session_lock) {
            write_file(w + "/session.lock", Bytes(8, 0));
        }
        options opt{};
        opt.threads = 1;
        opt.set |= OPT_RECORD;
        second_run second;
        second.world = w;
        std::string err;
        EXPECT_EQ(lapis_run(w, opt, second, err), 0) << err;
        EXPECT_EQ(second.seen.status, 1);
        EXPECT_NE(second.seen.err.find("another lodecast run is updating " + w + " (it holds " + w +
                                       "/lodecast-data/run.lock) - nothing changed"),
                  std::string::npos)
            << second.seen.err;
        EXPECT_TRUE(second.unchanged);
        // The record holds every chunk of the first run in whole lines.
        const RunResult again = run_program(LODECAST_EXE, {w, "21", "-record"});
        EXPECT_NE(again.err.find("Skipped 400 chunks that already have this ore"),
                  std::string::npos)
            << again.err;
        EXPECT_FALSE(fs::exists(w + "/lodecast-data/run.lock")); // no trace of the lock
    }
}

// The blocks of id in each chunk file of world, as (x, y, z).
std::map<std::string, std::vector<std::array<int, 3>>> ore_blocks(const std::string &world,
                                                                  uint8_t id) {
    std::map<std::string, std::vector<std::array<int, 3>>> out;
    for (const auto &[rel, bytes] : snapshot_files(world)) {
        // Temporary files a kill left behind are no chunks.
        if (rel.find("c.") == std::string::npos || fs::path(rel).filename().string()[0] == '.') {
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

TEST(Restore, NeverWritesOutsideTheWorldNorSharesAFileWithTheBackup) {
    // The world holds region/r.0.0.mcr ("new", mode 0660, owner 1000 under
    // root), the backup its old content. A row moves one path out of the
    // world or backup and leaves a link to it; nothing outside may change.
    const std::string rel = "region/r.0.0.mcr";
    const bool root = ::geteuid() == 0;
    const struct {
        std::string link;  // "w/..." or "bk/...": made a link out
        bool fifo;         // the backup also holds a FIFO
        std::string after; // what the world's path reads after two restores
    } cases[] = {
        {"", false, "old"},         {"bk/" + rel, false, "new"}, {"w/region", false, "new"},
        {"w/" + rel, false, "new"}, {"", true, "old"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.link + (c.fifo ? "FIFO" : ""));
        TempDir dir;
        const std::string w = dir.file("w");
        const std::string out = dir.file("outside");
        for (const std::string &d : {w, dir.file("bk"), out}) {
            fs::create_directories(d + "/region");
        }
        write_file(w + "/" + rel, {'n', 'e', 'w'});
        const auto id = static_cast<uid_t>(root ? 1000 : -1); // -1: as it is
        ASSERT_EQ(::chown((w + "/" + rel).c_str(), id, id), 0);
        ASSERT_EQ(::chmod((w + "/" + rel).c_str(), 0660), 0);
        write_file(dir.file("bk/" + rel), {'o', 'l', 'd'});
        if (!c.link.empty()) {
            fs::rename(dir.file(c.link), out + "/moved");
            fs::create_symlink(out + "/moved", dir.file(c.link));
        }
        if (c.fifo) {
            ASSERT_EQ(::mkfifo(dir.file("bk/region/r.1.0.mcr").c_str(), 0600), 0);
        }
        const FileSnapshot outside = snapshot_files(out);
        const int status = c.link.empty() && !c.fifo ? 0 : 1;
        for (int run = 0; run < 2; ++run) {
            const RunResult r = run_program(LODECAST_RESTORE_EXE, {dir.file("bk"), w});
            EXPECT_EQ(r.status, status) << r.out << r.err;
            EXPECT_EQ(r.err.find(" - skipped\n") != std::string::npos, status != 0) << r.err;
        }
        const Bytes after = read_file(w + "/" + rel);
        EXPECT_EQ(std::string(after.begin(), after.end()), c.after);
        EXPECT_EQ(snapshot_files(out), outside);
        EXPECT_EQ(dot_entries(w), std::vector<std::string>{});
        struct stat kept {};
        struct stat put {};
        ASSERT_EQ(::lstat(dir.file("bk/" + rel).c_str(), &kept), 0);
        ASSERT_EQ(::stat((w + "/" + rel).c_str(), &put), 0);
        if (status == 0) { // a copy the game's writes cannot reach, as the world file was
            EXPECT_NE(put.st_ino, kept.st_ino);
            EXPECT_EQ(kept.st_nlink, 1u);
            EXPECT_EQ(put.st_mode & 07777, 0660u);
            EXPECT_EQ(put.st_uid, root ? 1000u : ::geteuid());
        }
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

// Every entry below dir, folders and links included, by relative path.
std::set<std::string> entries_of(const std::string &dir) {
    std::set<std::string> out;
    for (const auto &e : fs::recursive_directory_iterator(dir)) {
        out.insert(fs::relative(e.path(), dir).string());
    }
    return out;
}

TEST(LivingWorld, BadInputIsRefusedWithAMessageAndChangesNothing) {
    const struct {
        std::vector<std::string> args; // after "<world> 21"
        std::string record;            // written as the record first, when not empty
        std::string message;
        std::string link = {}; // moved out of the world and linked to there
    } cases[] = {
        {{"-backup", "@/bk"}, "", "lies inside the world; choose one outside it - nothing changed"},
        {{"-backup", "@/bk/new/../x"}, "", "lies inside the world; choose one outside it"},
        {{"-backup"}, "", "-backup needs a folder - nothing changed"},
        {{"-map", "m.svg"}, "", "-map draws what a dry run would add: use it with -n"},
        {{"-n", "-map"}, "", "-map needs a file name"},
        {{"-record"}, "lodecast record 1\nworld path @\n+ main 0 0\n", "line 3: not a chunk line"},
        {{"-record"}, "lodecast record 2\n", "line 1: not a lodecast record of this version"},
        {{"-record"}, "lodecast record 1\nworld path /else\n", "was written for another world"},
        {{"-record"}, "-", "lodecast-data is not a folder: Not a directory - nothing changed"},
        {{"-record"},
         "lodecast record 1\nworld path @\n",
         "lodecast-data is not a folder",
         "lodecast-data"},
        {{"-record"}, "fifo", "lodecast-data/record is not a regular file - nothing changed"},
        {{"-record"}, "big", "lodecast-data/record is larger than 64 MiB, the most lodecast reads"},
        {{},
         "",
         "session lock @/session.lock: not a regular file - nothing changed",
         "session.lock"},
    };
    for (const auto &c : cases) {
        TempDir dir;
        const std::string w = make_world(dir, false, 2);
        const std::string out = dir.file("outside");
        fs::create_directories(out);
        const std::string real = fs::canonical(w).string();
        const auto fill = [&](std::string s) {
            for (size_t at; (at = s.find('@')) != std::string::npos;) {
                s.replace(at, 1, real);
            }
            return s;
        };
        const std::string record = w + "/lodecast-data/record";
        if (c.record == "-") {
            write_file(w + "/lodecast-data", Bytes{1});
        } else if (!c.record.empty()) {
            fs::create_directories(w + "/lodecast-data");
            const std::string text = fill(c.record);
            write_file(record, Bytes(text.begin(), text.end()));
        }
        if (c.record == "fifo" || c.record == "big") {
            fs::remove(record);
            ASSERT_TRUE(c.record == "big" || ::mkfifo(record.c_str(), 0600) == 0);
            if (c.record == "big") {
                write_file(record, Bytes(record_size_limit + 1, '\n'));
            }
        }
        write_file(w + "/session.lock", Bytes(8, 2));
        if (!c.link.empty()) {
            fs::rename(w + "/" + c.link, out + "/moved");
            fs::create_symlink(out + "/moved", w + "/" + c.link);
        }
        const FileSnapshot before = snapshot_files(w);
        const std::set<std::string> names = entries_of(w);
        const FileSnapshot outside = snapshot_files(out);
        std::vector<std::string> args = {real, "21"};
        for (const std::string &a : c.args) {
            args.push_back(fill(a));
        }
        const RunResult r = run_program(LODECAST_EXE, args);
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_NE(r.err.find(fill(c.message)), std::string::npos) << r.err;
        EXPECT_EQ(snapshot_files(w), before) << c.message;
        EXPECT_EQ(entries_of(w), names) << c.message;
        EXPECT_EQ(snapshot_files(out), outside) << c.message;
    }
}

} // namespace
