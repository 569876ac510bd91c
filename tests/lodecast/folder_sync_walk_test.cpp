// A run that writes chunks makes each group of them durable with one sync
// of the world's file system before their renames, and syncs the file
// system once more at its end, on one thread as on several, also when the
// walk stops early; it syncs no file or folder on its own, and a run that
// wrote nothing syncs nothing. A group whose sync fails is not renamed.
// Every chunk comes out complete and the same whatever the number of
// threads. The runs happen in this process with a syncer that counts (or
// refuses) what the run synced.
#include "lodecast/ores/random.h"
#include "lodecast/pipeline/world_update.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "support/world_check.h"
#include "world_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using world_test::put_chunk;
namespace fs = std::filesystem;

// Standard error of this process goes to a file while it lives.
class StderrToFile {
  public:
    explicit StderrToFile(const std::string &path) {
        std::fflush(stderr);
        saved_ = dup(2);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (saved_ >= 0 && fd >= 0) {
            dup2(fd, 2);
        }
        if (fd >= 0) {
            close(fd);
        }
    }
    ~StderrToFile() {
        std::fflush(stderr);
        if (saved_ >= 0) {
            dup2(saved_, 2);
            close(saved_);
        }
    }
    StderrToFile(const StderrToFile &) = delete;
    StderrToFile &operator=(const StderrToFile &) = delete;

  private:
    int saved_;
};

struct InProcessRun {
    int status = -1;
    std::string err;
    unsigned long file_syncs = 0;
    unsigned long folder_syncs = 0;     // folders and file systems
    bool refuse = false;                // every sync fails
    std::map<std::string, Bytes> files; // every file afterwards, decompressed
};

// Counts the syncs a run asks for, and syncs.
int counting_sync(int fd, void *context) {
    struct stat st {};
    auto *r = static_cast<InProcessRun *>(context);
    ++(fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) ? r->folder_syncs : r->file_syncs);
    return r->refuse ? -1 : fsync(fd);
}

// Runs the tool's walk in this process on world with ore 16, a fixed seed,
// -v and threads threads.
InProcessRun run_in_process(const fs::path &world, int threads, bool refuse = false) {
    options opt{};
    opt.set = OPT_VERBOSE | OPT_SEED;
    opt.threads = threads;
    std::vector<ore_plan> coal(1);
    coal[0].block.id = 16;
    coal[0].opt = opt;
    apply_ore_defaults(16, &coal[0].opt);
    ore_srand(99);
    TempDir out;
    InProcessRun r;
    r.refuse = refuse;
    durable_policy d = run_durability();
    d.sync = counting_sync;
    d.context = &r;
    {
        StderrToFile redirect(out.file("err"));
        r.status = update_world(world.c_str(), opt, coal, d);
    }
    const Bytes err = read_file(out.file("err"));
    r.err.assign(err.begin(), err.end());
    for (const auto &[rel, raw] : snapshot_files(world.string())) {
        try {
            r.files[rel] = gunzip_file((world / rel).string());
        } catch (const std::exception &) {
            r.files[rel] = raw; // the file that is no chunk stays as it was
        }
    }
    return r;
}

// The file of mixed_world that is named as a chunk but cannot be read.
const std::string kWriteFailed = "nbt_write(): Failed - chunk left unchanged";
const char *const kNoChunk = "0/5/c.5.5.dat";

// Level-1 folders 0..2 and level-2 folders 0..2 in each, four chunks in
// each, plus folders that get nothing written: one holding only a file
// that is no chunk, one empty, one holding only a file with no chunk name.
void mixed_world(const fs::path &w) {
    for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b) {
            for (int c = 0; c < 4; ++c) {
                const int x = a + 64 * c;
                put_chunk(w,
                          std::to_string(a) + "/" + std::to_string(b) + "/c." + std::to_string(x) +
                              "." + std::to_string(b) + ".dat",
                          x, b);
            }
        }
    }
    fs::create_directories(w / "0/5");
    write_gzip_file((w / kNoChunk).string(), {'n', 'o', 't', ' ', 'n', 'b', 't'});
    fs::create_directories(w / "1/6");
    put_chunk(w, "2/7/notes.dat", 0, 0);
}

// The chunks a -v run reported updating, but for the one that fails.
std::vector<std::string> written_chunks(const std::string &err) {
    std::vector<std::string> out;
    for (const std::string &rel : world_test::updated_chunks(err)) {
        if (rel != kNoChunk) {
            out.push_back(rel);
        }
    }
    return out;
}

struct WalkCase {
    const char *name;
    std::function<void(const fs::path &)> make;
    int status;
    // Whether any chunk gets written: then the file system is synced once.
    bool writes;
};

TEST(FolderSyncWalk, OneFileSystemSyncAtTheEndOnAnyNumberOfThreads) {
    const WalkCase cases[] = {
        {"nine folders with chunks, three without", mixed_world, 0, true},
        // 0/3 leads to 0/0: the folder is walked and written twice.
        {"a folder walked twice",
         [](const fs::path &w) {
             mixed_world(w);
             ASSERT_EQ(symlink("0", (w / "0/3").c_str()), 0);
         },
         0, true},
        // The walk stops at a dangling link: what was written before it is
        // synced all the same.
        {"a walk that stops",
         [](const fs::path &w) {
             mixed_world(w);
             ASSERT_EQ(symlink("nowhere", (w / "1/1/c.9.9.dat").c_str()), 0);
         },
         1, true},
        {"nothing to write",
         [](const fs::path &w) {
             fs::create_directories(w / "0/5");
             write_gzip_file((w / kNoChunk).string(), {'n', 'o', 't', ' ', 'n', 'b', 't'});
             put_chunk(w, "2/7/notes.dat", 0, 0);
         },
         0, false},
        // The walk stops before any chunk is written.
        {"a walk that stops before writing",
         [](const fs::path &w) {
             fs::create_directories(w / "0/0");
             ASSERT_EQ(symlink("nowhere", (w / "0/0/c.0.0.dat").c_str()), 0);
         },
         1, false},
    };
    for (const WalkCase &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const fs::path world = dir.path() / "world";
        // The same path for every run: the messages hold it.
        std::vector<InProcessRun> runs;
        FileSnapshot before;
        for (int threads : {1, 2, 8}) {
            SCOPED_TRACE("-j " + std::to_string(threads));
            fs::remove_all(world);
            c.make(world);
            before = snapshot_files(world.string());
            runs.push_back(run_in_process(world, threads));
            const InProcessRun &r = runs.back();
            EXPECT_EQ(r.status, c.status) << r.err;
            EXPECT_EQ(written_chunks(r.err).empty(), !c.writes) << r.err;
            // Syncs of the file system, which takes them here: at least one
            // for a group and one at the end, never more than a group per
            // chunk; no file needs one of its own.
            const size_t written = written_chunks(r.err).size();
            EXPECT_GE(r.folder_syncs, c.writes ? 2u : 0u) << r.err;
            EXPECT_LE(r.folder_syncs, c.writes ? written + 1 : 0u) << r.err;
            EXPECT_EQ(r.file_syncs, 0u) << r.err;
            EXPECT_TRUE(dot_entries(world.string()).empty());
            // Every chunk reported is complete and holds its veins.
            for (std::string rel : written_chunks(r.err)) {
                if (rel.rfind("0/3/", 0) == 0) {
                    rel = "0/0/" + rel.substr(4); // the linked folder's file
                }
                const ChunkCheck check =
                    check_chunk_file((world / rel).string(), before[rel], kCoal);
                EXPECT_EQ(check.state, ChunkState::Updated) << rel << ": " << check.detail;
            }
        }
        for (size_t i = 1; i < runs.size(); ++i) {
            EXPECT_EQ(runs[i].err, runs[0].err) << "run " << i;
            ASSERT_EQ(runs[i].files.size(), runs[0].files.size());
            for (const auto &[rel, bytes] : runs[0].files) {
                EXPECT_TRUE(runs[i].files[rel] == bytes) << rel << " differs in run " << i;
            }
        }
    }
}

TEST(FolderSyncWalk, NoChunkIsRenamedWithoutASuccessfulSync) {
    TempDir dir;
    const fs::path world = dir.path() / "world";
    for (int threads : {1, 8}) {
        fs::remove_all(world);
        mixed_world(world);
        const FileSnapshot before = snapshot_files(world.string());
        const InProcessRun r = run_in_process(world, threads, true);
        EXPECT_EQ(r.status, 2) << r.err; // walked to its end, but nothing written
        EXPECT_EQ(snapshot_files(world.string()), before) << "-j " << threads;
        // Each of the 36 chunks is reported as not written, the file that is
        // no chunk as ever.
        const std::vector<std::string> lines = lines_of(r.err);
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const std::string &l) { return l.starts_with(kWriteFailed); }),
                  36);
        EXPECT_TRUE(dot_entries(world.string()).empty());
    }
}

} // namespace
