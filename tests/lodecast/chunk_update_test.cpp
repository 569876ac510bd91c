#include "lodecast/formats/chunk_document.h"
#include "lodecast/ores/random.h"
#include "lodecast/storage/chunk_update.h"
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

struct UpdateResult {
    int status;
    std::string err;
};

UpdateResult update(const std::string &path, int16_t ore_id, const options &opt) {
    CaptureStderr();
    int rc = update_chunk(path.c_str(), ore_id, &opt);
    return {rc, GetCapturedStderr()};
}

options coal_options(uint32_t extra_bits = 0) {
    options opt{};
    opt.set = extra_bits;
    apply_ore_defaults(16, &opt);
    return opt;
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
    TempDir dir;
    for (const ShapeCase &c : shape_cases()) {
        if (c.expected == 0) {
            continue;
        }
        const std::string path = dir.file("c.0.0.dat");
        write_gzip_file(path, c.doc);
        const Bytes before = read_file(path);
        UpdateResult r = update(path, 16, coal_options(OPT_VERY_VERBOSE));
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_EQ(r.err, "File \"" + path + "\" is not a valid chunk\n") << c.what;
        EXPECT_EQ(read_file(path), before) << c.what;
    }
}

TEST(UpdateChunk, UnreadableFileIsReported) {
    TempDir dir;
    UpdateResult r = update(dir.file("missing.dat"), 16, coal_options());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "nbt_parse(): Failed - RAM?\n");

    // A directory cannot be read as a chunk either.
    r = update(dir.path().string(), 16, coal_options());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("nbt_", 0), 0u) << r.err;
}

TEST(UpdateChunk, NoRoundsRewritesTheSameTree) {
    TempDir dir;
    const std::string path = dir.file("c.1.2.dat");
    const Bytes doc = make_chunk_document(1, 2);
    write_file(path, doc); // uncompressed: the rewrite compresses it
    options opt{};         // ore 1 has no defaults: rounds 0
    apply_ore_defaults(1, &opt);
    ASSERT_EQ(opt.rounds, 0);
    UpdateResult r = update(path, 1, opt);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const Bytes after = read_file(path);
    ASSERT_GE(after.size(), 2u);
    EXPECT_EQ(after[0], 0x1f);
    EXPECT_EQ(after[1], 0x8b);
    EXPECT_EQ(gunzip_file(path), doc);
}

TEST(UpdateChunk, VeryVerboseTraceHasHeaderAndNumberedRounds) {
    TempDir dir;
    const std::string path = dir.file("c.0.0.dat");
    write_gzip_file(path, make_chunk_document(0, 0));
    ore_srand(42);
    UpdateResult r = update(path, 16, coal_options(OPT_VERBOSE | OPT_VERY_VERBOSE));
    ASSERT_EQ(r.status, 0);
    const std::vector<std::string> lines = lines_of(r.err);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "Generating 16 (rounds 20, min 0, max 128, size 16)");
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
    TempDir dir;
    const std::string path = dir.file("c.0.0.dat");
    const Bytes doc = make_chunk_document(0, 0);
    write_gzip_file(path, doc);
    options opt = coal_options(OPT_ROUNDS | OPT_VERY_VERBOSE);
    opt.rounds = -3;
    UpdateResult r = update(path, 16, opt);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Generating 16 (rounds -3, min 0, max 128, size 16)\n");
    EXPECT_EQ(gunzip_file(path), doc);
}

// Offset of the content of the byte array "Blocks" in a decompressed
// chunk document (found by its tag head).
size_t blocks_offset(const Bytes &doc) {
    const Bytes head = NbtBytes().head(7, "Blocks").i32(32768).bytes();
    auto it = std::search(doc.begin(), doc.end(), head.begin(), head.end());
    return it == doc.end() ? 0 : static_cast<size_t>(it - doc.begin()) + head.size();
}

TEST(UpdateChunk, ChangedBlocksAreExactlyTheReportedOnes) {
    TempDir dir;
    const std::string path = dir.file("c.-1.5.dat");
    const Bytes before = make_chunk_document(-1, 5);
    write_gzip_file(path, before);
    ore_srand(7);
    UpdateResult r = update(path, 15, [] {
        options opt{};
        opt.set = OPT_VERY_VERBOSE | OPT_OVER_ORES;
        apply_ore_defaults(15, &opt); // iron: 20 veins of size 8
        return opt;
    }());
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
    TempDir dir;
    const std::string path = dir.file("c.0.0.dat");
    options opt = coal_options(OPT_DATA);
    opt.data = 5;
    for (const DataCase &c : unusable_data_cases()) {
        write_gzip_file(path, stone_chunk(c.data_part));
        const Bytes before = read_file(path);
        UpdateResult r = update(path, 16, opt);
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_EQ(r.err, "File \"" + path + "\" is not a valid chunk\n") << c.what;
        EXPECT_EQ(read_file(path), before) << c.what;
    }
}

TEST(UpdateChunk, UnusableDataWithoutDataValuesIsUpdated) {
    TempDir dir;
    const std::string path = dir.file("c.0.0.dat");
    for (const DataCase &c : unusable_data_cases()) {
        const Bytes doc = stone_chunk(c.data_part);
        write_gzip_file(path, doc);
        ore_srand(3);
        UpdateResult r = update(path, 16, coal_options());
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
    TempDir dir;
    const std::string path = dir.file("c.0.0.dat");
    write_gzip_file(path, stone_chunk(NbtBytes().byte_array("Data", Bytes(16384, 0)).bytes()));
    options opt = coal_options(OPT_DATA);
    opt.data = 9;
    ore_srand(11);
    UpdateResult r = update(path, 16, opt);
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
    TempDir dir;
    const std::string path = dir.file("c.0.0.dat");
    for (const auto &[what, extra] : cases) {
        write_gzip_file(path, make_chunk_document(0, 0, extra));
        const Bytes before = read_file(path);
        UpdateResult r = update(path, 16, coal_options());
        EXPECT_EQ(r.status, 1) << what;
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
    report_chunk_status(chunk_status::write_failed, "a/\x1b.dat", "File too large");
    EXPECT_EQ(GetCapturedStderr(), "nbt_init(): Failed. Get some RAM\n"
                                   "nbt_parse(): Failed - RAM?\n"
                                   "File \"a/b.dat\" is not a valid chunk\n"
                                   "nbt_write(): Failed - chunk left unchanged (x)\n"
                                   "nbt_write(): Failed - chunk left unchanged "
                                   "(a/\\x1b.dat: File too large)\n");
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
    for (const int ore : {21, 16}) {
        options opt{};
        apply_ore_defaults(ore, &opt);
        ASSERT_EQ(process_chunk(expected.get(), static_cast<int16_t>(ore), &opt), chunk_status::ok);
    }
    const RunResult r = run_program(LODECAST_EXE, {dir.file("w"), "21,16", "-seed", "5", "-v"});
    EXPECT_EQ(r.err, "Processing...\nUpdating chunk 0/0/c.0.0.dat...\nWorld updated\n");
    nbt::buffer want;
    ASSERT_GT(nbt_encode(expected.get(), NBT_UNCOMPRESSED, want.get(), nullptr), 0);
    EXPECT_TRUE(gunzip_file(path) == Bytes(want.data(), want.data() + want.size()));
}

} // namespace
