// A run on several threads gives what a run on one gives: with the same
// seed, the same standard error byte for byte, the same exit status and
// the same decompressed content in every file, whatever fails on the way.
#include "support/child_run.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "support/world_check.h"
#include "world_builder.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#ifdef LODECAST_EXE

namespace {

using world_test::put_chunk;
namespace fs = std::filesystem;

// Every regular file below root by relative path, decompressed when it is
// gzip data (a file that is not comes back as it is, marked).
std::map<std::string, Bytes> contents(const fs::path &root) {
    std::map<std::string, Bytes> out;
    for (const auto &[rel, raw] : snapshot_files(root.string())) {
        try {
            out[rel] = gunzip_file((root / rel).string());
        } catch (const std::exception &) {
            Bytes marked{'!'};
            marked.insert(marked.end(), raw.begin(), raw.end());
            out[rel] = marked;
        }
    }
    return out;
}

// The world every run of a test starts from. Worlds are built afresh for
// each run in the same order of calls, so that their directory listings
// come in the same order: which chunks precede a walk failure is then the
// same for every run.
using WorldMaker = std::function<void(const fs::path &)>;

// Level-1 folders 0..2, level-2 folders 0..2 in each, four chunks in each.
void regular_chunks(const fs::path &w) {
    for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b) {
            for (int c = 0; c < 4; ++c) {
                const int x = a + 64 * c;
                const int z = b;
                put_chunk(w,
                          std::to_string(a) + "/" + std::to_string(b) + "/c." + std::to_string(x) +
                              "." + std::to_string(z) + ".dat",
                          x, z);
            }
        }
    }
}

// Chunks that cannot be updated, among regular ones: garbage, a cut-short
// gzip stream, a document that is not a chunk, a chunk without "Data" when
// data values are asked for.
void troubled_chunks(const fs::path &w) {
    regular_chunks(w);
    write_file((w / "0/1/c.1.1.dat").string(), {'n', 'o', 't', ' ', 'n', 'b', 't'});
    Bytes gz = gzip_bytes(make_chunk_document(2, 1));
    gz.resize(gz.size() / 2);
    write_file((w / "1/1/c.2.1.dat").string(), gz);
    write_gzip_file((w / "2/0/c.3.0.dat").string(),
                    NbtBytes().head(10, "").head(10, "Other").end().end().bytes());
    write_gzip_file((w / "2/2/c.4.2.dat").string(), NbtBytes()
                                                        .head(10, "")
                                                        .head(10, "Level")
                                                        .byte_array("Blocks", Bytes(32768, kStone))
                                                        .end()
                                                        .end()
                                                        .bytes());
}

struct Outcome {
    RunResult run;
    std::map<std::string, Bytes> files;
};

// Builds the world afresh at world (the same path for every run, since the
// messages hold it) and runs the tool on it.
Outcome run_on_fresh_world(const fs::path &world, const WorldMaker &make,
                           const std::vector<std::string> &options, const std::string &threads,
                           const ChildSetup &setup = {},
                           const std::function<void(const fs::path &)> &prepare = {}) {
    fs::remove_all(world);
    make(world);
    if (prepare) {
        prepare(world);
    }
    std::vector<std::string> args{world.string()};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {"-seed", "20240611", "-j", threads});
    Outcome o{run_with_setup(LODECAST_EXE, args, setup), contents(world)};
    EXPECT_TRUE(dot_entries(world.string()).empty()) << "-j " << threads;
    return o;
}

// Runs with -j 1, 2 and 8 on fresh copies of the same world and checks
// that they agree in every respect. Returns the one-thread outcome.
Outcome
expect_same_for_all_thread_counts(const WorldMaker &make, const std::vector<std::string> &options,
                                  const ChildSetup &setup = {},
                                  const std::function<void(const fs::path &)> &prepare = {}) {
    TempDir dir;
    const fs::path world = dir.path() / "world";
    Outcome one = run_on_fresh_world(world, make, options, "1", setup, prepare);
    for (const char *threads : {"2", "8"}) {
        Outcome many = run_on_fresh_world(world, make, options, threads, setup, prepare);
        EXPECT_EQ(many.run.status, one.run.status) << "-j " << threads;
        EXPECT_EQ(many.run.err, one.run.err) << "-j " << threads;
        EXPECT_EQ(many.run.out, "");
        EXPECT_EQ(many.files.size(), one.files.size());
        for (const auto &[rel, bytes] : one.files) {
            EXPECT_TRUE(many.files[rel] == bytes) << rel << " differs with -j " << threads;
        }
    }
    return one;
}

// Files whose decompressed content the run changed.
int changed_files(const WorldMaker &make, const Outcome &o) {
    TempDir dir;
    make(dir.path() / "w");
    const auto before = contents(dir.path() / "w");
    int changed = 0;
    for (const auto &[rel, bytes] : before) {
        auto it = o.files.find(rel);
        changed += it == o.files.end() || it->second != bytes;
    }
    return changed;
}

TEST(Parallel, VeryVerboseRunIsIdenticalOnAnyNumberOfThreads) {
    Outcome one = expect_same_for_all_thread_counts(regular_chunks, {"16", "-vv"});
    EXPECT_EQ(one.run.status, 0);
    EXPECT_EQ(changed_files(regular_chunks, one), 36);
    EXPECT_NE(one.run.err.find("Added block at"), std::string::npos);
}

TEST(Parallel, ChunksThatCannotBeUpdatedAreReportedInWalkOrder) {
    Outcome one = expect_same_for_all_thread_counts(troubled_chunks, {"16", "-v", "-d", "3"});
    EXPECT_EQ(one.run.status, 0);
    const std::string &err = one.run.err;
    EXPECT_NE(err.find("nbt_parse(): Failed - RAM?\n"), std::string::npos);
    EXPECT_NE(err.find("/2/0/c.3.0.dat\" is not a valid chunk\n"), std::string::npos);
    EXPECT_NE(err.find("/2/2/c.4.2.dat\" is not a valid chunk\n"), std::string::npos);
    EXPECT_EQ(changed_files(troubled_chunks, one), 36);
}

TEST(Parallel, EveryWriteFailingIsReportedInWalkOrder) {
    // A file size limit far below a chunk's size: every store fails, and
    // each failure must come out after its chunk's own lines.
    Outcome one =
        expect_same_for_all_thread_counts(troubled_chunks, {"16", "-v"}, {.file_size_limit = 64});
    EXPECT_EQ(one.run.status, 2);
    EXPECT_EQ(changed_files(troubled_chunks, one), 0);
    size_t failures = 0;
    for (size_t at = 0; (at = one.run.err.find("nbt_write(): Failed", at)) != std::string::npos;
         ++at) {
        ++failures;
    }
    EXPECT_EQ(failures, 37u); // the regular chunks and the one without "Data"
}

TEST(Parallel, OneReadOnlyChunkAmongOthers) {
    if (!can_run_as_nobody()) {
        GTEST_SKIP() << "needs root to run the tool as an unprivileged user";
    }
    auto hand_over = [](const fs::path &w) {
        ASSERT_EQ(chmod(w.parent_path().c_str(), 0755), 0);
        for (const auto &e : fs::recursive_directory_iterator(w)) {
            ASSERT_EQ(chown(e.path().c_str(), kNobodyUid, kNobodyGid), 0);
        }
        ASSERT_EQ(chown(w.c_str(), kNobodyUid, kNobodyGid), 0);
        ASSERT_EQ(chmod((w / "1/2/c.65.2.dat").c_str(), 0444), 0);
    };
    Outcome one = expect_same_for_all_thread_counts(regular_chunks, {"16", "-v"},
                                                    {.as_nobody = true}, hand_over);
    EXPECT_EQ(one.run.status, 2);
    EXPECT_NE(one.run.err.find("Updating chunk 1/2/c.65.2.dat...\n"
                               "nbt_write(): Failed - chunk left unchanged (/"),
              std::string::npos);
    EXPECT_NE(one.run.err.find("/world/1/2/c.65.2.dat: Permission denied)\nFailed to update"),
              std::string::npos);
    EXPECT_EQ(changed_files(regular_chunks, one), 35);
}

TEST(Parallel, WalkFailureStopsAfterTheSameChunks) {
    // A dangling link in the middle of the world: the walk stops there, so
    // the chunks listed before it are updated and none after it is touched.
    auto with_dangling_link = [](const fs::path &w) {
        regular_chunks(w);
        ASSERT_EQ(symlink("nowhere", (w / "1/1/c.9.9.dat").c_str()), 0);
    };
    Outcome one = expect_same_for_all_thread_counts(with_dangling_link, {"16", "-v"});
    EXPECT_EQ(one.run.status, 1);
    const std::string &err = one.run.err;
    const std::string failure = "Stat failed on ";
    ASSERT_NE(err.find(failure), std::string::npos);
    EXPECT_EQ(err.find("World updated"), std::string::npos);
    // The failure is the last line, after every chunk's own lines.
    const size_t last_line = err.rfind('\n', err.size() - 2) + 1;
    EXPECT_EQ(err.compare(last_line, failure.size(), failure), 0) << err;
    // Exactly the chunks reported before the failure were written.
    const size_t updates = world_test::updated_chunks(err).size();
    EXPECT_EQ(changed_files(with_dangling_link, one), static_cast<int>(updates));
}

TEST(Parallel, AFileReachedTwiceIsUpdatedTwiceInOrder) {
    // Level-2 folder 0/3 is a link to 0/0: its chunks are walked twice, and
    // the second update must read what the first wrote.
    auto aliased = [](const fs::path &w) {
        regular_chunks(w);
        ASSERT_EQ(symlink("0", (w / "0/3").c_str()), 0);
    };
    Outcome one = expect_same_for_all_thread_counts(aliased, {"16", "-v"});
    EXPECT_EQ(one.run.status, 0);
    EXPECT_NE(one.run.err.find("Updating chunk 0/3/c.0.0.dat...\n"), std::string::npos);
}

TEST(Parallel, SeedFixesTheVeins) {
    TempDir dir;
    const fs::path world = dir.path() / "world";
    Outcome a = run_on_fresh_world(world, regular_chunks, {"16"}, "2");
    Outcome b = run_on_fresh_world(world, regular_chunks, {"16"}, "2");
    EXPECT_EQ(a.files, b.files);
    fs::remove_all(world);
    regular_chunks(world);
    RunResult other = run_program(LODECAST_EXE, {world.string(), "16", "-seed", "7", "-j", "2"});
    EXPECT_EQ(other.status, 0);
    EXPECT_NE(contents(world), a.files);
}

} // namespace

#endif
