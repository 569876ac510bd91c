#include "lodecast/formats/chunk_document.h"
#include "lodecast/ores/random.h"
#include "lodecast/ores/vein.h"
#include "lodecast/storage/chunk_update.h"
#include "lodecast/storage/flat_storage.h"
#include "support/chunk_bytes.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "support/world_check.h"

#include "support/run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// A world of chunk files holding one chunk, at path.
struct OneChunkWorld {
    TempDir dir;
    std::string path = dir.file("w/0/0/c.0.0.dat");
    OneChunkWorld() { std::filesystem::create_directories(dir.file("w/0/0")); }
};

struct UpdateResult {
    int status;      // the run's
    std::string err; // its messages between "Processing..." and its last line
};

// lodecast run over the world with args (the ore first).
UpdateResult update(const OneChunkWorld &w, std::vector<std::string> args) {
    args.insert(args.begin(), w.dir.file("w"));
    const RunResult r = run_program(LODECAST_EXE, args);
    std::string err = r.err;
    const std::string head = "Processing...\n";
    const std::string tail = "World updated\n";
    EXPECT_EQ(err.rfind(head, 0), 0u) << err;
    EXPECT_EQ(err.size() >= tail.size() &&
                  err.compare(err.size() - tail.size(), tail.size(), tail) == 0,
              true)
        << err;
    err = err.substr(head.size(), err.size() - std::min(err.size(), head.size() + tail.size()));
    return {r.status, err};
}

Bytes all_stone() {
    return Bytes(32768, 1);
}

// root > Level > Blocks (all stone), then whatever data_part holds.
Bytes stone_chunk(const Bytes &data_part) {
    NbtBytes doc;
    doc.head(10, "").head(10, "Level").byte_array("Blocks", all_stone()).raw(data_part);
    return doc.end().end().bytes();
}

struct ShapeCase {
    const char *what;
    Bytes doc;
    int expected;
};

std::vector<ShapeCase> shape_cases() {
    const Bytes blocks = NbtBytes().byte_array("Blocks", all_stone()).bytes();
    const Bytes valid_level = NbtBytes().head(10, "Level").raw(blocks).end().bytes();
    std::vector<ShapeCase> cases;
    cases.push_back({"realistic chunk", make_chunk_document(3, -4), 0});
    cases.push_back({"Blocks only", NbtBytes().head(10, "").raw(valid_level).end().bytes(), 0});
    cases.push_back({"root is an int", NbtBytes().head(3, "").i32(5).bytes(), 1});
    cases.push_back({"empty root", NbtBytes().head(10, "").end().bytes(), 1});
    cases.push_back(
        {"no Level", NbtBytes().head(10, "").head(10, "Other").raw(blocks).end().end().bytes(), 1});
    cases.push_back({"lower-case level",
                     NbtBytes().head(10, "").head(10, "level").raw(blocks).end().end().bytes(), 1});
    cases.push_back({"Level is a list of compounds",
                     NbtBytes().head(10, "").head(9, "Level").u8(10).i32(0).end().bytes(), 1});
    cases.push_back({"Level one compound too deep",
                     NbtBytes().head(10, "").head(10, "x").raw(valid_level).end().end().bytes(),
                     1});
    cases.push_back({"first Level is an int",
                     NbtBytes().head(10, "").head(3, "Level").i32(1).raw(valid_level).end().bytes(),
                     1});
    cases.push_back({"Blocks of 16384 bytes",
                     NbtBytes()
                         .head(10, "")
                         .head(10, "Level")
                         .byte_array("Blocks", Bytes(16384, 1))
                         .end()
                         .end()
                         .bytes(),
                     1});
    cases.push_back({"Blocks of 32769 bytes",
                     NbtBytes()
                         .head(10, "")
                         .head(10, "Level")
                         .byte_array("Blocks", Bytes(32769, 1))
                         .end()
                         .end()
                         .bytes(),
                     1});
    cases.push_back({"Blocks is a list",
                     NbtBytes()
                         .head(10, "")
                         .head(10, "Level")
                         .head(9, "Blocks")
                         .u8(1)
                         .i32(0)
                         .end()
                         .end()
                         .bytes(),
                     1});
    cases.push_back({"Blocks is a string",
                     NbtBytes()
                         .head(10, "")
                         .head(10, "Level")
                         .head(8, "Blocks")
                         .str("stone")
                         .end()
                         .end()
                         .bytes(),
                     1});
    cases.push_back({"Blocks beside Level",
                     NbtBytes().head(10, "").head(10, "Level").end().raw(blocks).end().bytes(), 1});
    return cases;
}

TEST(ValidChunk, ChecksLevelAndBlocksOnly) {
    for (const ShapeCase &c : shape_cases()) {
        int status = 0;
        NbtDoc doc = parse_nbt_bytes(c.doc, &status);
        ASSERT_EQ(status, NBT_OK) << c.what;
        EXPECT_EQ(valid_chunk(doc->root), c.expected) << c.what;
    }
    EXPECT_EQ(valid_chunk(nullptr), 1);
}

TEST(UpdateChunk, InvalidChunkIsReportedAndKeepsItsBytes) {
    OneChunkWorld w;
    for (const ShapeCase &c : shape_cases()) {
        if (c.expected == 0) {
            continue;
        }
        write_gzip_file(w.path, c.doc);
        const Bytes before = read_file(w.path);
        UpdateResult r = update(w, {"16"});
        EXPECT_EQ(r.err, "File \"" + w.path + "\" is not a valid chunk\n") << c.what;
        EXPECT_EQ(read_file(w.path), before) << c.what;
    }
}

TEST(UpdateChunk, NoRoundsRewritesTheSameTree) {
    OneChunkWorld w;
    const Bytes doc = make_chunk_document(0, 0);
    write_file(w.path, doc);           // uncompressed: the rewrite compresses it
    UpdateResult r = update(w, {"1"}); // ore 1 has no defaults: rounds 0
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const Bytes after = read_file(w.path);
    ASSERT_GE(after.size(), 2u);
    EXPECT_EQ(after[0], 0x1f);
    EXPECT_EQ(after[1], 0x8b);
    EXPECT_EQ(gunzip_file(w.path), doc);
}

TEST(UpdateChunk, VeryVerboseTraceHasHeaderAndNumberedRounds) {
    OneChunkWorld w;
    write_gzip_file(w.path, make_chunk_document(0, 0));
    UpdateResult r = update(w, {"16", "-vv", "-seed", "42"});
    ASSERT_EQ(r.status, 0);
    const std::vector<std::string> lines = lines_of(r.err);
    ASSERT_FALSE(lines.empty());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Updating chunk 0/0/c.0.0.dat...");
    EXPECT_EQ(lines[1], "Generating 16 (rounds 20, min 0, max 128, size 16)");
    int next_round = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].rfind("Generating round ", 0) == 0) {
            EXPECT_EQ(lines[i], "Generating round " + std::to_string(next_round) + "...");
            ++next_round;
            // Each round line is followed by its vein's own trace.
            ASSERT_LT(i + 1, lines.size());
            EXPECT_EQ(lines[i + 1].rfind("Selected scale: ", 0), 0u) << lines[i + 1];
        }
    }
    EXPECT_EQ(next_round, 20);
}

TEST(UpdateChunk, NegativeRoundsGiveNoRoundAndStillRewrite) {
    OneChunkWorld w;
    const Bytes doc = make_chunk_document(0, 0);
    write_gzip_file(w.path, doc);
    UpdateResult r = update(w, {"16", "-r", "-3", "-vv"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Updating chunk 0/0/c.0.0.dat...\n"
                     "Generating 16 (rounds -3, min 0, max 128, size 16)\n");
    EXPECT_EQ(gunzip_file(w.path), doc);
}

// Offset of the content of the byte array "Blocks" in a decompressed
// chunk document (found by its tag head).
size_t blocks_offset(const Bytes &doc) {
    const Bytes head = NbtBytes().head(7, "Blocks").i32(32768).bytes();
    auto it = std::search(doc.begin(), doc.end(), head.begin(), head.end());
    return it == doc.end() ? 0 : static_cast<size_t>(it - doc.begin()) + head.size();
}

TEST(UpdateChunk, ChangedBlocksAreExactlyTheReportedOnes) {
    OneChunkWorld w;
    const std::string &path = w.path;
    const Bytes before = make_chunk_document(0, 0);
    write_gzip_file(path, before);
    UpdateResult r = update(w, {"15", "-vv", "-oo", "-seed", "7"}); // iron: 20 veins of size 8
    ASSERT_EQ(r.status, 0);

    std::set<size_t> reported;
    for (const std::string &line : lines_of(r.err)) {
        int x, y, z;
        if (std::sscanf(line.c_str(), "Added block at %d,%d,%d", &x, &y, &z) == 3) {
            reported.insert(static_cast<size_t>(y + 128 * z + 2048 * x));
        }
    }
    ASSERT_FALSE(reported.empty()) << "20 iron veins in stone placed nothing";

    const Bytes after = gunzip_file(path);
    ASSERT_EQ(after.size(), before.size());
    const size_t base = blocks_offset(before);
    ASSERT_NE(base, 0u);
    std::set<size_t> changed;
    for (size_t i = 0; i < before.size(); ++i) {
        if (before[i] != after[i]) {
            ASSERT_GE(i, base) << "byte outside Blocks changed at " << i;
            ASSERT_LT(i, base + 32768) << "byte outside Blocks changed at " << i;
            changed.insert(i - base);
        }
    }
    // A block is reported only when it is placed, and a placed block holds
    // the ore and is not placed again: the two sets are the same.
    for (size_t idx : reported) {
        EXPECT_EQ(after[base + idx], 15) << idx;
    }
    EXPECT_EQ(changed, reported);
}

struct DataCase {
    const char *what;
    Bytes data_part;
};

std::vector<DataCase> unusable_data_cases() {
    return {
        {"no Data", {}},
        {"Data of 16383 bytes", NbtBytes().byte_array("Data", Bytes(16383, 0xAB)).bytes()},
        {"Data is a string", NbtBytes().head(8, "Data").str("nibbles").bytes()},
        {"Data is a list", NbtBytes().head(9, "Data").u8(1).i32(2).u8(7).u8(9).bytes()},
        {"Data of 0 bytes", NbtBytes().byte_array("Data", {}).bytes()},
    };
}

TEST(UpdateChunk, UnusableDataWithDataValuesIsAnInvalidChunk) {
    OneChunkWorld w;
    const std::string &path = w.path;
    for (const DataCase &c : unusable_data_cases()) {
        write_gzip_file(path, stone_chunk(c.data_part));
        const Bytes before = read_file(path);
        UpdateResult r = update(w, {"16", "-d", "5"});
        EXPECT_EQ(r.err, "File \"" + path + "\" is not a valid chunk\n") << c.what;
        EXPECT_EQ(read_file(path), before) << c.what;
    }
}

TEST(UpdateChunk, UnusableDataWithoutDataValuesIsUpdated) {
    OneChunkWorld w;
    const std::string &path = w.path;
    for (const DataCase &c : unusable_data_cases()) {
        const Bytes doc = stone_chunk(c.data_part);
        write_gzip_file(path, doc);
        UpdateResult r = update(w, {"16", "-seed", "3"});
        EXPECT_EQ(r.status, 0) << c.what;
        EXPECT_EQ(r.err, "") << c.what;
        const Bytes after = gunzip_file(path);
        ASSERT_EQ(after.size(), doc.size()) << c.what;
        const size_t base = blocks_offset(doc);
        // The veins went into Blocks; the Data part is exactly as it was.
        EXPECT_NE(Bytes(after.begin() + base, after.begin() + base + 32768), all_stone()) << c.what;
        EXPECT_TRUE(
            std::equal(after.begin() + base + 32768, after.end(), doc.begin() + base + 32768))
            << c.what;
    }
}

TEST(UpdateChunk, DataValuesGoIntoAFullDataArray) {
    OneChunkWorld w;
    const std::string &path = w.path;
    write_gzip_file(path, stone_chunk(NbtBytes().byte_array("Data", Bytes(16384, 0)).bytes()));
    UpdateResult r = update(w, {"16", "-d", "9", "-seed", "11"});
    ASSERT_EQ(r.status, 0);
    int status = 0;
    NbtDoc doc = parse_nbt_file(path, &status);
    ASSERT_EQ(status, NBT_OK);
    nbt_tag *level = nbt_find_tag_by_name("Level", doc->root);
    nbt_byte_array *blocks = nbt_cast_byte_array(nbt_find_tag_by_name("Blocks", level));
    nbt_byte_array *data = nbt_cast_byte_array(nbt_find_tag_by_name("Data", level));
    ASSERT_NE(blocks, nullptr);
    ASSERT_NE(data, nullptr);
    int placed = 0;
    for (int i = 0; i < 32768; ++i) {
        const int nibble = (i % 2 == 0) ? data->content[i / 2] & 0x0F : data->content[i / 2] >> 4;
        EXPECT_EQ(nibble, blocks->content[i] == 16 ? 9 : 0) << i;
        placed += blocks->content[i] == 16;
    }
    EXPECT_GT(placed, 0);
}

TEST(UpdateChunk, UnassignedTagTypeAnywhereLeavesTheFileAlone) {
    // Such a tag keeps no payload in memory, so writing the tree back would
    // destroy what follows its name in the file.
    const std::vector<std::pair<const char *, Bytes>> cases = {
        {"type 13 in Level", NbtBytes().head(13, "Future").i32(77).bytes()},
        {"type 255 in a nested compound",
         NbtBytes().head(10, "Extra").head(255, "x").u8(1).end().bytes()},
        {"list of type 13 elements", NbtBytes().head(9, "Odd").u8(13).i32(2).u8(1).u8(2).bytes()},
        {"type 13 in a compound inside a list",
         NbtBytes().head(9, "Entities2").u8(10).i32(1).head(13, "y").end().bytes()},
    };
    OneChunkWorld w;
    const std::string &path = w.path;
    for (const auto &[what, extra] : cases) {
        write_gzip_file(path, make_chunk_document(0, 0, extra));
        const Bytes before = read_file(path);
        UpdateResult r = update(w, {"16"});
        // The reader may refuse such a file itself; either way the chunk is
        // reported and left as it was.
        EXPECT_TRUE(r.err == "File \"" + path + "\" is not a valid chunk\n" ||
                    r.err == "nbt_parse(): Failed - RAM?\n")
            << what << ": " << r.err;
        EXPECT_EQ(read_file(path), before) << what;
    }
}

TEST(ChunkStages, FailureMessages) {
    CaptureStderr();
    report_chunk_status(chunk_status::ok, "x");
    report_chunk_status(chunk_status::init_failed, "x");
    report_chunk_status(chunk_status::parse_failed, "x");
    report_chunk_status(chunk_status::invalid, "a/b.dat");
    report_chunk_status(chunk_status::write_failed, "x");
    EXPECT_EQ(GetCapturedStderr(), "nbt_init(): Failed. Get some RAM\n"
                                   "nbt_parse(): Failed - RAM?\n"
                                   "File \"a/b.dat\" is not a valid chunk\n"
                                   "nbt_write(): Failed - chunk left unchanged\n");
}

TEST(ChunkStages, SeveralOresInOnePassAreEachOreInTurnFromOneSequence) {
    // "21,16" with a seed: each chunk gets Lapis's veins, then Coal's, from
    // the one generator, as the processing stage run twice in a row would.
    TempDir dir;
    const std::string path = dir.file("w/0/0/c.0.0.dat");
    std::filesystem::create_directories(dir.file("w/0/0"));
    write_gzip_file(path, make_chunk_document(0, 0));
    nbt::document expected = nbt::make_document();
    ASSERT_EQ(nbt_parse(expected.get(), path.c_str()), NBT_OK);
    ore_srand(5);
    const flat_storage kind;
    nbt_tag *level = nbt_find_tag_by_name("Level", expected->root);
    for (const int ore : {21, 16}) {
        ore_plan plan;
        plan.block.id = ore;
        apply_ore_defaults(ore, &plan.opt);
        const std::unique_ptr<prepared_ore> prepared = kind.prepare(plan);
        const std::unique_ptr<block_grid> grid =
            flat_grid(nbt_cast_byte_array(nbt_find_tag_by_name("Blocks", level)), nullptr);
        ASSERT_TRUE(grid->begin(*prepared));
        for (int r = 0; r < plan.opt.rounds; ++r) {
            gen_ore(*grid, &plan.opt);
        }
    }
    const RunResult r = run_program(LODECAST_EXE, {dir.file("w"), "21,16", "-seed", "5", "-v"});
    EXPECT_EQ(r.err, "Processing...\nUpdating chunk 0/0/c.0.0.dat...\nWorld updated\n");
    nbt::buffer want;
    ASSERT_GT(nbt_encode(expected.get(), NBT_UNCOMPRESSED, want.get(), nullptr), 0);
    EXPECT_TRUE(gunzip_file(path) == Bytes(want.data(), want.data() + want.size()));
}

} // namespace
