// The tool never loses or damages a chunk: every chunk file that a run
// touches holds either exactly its old bytes or a complete, valid chunk with
// veins, whatever the file held (cut short, corrupt, malformed) and however
// the run ended (write failures, no permission, SIGKILL). Each group of
// cases is laid out as the chunk files of one world and run through the
// real executable once.
#include "lodecast/formats/chunk_name.h"
#include "support/child_run.h"
#include "support/chunk_bytes.h"
#include "support/kill_loop.h"
#include "support/run.h"
#include "support/temp_dir.h"
#include "support/world_check.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <zlib.h>

namespace fs = std::filesystem;

#ifdef LODECAST_EXE

namespace {

// The worlds live in memory when the machine has /dev/shm: every chunk
// write ends with fsync, which costs milliseconds on a disk and nothing
// there, and what these tests prove (a chunk is replaced whole or not at
// all, even when the process is killed) does not depend on the medium.
class InMemoryTempDirs : public ::testing::Environment {
  public:
    void SetUp() override {
        if (access("/dev/shm", W_OK | X_OK) == 0) {
            setenv("TMPDIR", "/dev/shm", 1);
        }
    }
};
const auto *const kInMemory = ::testing::AddGlobalTestEnvironment(new InMemoryTempDirs);

const std::string kParseFailed = "nbt_parse(): Failed - RAM?";
const std::string kWriteFailed = "nbt_write(): Failed - chunk left unchanged";
const std::string kSkipping = "Failed to update chunk.  Skipping...";

bool names_write_failure(const std::string &line, const std::string &path) { // and why
    return line.starts_with(kWriteFailed + " (" + path + ": ") && line.ends_with(")");
}
std::string partly_updated(int n) {
    return "World partly updated: " + std::to_string(n) +
           (n == 1 ? " file could not be written and keeps its old content\n"
                   : " files could not be written and keep their old content\n");
}

// What a case must come to; Any only requires old-or-complete.
enum class Expect { Any, Updated, Unreadable, Invalid, WriteFailed };

struct Case {
    std::string label;
    Bytes content; // the chunk file's bytes before the run
    Expect expect;
};

const std::string &real_chunk_path() {
    static const std::string path = std::string(LODECAST_TEST_DATA) + "/chunks/c.-o.4.dat";
    return path;
}

Bytes gz(const Bytes &plain) {
    return gzip_bytes(plain);
}

Bytes real_chunk_plain() {
    return gunzip_file(real_chunk_path());
}

// True when stream is one complete, intact gzip member holding plain.
bool inflates_to(const Bytes &stream, const Bytes &plain) {
    z_stream zs{};
    if (inflateInit2(&zs, 16 + 15) != Z_OK) {
        return false;
    }
    Bytes out(plain.size() + 1);
    zs.next_in = const_cast<uint8_t *>(stream.data());
    zs.avail_in = static_cast<uInt>(stream.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&zs, Z_FINISH);
    const size_t produced = out.size() - zs.avail_out;
    inflateEnd(&zs);
    out.resize(produced);
    return rc == Z_STREAM_END && out == plain;
}

// A generated chunk with extra bytes inside "Level", gzip-compressed.
Bytes chunk_with(const Bytes &level_extra) {
    return gz(make_chunk_document(0, 0, level_extra));
}

// Rel path of case i inside the test world.
std::string case_path(size_t i) {
    return "0/0/c." + base36(static_cast<int64_t>(i)) + ".0.dat";
}

struct MatrixTotals {
    int files = 0;
    int unchanged = 0;
    int updated = 0;
};

// Checks one chunk file after the run against its case and what the tool
// printed for it; returns the state found.
ChunkState check_case(const Case &c, const std::string &world, const std::string &rel,
                      const std::vector<std::string> *lines) {
    const std::string path = world + "/" + rel;
    const ChunkCheck check = check_chunk_file(path, c.content, kCoal);
    const std::string what = c.label + " (" + rel + ")";
    if (lines == nullptr) {
        ADD_FAILURE() << what << ": the run never reached this chunk";
        return check.state;
    }
    if (check.state == ChunkState::Damaged) {
        ADD_FAILURE() << what << ": damaged: " << check.detail;
        return check.state;
    }
    std::string failure; // the chunk update's own message, if any
    if (check.state == ChunkState::Updated) {
        EXPECT_TRUE(lines->empty()) << what << ": updated, yet reported: " << lines->front();
    } else if (lines->size() != 2 || (*lines)[1] != kSkipping) {
        ADD_FAILURE() << what << ": left unchanged without the failure messages";
    } else {
        failure = (*lines)[0];
        const std::string invalid = "File \"" + path + "\" is not a valid chunk";
        EXPECT_TRUE(failure == kParseFailed || failure == invalid ||
                    names_write_failure(failure, path))
            << what << ": unexpected message " << failure;
    }
    switch (c.expect) {
    case Expect::Any:
        break;
    case Expect::Updated:
        EXPECT_EQ(check.state, ChunkState::Updated) << what << ": " << failure;
        break;
    case Expect::Unreadable:
        EXPECT_EQ(failure, kParseFailed) << what;
        break;
    case Expect::Invalid:
        EXPECT_EQ(failure, "File \"" + path + "\" is not a valid chunk") << what;
        break;
    case Expect::WriteFailed:
        EXPECT_TRUE(names_write_failure(failure, path)) << what << ": " << failure;
        break;
    }
    return check.state;
}

// The tool as nobody may run it: a copy in the (opened) temporary folder,
// since the build folder may lie below one that only root may enter.
std::string tool_for(const ChildSetup &setup, const TempDir &tmp) {
    if (!setup.as_nobody) {
        return LODECAST_EXE;
    }
    const std::string copy = tmp.file("lodecast");
    fs::copy_file(LODECAST_EXE, copy, fs::copy_options::overwrite_existing);
    chmod(copy.c_str(), 0755);
    return copy;
}

// Lays the cases out as one world, runs the tool over it with -v (under
// setup) and checks every file, its messages and that no dot file is left.
MatrixTotals run_matrix(const std::vector<Case> &cases, const ChildSetup &setup = {},
                        const std::function<void(const std::string &)> &prepare = {}) {
    TempDir tmp;
    const std::string world = tmp.file("world");
    fs::create_directories(world + "/0/0");
    for (size_t i = 0; i < cases.size(); ++i) {
        write_file(world + "/" + case_path(i), cases[i].content);
    }
    if (prepare) {
        prepare(world);
    }
    const RunResult r = run_with_setup(tool_for(setup, tmp), {world, "16", "-v"}, setup);
    const std::vector<std::string> all = lines_of(r.err);
    const auto unwritten = std::count_if(all.begin(), all.end(), [](const std::string &l) {
        return l.starts_with(kWriteFailed);
    }); // status 2 then
    EXPECT_EQ(r.status, unwritten > 0 ? 2 : 0)
        << r.err.substr(r.err.size() > 2000 ? r.err.size() - 2000 : 0);
    EXPECT_TRUE(r.err.starts_with("Processing...\n"));
    EXPECT_TRUE(r.err.ends_with(unwritten > 0 ? partly_updated(static_cast<int>(unwritten))
                                              : "World updated\n"));
    EXPECT_EQ(r.out, "");

    const auto messages = messages_by_chunk(r.err);
    EXPECT_EQ(messages.size(), cases.size()) << "every chunk is visited exactly once";
    MatrixTotals totals;
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto it = messages.find(case_path(i));
        const ChunkState s =
            check_case(cases[i], world, case_path(i), it == messages.end() ? nullptr : &it->second);
        ++totals.files;
        totals.unchanged += s == ChunkState::Unchanged;
        totals.updated += s == ChunkState::Updated;
    }
    EXPECT_EQ(dot_entries(world), std::vector<std::string>{}) << "temporary files left behind";
    std::printf("[ matrix   ] %d chunk files: %d unchanged, %d updated\n", totals.files,
                totals.unchanged, totals.updated);
    return totals;
}

// Lengths 0..63, the last 64 and every 97th in between.
std::vector<size_t> prefix_lengths(size_t n) {
    std::vector<size_t> lengths;
    for (size_t len = 0; len < n; ++len) {
        if (len < 64 || len + 64 >= n || len % 97 == 0) {
            lengths.push_back(len);
        }
    }
    return lengths;
}

TEST(FaultMatrix, EveryCutShortChunkFileIsLeftAlone) {
    const Bytes file = read_file(real_chunk_path());
    std::vector<Case> cases;
    for (size_t len : prefix_lengths(file.size())) {
        // An empty file reads as a lone end tag: no chunk. Any other cut
        // ends the gzip stream early, which the reader refuses.
        cases.push_back({"first " + std::to_string(len) + " bytes",
                         Bytes(file.begin(), file.begin() + static_cast<long>(len)),
                         len == 0 ? Expect::Invalid : Expect::Unreadable});
    }
    cases.push_back({"whole file", file, Expect::Updated});
    const MatrixTotals t = run_matrix(cases);
    EXPECT_EQ(t.updated, 1);
}

TEST(FaultMatrix, CutShortDocumentsAreRefusedOrWrittenWhole) {
    // Cuts of the decompressed document, compressed again: every cut is
    // refused, also one where only the last end tags are missing (an empty
    // document is read, and is no chunk).
    const Bytes plain = real_chunk_plain();
    std::vector<Case> cases;
    for (size_t len : prefix_lengths(plain.size())) {
        cases.push_back({"document cut to " + std::to_string(len) + " bytes",
                         gz(Bytes(plain.begin(), plain.begin() + static_cast<long>(len))),
                         len == 0 ? Expect::Invalid : Expect::Unreadable});
    }
    const MatrixTotals t = run_matrix(cases);
    EXPECT_EQ(t.unchanged, static_cast<int>(cases.size()));
}

TEST(FaultMatrix, CorruptGzipStreamsAreLeftAlone) {
    const Bytes file = read_file(real_chunk_path());
    const Bytes plain = real_chunk_plain();
    std::mt19937 rng(20261207);
    std::uniform_int_distribution<size_t> pos(0, file.size() - 1);
    std::uniform_int_distribution<int> flip(1, 255);
    std::vector<size_t> positions;
    for (size_t p = 0; p < 10; ++p) {
        positions.push_back(p); // every header byte
    }
    for (size_t p = file.size() - 8; p < file.size(); ++p) {
        positions.push_back(p); // every trailer byte: CRC-32 and length
    }
    for (int i = 0; i < 160; ++i) {
        positions.push_back(pos(rng));
    }
    std::vector<Case> cases;
    for (size_t p : positions) {
        Bytes bad = file;
        const int x = flip(rng);
        bad[p] ^= static_cast<uint8_t>(x);
        // Past the header, a change that alters the data is caught by the
        // CRC-32 and length checks; some changes (unused Huffman codes,
        // padding bits) still give the same data, a valid chunk. In the
        // header the time stamp and OS bytes are ignored and a broken
        // signature makes the file read as plain data.
        Expect expect = Expect::Any;
        if (p >= 10) {
            expect = inflates_to(bad, plain) ? Expect::Updated : Expect::Unreadable;
        }
        cases.push_back(
            {"gzip byte " + std::to_string(p) + " ^ " + std::to_string(x), bad, expect});
    }
    run_matrix(cases);
}

// A chunk document whose "Level" holds a block array and what add puts there.
Bytes level_with(const std::function<void(NbtBytes &)> &add) {
    NbtBytes b;
    b.head(TAG_COMPOUND, "").head(TAG_COMPOUND, "Level").byte_array("Blocks", Bytes(32768, 1));
    add(b);
    return b.end().end().bytes();
}

TEST(FaultMatrix, WrongChecksumsEmptyAndPlainFiles) {
    const Bytes file = read_file(real_chunk_path());
    const Bytes plain = real_chunk_plain();
    Bytes bad_crc = file;
    bad_crc[file.size() - 8] ^= 0x01;
    Bytes bad_size = file;
    bad_size[file.size() - 1] ^= 0x40;
    Bytes trailing = file;
    trailing.push_back(0x00); // a byte after the gzip member: not a second member
    std::vector<Case> cases = {
        {"wrong CRC-32", bad_crc, Expect::Unreadable},
        {"wrong length in the trailer", bad_size, Expect::Unreadable},
        {"gzip trailer missing", Bytes(file.begin(), file.end() - 8), Expect::Unreadable},
        {"garbage after the gzip member", trailing, Expect::Invalid},
        {"empty file", {}, Expect::Invalid},
        {"gzip stream of nothing", gz({}), Expect::Invalid},
        {"plain real chunk", plain, Expect::Updated},
        {"plain generated chunk", make_chunk_document(3, -4), Expect::Updated},
        {"bytes after the root", gz(NbtBytes().raw(plain).raw({1, 2, 3, 0, 0}).bytes()),
         Expect::Invalid},
        {"a zero byte inside a tag name",
         gz(level_with([](NbtBytes &b) { b.head(TAG_BYTE, std::string("a\0b", 3)).u8(1); })),
         Expect::Invalid},
        {"more tags than any chunk has", gz(level_with([](NbtBytes &b) {
             for (int i = 0; i < 200000; ++i) {
                 b.head(TAG_BYTE, "t").u8(0);
             }
         })),
         Expect::Invalid},
        {"a file over the size limit", gz(level_with([](NbtBytes &b) {
             std::mt19937 rng(3);
             Bytes noise(3 << 20);
             for (unsigned char &c : noise) {
                 c = static_cast<unsigned char>(rng());
             }
             b.byte_array("Noise", noise);
         })),
         Expect::Invalid},
        {"a gzip file of the right name holding text", gz({'h', 'e', 'l', 'l', 'o'}),
         Expect::Unreadable},
    };
    run_matrix(cases);
}

TEST(FaultMatrix, CorruptDocumentsAreRefusedOrUpdatedWhole) {
    const Bytes plain = real_chunk_plain();
    std::mt19937 rng(7);
    std::uniform_int_distribution<size_t> pos(0, plain.size() - 1);
    std::uniform_int_distribution<int> flip(1, 255);
    // Mostly the structure: the first bytes and the bytes around every name.
    std::vector<size_t> positions;
    for (size_t p = 0; p < 48; ++p) {
        positions.push_back(p);
    }
    for (const std::string name : {"Data", "SkyLight", "BlockLight", "HeightMap", "Entities",
                                   "TileEntities", "LastUpdate", "xPos", "TerrainPopulated"}) {
        const auto at = std::search(plain.begin(), plain.end(), name.begin(), name.end());
        ASSERT_NE(at, plain.end()) << name;
        const size_t p = static_cast<size_t>(at - plain.begin());
        for (size_t q = p - 3; q < p + name.size() + 5 && q < plain.size(); ++q) {
            positions.push_back(q);
        }
    }
    for (int i = 0; i < 60; ++i) {
        positions.push_back(pos(rng));
    }
    std::vector<Case> cases;
    for (size_t p : positions) {
        for (int x : {0x80, flip(rng)}) {
            Bytes bad = plain;
            bad[p] ^= static_cast<uint8_t>(x);
            cases.push_back({"document byte " + std::to_string(p) + " ^ " + std::to_string(x),
                             gz(bad), Expect::Any});
        }
    }
    const MatrixTotals t = run_matrix(cases);
    EXPECT_GT(t.unchanged, 0);
    EXPECT_GT(t.updated, 0);
}

TEST(FaultMatrix, BadLengthsAreRefused) {
    const std::vector<Case> cases = {
        {"string length 32768", chunk_with(NbtBytes().head(8, "s").i16(-32768).bytes()),
         Expect::Unreadable},
        {"string length 65535", chunk_with(NbtBytes().head(8, "s").i16(-1).raw({'a'}).bytes()),
         Expect::Unreadable},
        {"name length -2", chunk_with(NbtBytes().u8(1).i16(-2).u8(5).bytes()), Expect::Unreadable},
        {"string longer than the data", chunk_with(NbtBytes().head(8, "s").i16(32767).bytes()),
         Expect::Unreadable},
        {"byte array length -1", chunk_with(NbtBytes().head(7, "a").i32(-1).bytes()),
         Expect::Unreadable},
        {"byte array length 2^31 as read",
         chunk_with(NbtBytes().head(7, "a").i32(INT32_MIN).bytes()), Expect::Unreadable},
        {"byte array length 2^31-1",
         chunk_with(NbtBytes().head(7, "a").i32(INT32_MAX).raw(Bytes(64, 1)).bytes()),
         Expect::Unreadable},
        {"list of 2^31-1 ints", chunk_with(NbtBytes().head(9, "l").u8(3).i32(INT32_MAX).bytes()),
         Expect::Unreadable},
        {"list of 2^31-1 compounds",
         chunk_with(NbtBytes().head(9, "l").u8(10).i32(INT32_MAX).u8(0).u8(0).bytes()),
         Expect::Unreadable},
        {"list of 2^31-1 strings",
         chunk_with(NbtBytes().head(9, "l").u8(8).i32(INT32_MAX).str("x").bytes()),
         Expect::Unreadable},
        {"Blocks of 2^31-1 bytes",
         gz(NbtBytes()
                .head(10, "")
                .head(10, "Level")
                .head(7, "Blocks")
                .i32(INT32_MAX)
                .raw(Bytes(32768, 1))
                .end()
                .end()
                .bytes()),
         Expect::Unreadable},
        // A negative count is a list without elements, kept as it is.
        {"list count -5", chunk_with(NbtBytes().head(9, "l").u8(3).i32(-5).bytes()),
         Expect::Updated},
        {"list count INT32_MIN", chunk_with(NbtBytes().head(9, "l").u8(1).i32(INT32_MIN).bytes()),
         Expect::Updated},
    };
    run_matrix(cases);
}

// A chain of depth containers below "Level": lists of lists, or compounds
// in compounds, the innermost one empty.
Bytes nested(int depth, bool lists) {
    NbtBytes b;
    if (lists) {
        b.head(9, "deep");
        for (int i = 1; i < depth; ++i) {
            b.u8(9).i32(1); // a list holding one list
        }
        b.u8(3).i32(0); // the innermost: an empty list of ints
    } else {
        for (int i = 0; i < depth; ++i) {
            b.head(10, "n");
        }
        for (int i = 0; i < depth; ++i) {
            b.end();
        }
    }
    return b.bytes();
}

TEST(FaultMatrix, OverDeepNestingIsRefused) {
    // Lists and compounds nest at most 512 deep, the root compound being
    // the first level and "Level" the second.
    const std::vector<Case> cases = {
        {"513 levels of lists", chunk_with(nested(511, true)), Expect::Unreadable},
        {"513 levels of compounds", chunk_with(nested(511, false)), Expect::Unreadable},
        {"5000 levels of compounds", chunk_with(nested(5000, false)), Expect::Unreadable},
        {"100000 levels of lists", chunk_with(nested(100000, true)), Expect::Unreadable},
        {"512 levels of lists", chunk_with(nested(510, true)), Expect::Updated},
        {"512 levels of compounds", chunk_with(nested(510, false)), Expect::Updated},
    };
    run_matrix(cases);
}

TEST(FaultMatrix, ListsOfPayloadlessTypesAndUnknownTags) {
    NbtBytes arrays;
    arrays.head(11, "HeightMap2").i32(2).i32(64).i32(-1).head(12, "L").i32(1).i64(INT64_MIN);
    std::vector<Case> cases = {
        {"list of 1 TAG_END", chunk_with(NbtBytes().head(9, "l").u8(0).i32(1).bytes()),
         Expect::Unreadable},
        {"list of 2^31-1 TAG_END", chunk_with(NbtBytes().head(9, "l").u8(0).i32(INT32_MAX).bytes()),
         Expect::Unreadable},
        {"empty list of TAG_END", chunk_with(NbtBytes().head(9, "l").u8(0).i32(0).bytes()),
         Expect::Updated},
        // Int and long arrays are carried over like byte arrays.
        {"int array, long array and a list of int arrays",
         chunk_with(NbtBytes(arrays).head(9, "l").u8(11).i32(1).i32(0).bytes()), Expect::Updated},
    };
    for (int t : {13, 100, 200, 255}) {
        cases.push_back(
            {"list of 3 elements of type " + std::to_string(t),
             chunk_with(NbtBytes().head(9, "l").u8(static_cast<uint8_t>(t)).i32(3).bytes()),
             Expect::Unreadable});
    }
    // A tag of an unassigned type has no payload and could not be written
    // back faithfully, so such a chunk is left alone, wherever the tag is.
    for (int t = 13; t <= 255; ++t) {
        cases.push_back({"tag of type " + std::to_string(t) + " in Level",
                         chunk_with(NbtBytes().head(static_cast<uint8_t>(t), "odd").bytes()),
                         Expect::Invalid});
    }
    cases.push_back(
        {"tag of type 42 in a compound in Level",
         chunk_with(NbtBytes().head(10, "inner").head(42, "odd").head(1, "b").u8(1).end().bytes()),
         Expect::Invalid});
    run_matrix(cases);
}

std::vector<Case> assorted_chunks(Expect expect) {
    std::vector<Case> cases;
    for (const char *name : {"c.-j.6.dat", "c.-l.5.dat", "c.-o.4.dat"}) {
        cases.push_back(
            {name, read_file(std::string(LODECAST_TEST_DATA) + "/chunks/" + name), expect});
    }
    for (int i = 0; i < 5; ++i) {
        cases.push_back({"generated " + std::to_string(i), gz(make_chunk_document(i, -i)), expect});
    }
    return cases;
}

TEST(FaultMatrix, DiskFullLeavesEveryChunkAsItWas) {
    // No byte may be written: every write fails and every chunk keeps its bytes.
    run_matrix(assorted_chunks(Expect::WriteFailed), ChildSetup{.file_size_limit = 0});
    // The same under `ulimit -f`, which leaves SIGXFSZ to kill the writer:
    // the tool ignores it, so the write fails, is reported and cleaned up.
    run_matrix(assorted_chunks(Expect::WriteFailed),
               ChildSetup{.file_size_limit = 0, .default_sigxfsz = true});
    // Room for some of them (the rewritten real chunks take about 2.4, 4.0
    // and 5.0 kB): each is either untouched or complete.
    const MatrixTotals t =
        run_matrix(assorted_chunks(Expect::Any), ChildSetup{.file_size_limit = 3000});
    EXPECT_GT(t.unchanged, 0);
    EXPECT_GT(t.updated, 0);
}

// Makes the temporary world reachable for nobody (TempDir is private).
void open_path_for_nobody(const std::string &world) {
    for (fs::path p = world; p != p.root_path(); p = p.parent_path()) {
        if (p.string().starts_with(fs::temp_directory_path().string() + "/lodecast-test-")) {
            chmod(p.c_str(), 0755);
        }
    }
    chmod(world.c_str(), 0755);
}

void set_owner_mode(const std::string &path, bool nobody, mode_t mode) {
    ASSERT_EQ(chown(path.c_str(), nobody ? kNobodyUid : 0, nobody ? kNobodyGid : 0), 0) << path;
    ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

TEST(FaultMatrix, ReadOnlyChunkFilesAndFoldersAreLeftAlone) {
    if (!can_run_as_nobody()) {
        GTEST_SKIP() << "needs root to run the tool as an unprivileged user";
    }
    const Bytes chunk = read_file(real_chunk_path());
    // In folder 0/0, which nobody may write, files 0 and 1 are read-only
    // for nobody, 2 is writable and 3 unreadable.
    const std::vector<Case> cases = {
        {"read-only file of root", chunk, Expect::WriteFailed},
        {"read-only file of nobody", chunk, Expect::WriteFailed},
        {"writable file of nobody", chunk, Expect::Updated},
        {"unreadable file of root", chunk, Expect::Unreadable},
    };
    auto prepare = [&](const std::string &world) {
        open_path_for_nobody(world);
        set_owner_mode(world + "/0/0", true, 0755);
        set_owner_mode(world + "/" + case_path(0), false, 0444);
        set_owner_mode(world + "/" + case_path(1), true, 0444);
        set_owner_mode(world + "/" + case_path(2), true, 0640);
        set_owner_mode(world + "/" + case_path(3), false, 0600);
    };
    run_matrix(cases, ChildSetup{.as_nobody = true}, prepare);

    // A folder that nobody may not write, holding a chunk file nobody owns:
    // the temporary file cannot be made there.
    const std::string locked_rel = "0/1/c.0.1.dat";
    TempDir tmp;
    const std::string world = tmp.file("world");
    fs::create_directories(world + "/0/1");
    write_file(world + "/" + locked_rel, chunk);
    open_path_for_nobody(world);
    set_owner_mode(world + "/0/1", false, 0755);
    set_owner_mode(world + "/" + locked_rel, true, 0644);
    const RunResult r = run_with_setup(tool_for({.as_nobody = true}, tmp), {world, "16", "-v"},
                                       {.as_nobody = true});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.err, "Processing...\nUpdating chunk " + locked_rel + "...\n" + kWriteFailed + " (" +
                         world + "/" + locked_rel + ": Permission denied)\n" + kSkipping + "\n" +
                         partly_updated(1));
    EXPECT_EQ(read_file(world + "/" + locked_rel), chunk);
    EXPECT_EQ(dot_entries(world), std::vector<std::string>{});
}

TEST(FaultMatrix, ChunkNameTooLongForATemporaryFile) {
    // Anything may follow "dat" in a chunk name; at 255 bytes the name
    // leaves no room for the temporary file's prefix and suffix.
    TempDir tmp;
    const std::string world = tmp.file("world");
    const std::string rel = "0/0/c.0.0.dat" + std::string(255 - 9, 'x');
    fs::create_directories(world + "/0/0");
    const Bytes chunk = read_file(real_chunk_path());
    write_file(world + "/" + rel, chunk);
    const RunResult r = run_program(LODECAST_EXE, {world, "16", "-v"});
    const auto lines = messages_by_chunk(r.err);
    ASSERT_EQ(lines.count(rel), 1u) << r.err;
    const ChunkCheck c = check_chunk_file(world + "/" + rel, chunk, kCoal);
    EXPECT_NE(c.state, ChunkState::Damaged) << c.detail;
    EXPECT_EQ(r.status, c.state == ChunkState::Unchanged ? 2 : 0) << r.err;
    if (c.state == ChunkState::Unchanged) {
        EXPECT_TRUE(names_write_failure(lines.at(rel).front(), world + "/" + rel));
    } else {
        EXPECT_EQ(lines.at(rel), std::vector<std::string>{});
    }
    EXPECT_EQ(dot_entries(world), std::vector<std::string>{});
}

TEST(FaultMatrix, RewrittenChunkKeepsItsOwnerAndMode) {
    if (!can_run_as_nobody()) {
        GTEST_SKIP() << "needs root to run the tool as an unprivileged user";
    }
    TempDir tmp;
    const std::string world = tmp.file("world");
    const std::string rel = "0/0/c.0.0.dat";
    fs::create_directories(world + "/0/0");
    write_file(world + "/" + rel, read_file(real_chunk_path()));
    open_path_for_nobody(world);
    set_owner_mode(world + "/0/0", true, 0755);
    set_owner_mode(world + "/" + rel, true, 0604);
    const RunResult r =
        run_with_setup(tool_for({.as_nobody = true}, tmp), {world, "16"}, {.as_nobody = true});
    EXPECT_EQ(r.status, 0) << r.err;
    struct stat st {};
    ASSERT_EQ(stat((world + "/" + rel).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(st.st_uid, kNobodyUid);
    EXPECT_EQ(check_chunk_file(world + "/" + rel, read_file(real_chunk_path()), kCoal).state,
              ChunkState::Updated);
}

TEST(FaultMatrix, ASharedWorldKeepsGroupAndModeAndSaysOnceThatTheOwnerChanged) {
    if (!can_run_as_nobody()) {
        GTEST_SKIP() << "needs root to run the tool as an unprivileged user";
    }
    TempDir tmp;
    const std::string world = tmp.file("world");
    const std::vector<std::string> rels = {"0/0/c.0.0.dat", "0/0/c.0.1.dat"};
    fs::create_directories(world + "/0/0");
    open_path_for_nobody(world);
    ASSERT_EQ(chown((world + "/0/0").c_str(), 0, kNobodyGid), 0);
    ASSERT_EQ(chmod((world + "/0/0").c_str(), 0775), 0);
    for (const std::string &rel : rels) {
        write_file(world + "/" + rel, read_file(real_chunk_path()));
        ASSERT_EQ(chown((world + "/" + rel).c_str(), 0, kNobodyGid), 0);
        ASSERT_EQ(chmod((world + "/" + rel).c_str(), 0664), 0);
    }
    const RunResult r =
        run_with_setup(tool_for({.as_nobody = true}, tmp), {world, "16"}, {.as_nobody = true});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 3) << r.err;
    EXPECT_NE(r.err.find("now belong to the user running lodecast"), std::string::npos) << r.err;
    for (const std::string &rel : rels) {
        struct stat st {};
        ASSERT_EQ(stat((world + "/" + rel).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0664u) << rel;
        EXPECT_EQ(st.st_gid, kNobodyGid) << rel;
    }
}

TEST(FaultMatrix, StaleTemporaryFilesAreNeverTakenForChunks) {
    // Left by a killed run: a half-written one and a finished one.
    TempDir tmp;
    const std::string world = tmp.file("world");
    fs::create_directories(world + "/0/0");
    const Bytes chunk = read_file(real_chunk_path());
    write_file(world + "/0/0/c.0.0.dat", chunk);
    const std::map<std::string, Bytes> stale = {
        {"0/0/.c.0.0.dat.Ab12Cd", Bytes(chunk.begin(), chunk.begin() + 700)},
        {"0/0/.c.0.0.dat.XyZ987", chunk},
        {"0/.c.1.0.dat.q1w2e3", chunk},
    };
    for (const auto &[rel, bytes] : stale) {
        write_file(world + "/" + rel, bytes);
    }
    for (int run = 0; run < 2; ++run) {
        const RunResult r = run_program(LODECAST_EXE, {world, "16", "-v"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "Processing...\nUpdating chunk 0/0/c.0.0.dat...\nWorld updated\n");
        // Left alone: the next run neither reads, removes nor rewrites them.
        for (const auto &[rel, bytes] : stale) {
            EXPECT_EQ(read_file(world + "/" + rel), bytes) << rel;
        }
        EXPECT_EQ(dot_entries(world).size(), stale.size());
    }
    EXPECT_EQ(check_chunk_file(world + "/0/0/c.0.0.dat", chunk, kCoal).state, ChunkState::Updated);
}

TEST(FaultMatrix, KilledRunsNeverLoseAChunk) {
    TempDir tmp;
    const std::string world = tmp.file("world");
#ifdef LODECAST_MKWORLD_EXE
    const RunResult made = run_program(LODECAST_MKWORLD_EXE, {world, "16"});
    ASSERT_EQ(made.status, 0) << made.err;
#else
    write_generated_world(world, 16);
#endif
    const KillLoopStats s = kill_loop(LODECAST_EXE, world, 5, 4242);
    std::printf("[ kill     ] %d killed, %d finished first, %d chunks rewritten before a kill, "
                "%d temporary files left by kills, %d chunk checks\n",
                s.kills, s.finished, s.rewritten, s.temps_after_kill, s.files_checked);
    EXPECT_EQ(s.kills + s.finished, 5);
}

#ifdef LODECAST_MKWORLD_EXE

std::string made_world(const TempDir &tmp, const std::string &kind, int side) {
    std::vector<std::string> args = {tmp.file("world"), std::to_string(side)};
    args.insert(args.begin(), kind.empty() ? 0 : 1, kind); // lodecast-mkworld [kind] world side
    EXPECT_EQ(run_program(LODECAST_MKWORLD_EXE, args).status, 0);
    return args[args.size() - 2];
}

TEST(FaultMatrix, RegionFilesTheUserMayNotWriteAreReportedWithTheirReason) {
    if (!can_run_as_nobody()) {
        GTEST_SKIP() << "needs root to run the tool as an unprivileged user";
    }
    TempDir tmp;
    const std::string world = made_world(tmp, "--region", 40);
    open_path_for_nobody(world);
    const FileSnapshot before = snapshot_files(world);
    const RunResult r =
        run_with_setup(tool_for({.as_nobody = true}, tmp), {world, "16"}, {.as_nobody = true});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.ends_with("/region/r.0.0.mcr: the region file could not be written - left "
                                "unchanged (Permission denied)\n" +
                                partly_updated(4)))
        << r.err;
    EXPECT_EQ(snapshot_files(world), before);
}

TEST(FaultMatrix, ALevelDatTheWorldNeedsButCannotReadIsRefused) {
    // Only a sectioned world's level.dat tells how its .mca files store blocks.
    TempDir tmp;
    const std::string world = made_world(tmp, "--sectioned", 8);
    const Bytes level = read_file(world + "/level.dat");
    NbtBytes many; // 3 million empty compounds in a few KB: far over the tag limit
    many.head(TAG_COMPOUND, "").head(TAG_LIST, "Data").u8(TAG_COMPOUND).i32(3000000);
    for (const auto &[content, mode] : {std::pair{Bytes(level.begin(), level.begin() + 40), "-v"},
                                        {gz(many.raw(Bytes(3000000, 0)).end().bytes()), "-n"}}) {
        write_file(world + "/level.dat", content);
        const FileSnapshot before = snapshot_files(world);
        const RunResult r = run_program(LODECAST_EXE, {world, "lodecast:tin_ore", mode});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "Processing...\n" + world +
                             "/level.dat cannot be read (damaged, or far bigger than any real "
                             "one), and without it the world's region files cannot be told "
                             "apart - nothing changed\n");
        EXPECT_EQ(snapshot_files(world), before);
    }
}

TEST(FaultMatrix, AStopSignalFinishesWhatIsInFlightAndSaysWhatWasWritten) {
    // Sent once the run has reported its first chunk; its -v lines (20 KB and
    // more) cannot all fit the pipe, so it is still at work then.
    for (const auto &[kind, sig, record] : std::vector<std::tuple<std::string, int, bool>>{
             {"", SIGINT, false}, {"", SIGTERM, true}, {"--region", SIGINT, false}}) {
        TempDir tmp;
        const std::string world = made_world(tmp, kind, kind.empty() ? 24 : 40);
        const FileSnapshot before = snapshot_files(world);
        std::vector<std::string> args = {world, "16", "-v", "-j", "1", record ? "-record" : "-v"};
        const RunResult r =
            run_with_setup(LODECAST_EXE, args, {.signal = sig, .signal_after = "Updating chunk"});
        EXPECT_EQ(r.status, 128 + sig);
        EXPECT_EQ(dot_entries(world), std::vector<std::string>{});
        int changed = record ? -1 : 0; // the record is new
        for (const auto &[rel, bytes] : snapshot_files(world)) {
            changed += !before.contains(rel) || before.at(rel) != bytes;
        }
        // All of the region file in flight, none after it.
        EXPECT_TRUE(kind.empty() ? changed > 0 && changed < 500 : changed == 1) << changed;
        EXPECT_NE(r.err.find(std::string(sig == SIGINT ? "SIGINT: " : "SIGTERM: ") +
                             std::to_string(changed) +
                             (changed == 1 ? " file was" : " files were") +
                             " rewritten with their ore; every other file is unchanged"),
                  std::string::npos);
        if (record) { // the same command goes on with the chunks not yet written
            EXPECT_NE(run_program(LODECAST_EXE, {world, "16", "-record"})
                          .err.find("Skipped " + std::to_string(changed) + " chunks that"),
                      std::string::npos);
        }
    }
}

#endif

} // namespace

#else

TEST(FaultMatrix, NeedsTheTool) {
    GTEST_SKIP() << "the lodecast executable is not built";
}

#endif
