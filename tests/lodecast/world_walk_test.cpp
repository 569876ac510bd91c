// The world walk, through the real program: which entries it takes, the
// two filters, its messages and its exit status.
#include "lodecast/formats/chunk_count.h"
#include "lodecast/formats/chunk_files.h"
#include "support/child_run.h"
#include "support/temp_dir.h"
#include "support/world_check.h"
#include "world_builder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <stdlib.h>
#include <sys/stat.h>

#ifdef LODECAST_EXE

namespace {

using namespace world_test;

// A world holding one chunk of each kind the walk must tell apart. Only
// the chunks of `taken` are proper chunk files at proper places.
struct MixedWorld {
    TempDir dir;
    std::string root = dir.path().string();
    std::vector<std::string> taken = {"0/0/c.0.0.dat", "0/0/c.0.0.dat.bak", "tmp/1z/c.1.0.dat",
                                      "z/3/c.-1.3.dat"};
    std::vector<std::string> skipped = {
        "0A/0/c.0.0.dat", "Tmp/0/c.0.0.dat",         "1_2/0/c.0.0.dat",   "0/0A/c.0.0.dat",
        "0/0/C.0.0.dat",  "0/0/c.0.0.DAT",           "0/0/c.0.0",         "0/c.0.0.dat",
        "c.0.0.dat",      "0/0/c.7.7.dat/c.0.0.dat", "0/0/sub/c.5.5.dat", "0/0/notes.txt"};

    MixedWorld() {
        for (const std::string &rel : taken) {
            put_chunk(dir.path(), rel, 0, 0);
        }
        for (const std::string &rel : skipped) {
            if (rel != "0/0/notes.txt") {
                put_chunk(dir.path(), rel, 0, 0);
            }
        }
        write_file(dir.file("0/0/notes.txt"), {'h', 'i'});
        write_file(dir.file("1"), {'1'}); // a file at level 1
    }
};

TEST(WorldWalk, TakesExactlyTheChunkFilesAtLevelThree) {
    MixedWorld w;
    const FileSnapshot before = snapshot_files(w.root);
    RunResult r = run_tool({w.root, "1", "-v"}); // ore 1: no veins
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    std::vector<std::string> expected = w.taken;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(updated_chunks(r.err), expected);
    const std::vector<std::string> lines = lines_of(r.err);
    ASSERT_EQ(lines.size(), w.taken.size() + 2);
    EXPECT_EQ(lines.front(), "Processing...");
    EXPECT_EQ(lines.back(), "World updated");

    // Skipped files keep their bytes; taken ones were rewritten with the
    // same tree.
    const FileSnapshot after = snapshot_files(w.root);
    for (const std::string &rel : w.skipped) {
        EXPECT_EQ(after.at(rel), before.at(rel)) << rel;
    }
    for (const std::string &rel : w.taken) {
        EXPECT_EQ(gunzip_file(w.dir.file(rel)), make_chunk_document(0, 0)) << rel;
    }
}

// A walk that finds no chunk says so: an empty folder, or the folder above
// a world, must not read as a world updated.
TEST(WorldWalk, EmptyWorld) {
    TempDir dir;
    const std::string line =
        "No chunks found in " + dir.path().string() + " - is it a world folder?\n";
    RunResult r = run_tool({dir.path().string(), "16", "-v"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Processing...\n" + line + "World updated\n");
    EXPECT_EQ(r.out, "");
    put_chunk(dir.path() / "My World", "0/0/c.0.0.dat", 0, 0);
    EXPECT_EQ(run_tool({dir.path().string(), "16"}).err,
              "Processing...\n" + line + "World updated\n");
    EXPECT_EQ(run_tool({dir.file("My World"), "16"}).err, "Processing...\nWorld updated\n");
}

// The total of the status line counts what the walk would hand out, from
// names and headers alone: not stray files, not a region file too short
// for its header, not the other kind of region file.
TEST(WorldWalk, ChunksAreCountedAheadFromNamesAndHeaders) {
    TempDir dir;
    const std::string files = dir.file("files"), regions = dir.file("regions");
    ASSERT_EQ(run_program(LODECAST_MKWORLD_EXE, {files, "5"}).status, 0);
    ASSERT_EQ(run_program(LODECAST_MKWORLD_EXE, {"--region", regions, "40"}).status, 0);
    EXPECT_EQ(count_chunks(world_kind::chunk_files, files), 25u);
    EXPECT_EQ(count_chunks(world_kind::region, regions), 1600u);
    put_chunk(files, "0/.c.9.9.dat", 9, 9);
    put_chunk(files, "0/0/c.9.9.dat.tmp", 9, 9); // named as a chunk: the walk takes it too
    write_file(files + "/0/0/notes.txt", {'x'});
    write_file(regions + "/region/r.9.9.mcr", Bytes(100, 1));
    write_file(regions + "/region/r.8.8.mca", Bytes(4096, 1));
    EXPECT_EQ(count_chunks(world_kind::chunk_files, files), 26u);
    EXPECT_EQ(count_chunks(world_kind::region, regions), 1600u);
    EXPECT_EQ(count_chunks(world_kind::sectioned, regions), 1024u);
}

TEST(WorldWalk, MissingWorldDirectory) {
    TempDir dir;
    const std::string missing = dir.file("no-world");
    RunResult r = run_tool({missing, "16"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Processing...\nCould not open directory " + missing + " - " +
                         std::strerror(ENOENT) + "\n");
    EXPECT_EQ(r.out, "");

    // A regular file is no directory either.
    write_file(dir.file("file"), {'x'});
    r = run_tool({dir.file("file"), "16"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Processing...\nCould not open directory " + dir.file("file") + " - " +
                         std::strerror(ENOTDIR) + "\n");
}

TEST(WorldWalk, EntryThatCannotBeStatedStopsTheWalk) {
    // A dangling symbolic link: listed, but stat cannot examine it. Its
    // name would be skipped anyway; it stops the walk all the same.
    struct Case {
        const char *link;
        const char *what;
    };
    for (const Case &c : {Case{"zz", "level 1"}, Case{"0/Q_Q", "level 2"},
                          Case{"0/0/c.9.9.dat", "level 3"}, Case{"0/0/junk", "level 3 junk"}}) {
        TempDir dir;
        put_chunk(dir.path(), "0/0/c.0.0.dat", 0, 0);
        fs::create_symlink(dir.file("nowhere"), dir.file(c.link));
        RunResult r = run_tool({dir.path().string(), "16", "-v"});
        EXPECT_EQ(r.status, 1) << c.what;
        const std::string stat_line = "Stat failed on " + dir.file(c.link);
        const std::vector<std::string> lines = lines_of(r.err);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front(), "Processing...") << c.what;
        EXPECT_EQ(lines.back(), stat_line) << c.what;
        EXPECT_EQ(r.err.find("World updated"), std::string::npos) << c.what;
    }
}

TEST(WorldWalk, TemporaryNamesAreNeverExaminedAndNamesAreShownEscaped) {
    // A dot-named entry (another program's temporary file, gone or not) is
    // never looked at, so a dangling one does not stop the walk; a chunk
    // name holding control characters cannot drive the terminal.
    TempDir dir;
    const std::string odd = "0/0/c.0.0.dat\x1b[2J\n";
    put_chunk(dir.path(), odd, 0, 0);
    fs::create_symlink(dir.file("nowhere"), dir.file("0/0/.c.1.1.dat.Xy12Ab"));
    fs::create_symlink(dir.file("nowhere"), dir.file(".zz"));
    RunResult r = run_tool({dir.path().string(), "16", "-v"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "Processing...\nUpdating chunk 0/0/c.0.0.dat\\x1b[2J\\x0a...\nWorld updated\n");
}

// Walk hooks for a walk with nothing in flight.
struct QuietHooks : walk_hooks {
    void settle_folder(dev_t, ino_t) override {}
    bool settle_file(dev_t, ino_t) override { return false; }
    bool problem(walk_problem, const std::string &, int, bool) override { return true; }
    void skipped(const std::string &, const std::string &) override {}
};

TEST(WorldWalk, AChunkReplacedAfterTheWalkSawItIsNotRead) {
    // A FIFO would block a plain open for ever; another file is not the
    // chunk the walk chose.
    for (const bool fifo : {true, false}) {
        TempDir dir;
        put_chunk(dir.path(), "0/0/c.0.0.dat", 0, 0);
        chunk_files_format format(dir.path().string(), false);
        ASSERT_TRUE(format.open());
        QuietHooks hooks;
        std::unique_ptr<world_unit> unit;
        ASSERT_EQ(format.next(unit, hooks), world_format::step::unit);
        const std::string file = dir.file("0/0/c.0.0.dat");
        if (fifo) {
            fs::remove(file);
            ASSERT_EQ(mkfifo(file.c_str(), 0644), 0);
        } else {
            put_chunk(dir.path(), "0/0/other", 0, 0); // a new inode, renamed over it
            fs::rename(dir.file("0/0/other"), file);
        }
        chunk_io io;
        nbt::document doc;
        EXPECT_EQ(unit->load(0, doc, io), chunk_status::parse_failed) << fifo;
        EXPECT_EQ(doc, nullptr);
    }
}

TEST(WorldWalk, FolderThatCannotBeOpenedStopsTheWalk) {
    if (!can_run_as_nobody()) {
        GTEST_SKIP() << "needs root to run the tool as an unprivileged user";
    }
    for (const char *locked : {"0", "0/0"}) {
        TempDir dir;
        const std::string world = dir.file("w");
        put_chunk(world, "0/0/c.0.0.dat", 0, 0);
        for (const std::string &d : {dir.path().string(), world, world + "/0", world + "/0/0"}) {
            ASSERT_EQ(chmod(d.c_str(), 0755), 0);
        }
        // Owned by root and closed to others: nobody can examine it from
        // its parent but cannot list it.
        ASSERT_EQ(chmod((world + "/" + locked).c_str(), 0700), 0);
        RunResult r = run_with_setup(LODECAST_EXE, {world, "16", "-v"}, {.as_nobody = true});
        EXPECT_EQ(r.status, 1) << locked;
        EXPECT_EQ(r.err, "Processing...\nCould not open directory " + world + "/" + locked + "\n")
            << locked;
    }
}

TEST(WorldWalk, ModificationTimeBoundsAreInclusive) {
    TempDir dir;
    set_mtime(put_chunk(dir.path(), "0/0/c.0.0.dat", 0, 0), 999);
    set_mtime(put_chunk(dir.path(), "0/0/c.1.0.dat", 1, 0), 1000);
    set_mtime(put_chunk(dir.path(), "0/0/c.2.0.dat", 2, 0), 1001);
    // Beyond 2^31: compared as unsigned 32-bit, so it is "after" 1000.
    set_mtime(put_chunk(dir.path(), "0/0/c.3.0.dat", 3, 0), 3000000000);

    RunResult before = run_tool({dir.path().string(), "1", "-v", "-mb", "1000"});
    EXPECT_EQ(before.status, 0);
    EXPECT_EQ(updated_chunks(before.err),
              (std::vector<std::string>{"0/0/c.0.0.dat", "0/0/c.1.0.dat"}));

    // The walk rewrote those two: set the times again.
    set_mtime(dir.file("0/0/c.0.0.dat"), 999);
    set_mtime(dir.file("0/0/c.1.0.dat"), 1000);
    RunResult after = run_tool({dir.path().string(), "1", "-v", "-ma", "1000"});
    EXPECT_EQ(after.status, 0);
    EXPECT_EQ(updated_chunks(after.err),
              (std::vector<std::string>{"0/0/c.1.0.dat", "0/0/c.2.0.dat", "0/0/c.3.0.dat"}));

    set_mtime(dir.file("0/0/c.3.0.dat"), 3000000000);
    RunResult high = run_tool({dir.path().string(), "1", "-v", "-mb", "2999999999"});
    EXPECT_EQ(updated_chunks(high.err).size(), 3u); // all but c.3.0
    set_mtime(dir.file("0/0/c.3.0.dat"), 3000000000);
    high = run_tool({dir.path().string(), "1", "-v", "-ma", "3000000000"});
    EXPECT_EQ(updated_chunks(high.err), (std::vector<std::string>{"0/0/c.3.0.dat"}));
}

TEST(WorldWalk, FilteredChunksPrintNothingAndKeepTheirBytes) {
    TempDir dir;
    const std::string path = put_chunk(dir.path(), "0/0/c.0.0.dat", 0, 0);
    set_mtime(path, 5000);
    const Bytes before = read_file(path);
    RunResult r = run_tool({dir.path().string(), "16", "-vv", "-mb", "4999"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Processing...\nWorld updated\n");
    EXPECT_EQ(read_file(path), before);
}

TEST(WorldWalk, RectangleBoundsAreInclusive) {
    TempDir dir;
    const std::vector<std::pair<int, int>> chunks = {{0, 0}, {0, 1},  {1, 0}, {1, 1},
                                                     {2, 0}, {-1, 0}, {0, 2}, {-1, -1}};
    auto name = [](int v) { return v < 0 ? "-" + std::to_string(-v) : std::to_string(v); };
    for (const auto &[x, z] : chunks) {
        // Folders need not match the coordinates: the filter reads names.
        put_chunk(dir.path(), "0/0/c." + name(x) + "." + name(z) + ".dat", x, z);
    }
    RunResult r = run_tool({dir.path().string(), "1", "-v", "-bb", "0", "0", "1", "1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(updated_chunks(r.err), (std::vector<std::string>{"0/0/c.0.0.dat", "0/0/c.0.1.dat",
                                                               "0/0/c.1.0.dat", "0/0/c.1.1.dat"}));

    // Corners given the wrong way round are swapped; bounds stay inclusive.
    r = run_tool({dir.path().string(), "1", "-v", "-bb", "0", "0", "-1", "-1"});
    EXPECT_EQ(updated_chunks(r.err),
              (std::vector<std::string>{"0/0/c.-1.-1.dat", "0/0/c.-1.0.dat", "0/0/c.0.0.dat"}));
}

TEST(WorldWalk, TimeFilterComesBeforeTheRectangle) {
    TempDir dir;
    set_mtime(put_chunk(dir.path(), "0/0/c.0.0.dat", 0, 0), 100);
    set_mtime(put_chunk(dir.path(), "0/0/c.5.0.dat", 5, 0), 100);
    set_mtime(put_chunk(dir.path(), "0/0/c.1.0.dat", 1, 0), 900);
    RunResult r =
        run_tool({dir.path().string(), "1", "-v", "-mb", "500", "-bb", "0", "0", "3", "3"});
    EXPECT_EQ(updated_chunks(r.err), (std::vector<std::string>{"0/0/c.0.0.dat"}));
}

TEST(WorldWalk, InvalidChunkIsSkippedAndTheWalkGoesOn) {
    TempDir dir;
    const std::string bad = dir.file("0/0/c.0.0.dat");
    fs::create_directories(dir.path() / "0/0");
    write_gzip_file(bad, NbtBytes().head(10, "").head(10, "Level").end().end().bytes());
    const Bytes bad_before = read_file(bad);

    RunResult r = run_tool({dir.path().string(), "16", "-v"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Processing...\n"
                     "Updating chunk 0/0/c.0.0.dat...\n"
                     "File \"" +
                         bad +
                         "\" is not a valid chunk\n"
                         "Failed to update chunk.  Skipping...\n"
                         "World updated\n");
    EXPECT_EQ(read_file(bad), bad_before);

    // Without -v only the chunk update's own message remains.
    r = run_tool({dir.path().string(), "16"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Processing...\nFile \"" + bad + "\" is not a valid chunk\nWorld updated\n");

    // A file that is no NBT at all fails in the reader instead; the walk
    // goes on with the next chunk.
    write_file(bad, {'n', 'o', 't', ' ', 'n', 'b', 't'});
    put_chunk(dir.path(), "0/1/c.0.1.dat", 0, 1);
    r = run_tool({dir.path().string(), "1", "-v"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(updated_chunks(r.err), (std::vector<std::string>{"0/0/c.0.0.dat", "0/1/c.0.1.dat"}));
    EXPECT_NE(r.err.find("Failed to update chunk.  Skipping...\n"), std::string::npos);
    EXPECT_EQ(lines_of(r.err).back(), "World updated");
}

// A folder in memory when the machine has one: a second kind of file
// system, which orders its listings differently from the disk.
class MemoryDir {
  public:
    MemoryDir() {
        std::string tmpl = "/dev/shm/lodecast-test-XXXXXX";
        if (fs::is_directory("/dev/shm") && mkdtemp(tmpl.data()) != nullptr) {
            path_ = tmpl;
        }
    }
    ~MemoryDir() {
        std::error_code ec;
        if (!path_.empty()) {
            fs::remove_all(path_, ec);
        }
    }
    MemoryDir(const MemoryDir &) = delete;
    MemoryDir &operator=(const MemoryDir &) = delete;
    const fs::path &path() const { return path_; }

  private:
    fs::path path_;
};

void expect_every_chunk_once(const fs::path &root) {
    // Long names (leading zeros are allowed) spread the listing over several
    // reads of the directory, so that rewriting during the listing would
    // show on file systems that list a replaced entry anew; the chunks are
    // minimal to keep the run short.
    const Bytes minimal = NbtBytes()
                              .head(10, "")
                              .head(10, "Level")
                              .byte_array("Blocks", Bytes(32768, 0))
                              .end()
                              .end()
                              .bytes();
    fs::create_directories(root / "0" / "0");
    std::vector<std::string> expected;
    for (int i = 0; i < 400; ++i) {
        const std::string rel = "0/0/c." + std::string(200, '0') + std::to_string(i) + ".0.dat";
        write_gzip_file((root / rel).string(), minimal);
        expected.push_back(rel);
    }
    std::sort(expected.begin(), expected.end());
    RunResult r = run_tool({root.string(), "1", "-v"});
    EXPECT_EQ(r.status, 0);
    const std::vector<std::string> got = updated_chunks(r.err);
    EXPECT_EQ(got.size(), expected.size()) << root;
    EXPECT_TRUE(got == expected) << root;
    EXPECT_TRUE(dot_entries(root.string()).empty());
}

TEST(WorldWalk, EveryChunkOfABigFolderIsVisitedOnce) {
    // Each rewrite replaces a file through a new directory entry; the walk
    // must still see every chunk exactly once.
    TempDir disk;
    expect_every_chunk_once(disk.path());
    MemoryDir memory;
    if (!memory.path().empty()) {
        expect_every_chunk_once(memory.path());
    }
}

TEST(WorldWalk, PathsLongerThanAnyFixedBuffer) {
    TempDir dir;
    fs::path root = dir.path();
    for (int i = 0; i < 6; ++i) {
        root /= std::string(60, static_cast<char>('a' + i));
    }
    const std::string rel = "0/0/c.0.0.dat";
    const std::string path = put_chunk(root, rel, 0, 0);
    ASSERT_GT(path.size(), 380u);
    RunResult r = run_tool({root.string(), "16", "-v"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(updated_chunks(r.err), (std::vector<std::string>{rel}));
    EXPECT_NE(gunzip_file(path), make_chunk_document(0, 0)); // veins were added
}

} // namespace

#endif
