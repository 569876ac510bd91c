// nbtdump prints exactly what the library's tree printer prints, and says
// which file it could not read and why.
#include "nbt/nbt.h"
#include "support/child_run.h"
#include "support/chunk_bytes.h"
#include "support/files.h"
#include "support/run.h"
#include "support/temp_dir.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <tuple>
#include <unistd.h>

#ifdef NBTDUMP_EXE

namespace {

const std::string real_chunk = std::string(LODECAST_TEST_DATA) + "/tools/c.-l.3.dat";

// What nbt_print_tag(root, 0) writes on standard output for the file at
// path, captured in this process.
std::string printer_output(const std::string &path) {
    nbt_file *file = nullptr;
    EXPECT_EQ(nbt_init(&file), NBT_OK);
    EXPECT_EQ(nbt_parse(file, path.c_str()), NBT_OK) << path;
    TempDir dir;
    const std::string capture = dir.file("stdout");
    std::fflush(stdout);
    int saved = dup(1);
    int fd = open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 1);
    close(fd);
    if (file->root != nullptr) {
        nbt_print_tag(file->root, 0);
    }
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    nbt_free(file);
    Bytes out = read_file(capture);
    return std::string(out.begin(), out.end());
}

TEST(Nbtdump, PrintsWhatTheTreePrinterPrints) {
    const std::string expected = printer_output(real_chunk);
    // Sanity: a real chunk is a compound holding Level and its Blocks.
    ASSERT_EQ(expected.rfind("TAG_COMPOUND(\"\"): ", 0), 0u);
    ASSERT_NE(expected.find("TAG_BYTE_ARRAY(\"Blocks\"): (32768 entries) ["), std::string::npos);

    RunResult r = run_program(NBTDUMP_EXE, {real_chunk});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, expected);
}

TEST(Nbtdump, ReadsUncompressedFilesAndPrintsSeveralInOrder) {
    TempDir dir;
    const std::string plain = dir.file("plain.nbt");
    write_file(plain, gunzip_file(real_chunk));
    const std::string expected = printer_output(real_chunk);

    RunResult r = run_program(NBTDUMP_EXE, {plain, real_chunk});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, expected + expected);
}

TEST(Nbtdump, NamesEachUnreadableFileWithItsReasonAndGoesOn) {
    TempDir dir;
    const std::string missing = dir.file("missing.dat");
    const std::string truncated = dir.file("truncated.dat");
    Bytes data = gunzip_file(real_chunk);
    data.resize(data.size() / 2);
    write_gzip_file(truncated, data);
    const std::string garbage = dir.file("garbage.dat");
    // Plain data: a byte-array tag promising 4096 bytes and holding one.
    write_file(garbage, {0x07,                   // byte-array tag
                         0x00, 0x01, 'b',        // name length 1, "b"
                         0x00, 0x00, 0x10, 0x00, // length 4096
                         0x01});                 // the only byte there is
    const std::string short_region = dir.file("r.0.0.mcr");
    write_file(short_region, Bytes(8191, 0));

    RunResult r = run_program(NBTDUMP_EXE, {missing, real_chunk, truncated, garbage, short_region});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, printer_output(real_chunk));
    EXPECT_EQ(r.err, "nbtdump: " + missing + ": " + std::strerror(ENOENT) + "\n" + "nbtdump: " +
                         truncated + ": not a valid NBT file (damaged or truncated)\n" +
                         "nbtdump: " + garbage + ": not a valid NBT file (damaged or truncated)\n" +
                         "nbtdump: " + short_region + ": too short for a region file header\n");
}

TEST(Nbtdump, ControlCharactersInNamesAndStringsAreEscaped) {
    TempDir dir;
    NbtBytes b;
    b.head(10, "\x1b]0;pwned\x07").head(8, "s").str("\x1b[2J\x7f");
    write_file(dir.file("t.nbt"), b.head(9, "l").u8(8).i32(1).str("\r").end().bytes());
    RunResult r = run_program(NBTDUMP_EXE, {dir.file("t.nbt")});
    for (const char *text : {"(\"\\x1b]0;pwned\\x07\")", "\"\\x1b[2J\\x7f\"", "\"\\x0d\""}) {
        EXPECT_NE(r.out.find(text), std::string::npos) << text << " in " << r.out;
    }
    EXPECT_EQ(r.out.find_first_of("\x1b\x07\x7f\r"), std::string::npos);
}

TEST(Nbtdump, ADirectoryIsNotAFile) {
    TempDir dir;
    RunResult r = run_program(NBTDUMP_EXE, {dir.path().string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "nbtdump: " + dir.path().string() + ": " + std::strerror(EISDIR) + "\n");
}

TEST(Nbtdump, UsageWithoutFilesAndOnRequest) {
    RunResult none = run_program(NBTDUMP_EXE, {});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(
        none.err.rfind("Usage: nbtdump [--chunk <x>,<z>] [--max-array <n>] [--] <file>...\n", 0),
        0u)
        << none.err;

    RunResult help = run_program(NBTDUMP_EXE, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out, none.err);

    // After "--" every argument is a file, even one that looks like an option.
    RunResult dashed = run_program(NBTDUMP_EXE, {"--", "--help"});
    EXPECT_EQ(dashed.status, 1);
    EXPECT_EQ(dashed.err, std::string("nbtdump: --help: ") + std::strerror(ENOENT) + "\n");
}

#ifdef LODECAST_CENSUS_EXE
// A report that could not be written in full is an error; a closed standard
// output is not (it reads as /dev/null).
TEST(Reports, OutputThatCannotBeWrittenIsAnError) {
    const std::string world = LODECAST_TEST_DATA;
    const std::tuple<std::string, std::vector<std::string>, ChildSetup, int> cases[] = {
        {NBTDUMP_EXE, {real_chunk}, {.stdout_file = "/dev/full"}, 1},
        {NBTDUMP_EXE, {real_chunk}, {.closed_fd = 1}, 0},
        {LODECAST_CENSUS_EXE, {world}, {.stdout_file = "/dev/full"}, 1},
        {LODECAST_CENSUS_EXE, {world, "-csv", "/dev/full"}, {}, 1},
        {LODECAST_CENSUS_EXE, {world}, {.closed_fd = 1}, 0},
    };
    for (const auto &[exe, args, setup, status] : cases) {
        const RunResult r = run_with_setup(exe, args, setup);
        EXPECT_EQ(r.status, status) << exe << " " << args.back() << ": " << r.err;
        EXPECT_EQ(r.err.find("cannot write") != std::string::npos, status == 1) << r.err;
    }
}
#endif

const std::string real_region = std::string(LODECAST_TEST_DATA) + "/regions/r.-1.0.mcr";

uint32_t be32(const Bytes &b, size_t at) {
    return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}

// Each "Chunk [" line nbtdump printed, with the tree below it.
std::vector<std::pair<std::string, std::string>> chunks_in(const std::string &out) {
    std::vector<std::pair<std::string, std::string>> chunks;
    for (const std::string &line : lines_of(out)) {
        if (line.rfind("Chunk [", 0) == 0) {
            chunks.push_back({line, ""});
        } else if (!chunks.empty()) {
            chunks.back().second += line + "\n";
        }
    }
    return chunks;
}

TEST(NbtdumpRegion, PrintsEveryChunkUnderItsCoordinatesSlotAndTimestamp) {
    const Bytes file = read_file(real_region);
    RunResult r = run_program(NBTDUMP_EXE, {real_region});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const auto chunks = chunks_in(r.out);
    ASSERT_EQ(chunks.size(), 58u);
    int last_slot = -1;
    for (const auto &[head, tree] : chunks) {
        // Region -1, 0 holds x -32..-1, z 0..31; the tree says where the chunk belongs.
        int x = 0, z = 0;
        ASSERT_EQ(std::sscanf(head.c_str(), "Chunk [%d, %d]", &x, &z), 2) << head;
        const int slot = x + 32 + 32 * z;
        EXPECT_GT(slot, last_slot);
        last_slot = slot;
        const uint32_t time = be32(file, 4096 + 4 * static_cast<size_t>(slot));
        EXPECT_EQ(head, "Chunk [" + std::to_string(x) + ", " + std::to_string(z) + "] in " +
                            real_region + " (slot " + std::to_string(slot) + ", timestamp " +
                            std::to_string(time) + "):");
        EXPECT_NE(tree.find("TAG_INT(\"xPos\"): " + std::to_string(x) + "\n"), std::string::npos);
        EXPECT_NE(tree.find("TAG_INT(\"zPos\"): " + std::to_string(z) + "\n"), std::string::npos);
    }
}

TEST(NbtdumpRegion, ADamagedChunkIsReportedAndTheOthersArePrinted) {
    const Bytes intact = read_file(real_region);
    // A record of more tags than lodecast reads in a chunk, in a few hundred bytes.
    NbtBytes doc;
    doc.head(10, "").head(9, "l").u8(1).i32(200000).raw(Bytes(200000, 0)).end();
    Bytes many = gzip_bytes(doc.bytes());
    const auto n = static_cast<uint32_t>(many.size() + 1);
    many.insert(many.begin(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n), 1});
    const size_t slot = 95; // chunk [-1, 2], the second one in the file
    const size_t record = (be32(intact, 4 * slot) >> 8) * 4096;
    struct {
        size_t at;
        Bytes patch;
        const char *reason;
    } cases[] = {
        {4 * slot, {0, 0, 1}, "location inside the header"},
        {record + 4, {9}, "unknown compression"},
        {record + 5, {0xff, 0xff, 0xff, 0xff}, "not a valid NBT document (damaged or truncated)"},
        {record, many, "over the limits of a chunk (decompressed size or tag count)"},
    };
    for (const auto &c : cases) {
        TempDir dir;
        const std::string copy = dir.file("r.-1.0.mcr");
        Bytes bytes = intact;
        std::copy(c.patch.begin(), c.patch.end(), bytes.begin() + static_cast<ptrdiff_t>(c.at));
        write_file(copy, bytes);
        RunResult r = run_program(NBTDUMP_EXE, {copy});
        EXPECT_EQ(r.status, 1) << c.reason;
        EXPECT_EQ(r.err, "nbtdump: " + copy + ": chunk [-1, 2]: " + c.reason + "\n");
        EXPECT_EQ(chunks_in(r.out).size(), 57u) << c.reason;
        EXPECT_EQ(r.out.find("Chunk [-1, 2]"), std::string::npos) << c.reason;
    }
}

TEST(NbtdumpRegion, PrintsSectionedChunksWithTheirIntArrays) {
    const std::string mca = std::string(LODECAST_TEST_DATA) + "/worlds/anvil/region/r.-2.7.mca";
    RunResult r = run_program(NBTDUMP_EXE, {mca});
    EXPECT_EQ(r.status, 0);
    const auto chunks = chunks_in(r.out);
    ASSERT_EQ(chunks.size(), 2u);
    for (const auto &[head, tree] : chunks) {
        EXPECT_NE(tree.find("TAG_INT_ARRAY(\"HeightMap\"): (256 entries) ["), std::string::npos)
            << head;
        EXPECT_NE(tree.find("TAG_LIST(\"Sections\")"), std::string::npos) << head;
    }
}

// A real 26.x region's records rewritten as LZ4, one of them external, print
// as the originals did; the external one says so, and prints on its own too.
TEST(NbtdumpRegion, Lz4AndExternalRecordsPrintAsTheOriginals) {
    const std::string real = std::string(LODECAST_TEST_DATA) +
                             "/worlds/26.2/dimensions/minecraft/overworld/region/r.-2.-9.mca";
    TempDir dir;
    const std::string copy = dir.file("r.-2.-9.mca");
    write_file(copy, read_file(real));
    const auto before = chunks_in(run_program(NBTDUMP_EXE, {copy}).out);
    ASSERT_EQ(before.size(), 3u);
    ASSERT_EQ(run_program(LODECAST_MKWORLD_EXE,
                          {"--compression", "lz4", "--external", "-34,-269", "--restyle", copy})
                  .status,
              0);
    RunResult r = run_program(NBTDUMP_EXE, {copy});
    EXPECT_EQ(r.status, 0) << r.err;
    const auto after = chunks_in(r.out);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        const bool external = before[i].first.starts_with("Chunk [-34, -269]");
        std::string head = before[i].first;
        head.insert(head.size() - 2, external ? ", external c.-34.-269.mcc" : "");
        EXPECT_EQ(after[i].first, head);
        EXPECT_TRUE(after[i].second == before[i].second) << head;
    }
    r = run_program(NBTDUMP_EXE, {dir.file("c.-34.-269.mcc")});
    ASSERT_EQ(chunks_in(r.out).size(), 1u);
    EXPECT_TRUE(chunks_in(r.out)[0].second == before[1].second);
}

// --chunk prints the chunk exactly as the whole file's dump does, or says
// why it cannot; --max-array cuts every array after n elements.
TEST(NbtdumpRegion, OneChunkAndShortArrays) {
    const auto all = chunks_in(run_program(NBTDUMP_EXE, {real_region}).out);
    ASSERT_EQ(all.size(), 58u);
    RunResult one = run_program(NBTDUMP_EXE, {"--chunk", "-1,2", real_region});
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.out, all[1].first + "\n" + all[1].second);
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } refused[] = {
        {{"--chunk", "-1,1", real_region}, 1, real_region + ": chunk [-1, 1] is not in the file"},
        {{"--chunk", "0,2", real_region},
         1,
         real_region + ": chunk [0, 2] lies in r.0.0.mcr, not here"},
        {{"--chunk", "-1,2", real_chunk},
         1,
         real_chunk + ": --chunk picks a chunk of a region file (.mcr, .mca)"},
        {{"--chunk", "-1", real_region}, 2, "--chunk needs <x>,<z> (chunk coordinates)"},
        {{"--max-array", "-3", real_region}, 2, "--max-array needs a count 0 or more"},
    };
    for (const auto &c : refused) {
        RunResult r = run_program(NBTDUMP_EXE, c.args);
        EXPECT_EQ(r.status, c.status) << c.err;
        EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), "nbtdump: " + c.err + "\n");
        EXPECT_EQ(r.out, "") << c.err;
    }
    for (const auto &[n, line] : std::vector<std::pair<std::string, std::string>>{
             {"3", "(32768 entries) [07, 07, 01, ... (32765 more) ]\n"},
             {"0", "(32768 entries) [... (32768 more) ]\n"}}) {
        RunResult r = run_program(NBTDUMP_EXE, {"--max-array", n, real_chunk});
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("TAG_BYTE_ARRAY(\"Blocks\"): " + line), std::string::npos) << r.out;
    }
    EXPECT_EQ(run_program(NBTDUMP_EXE, {"--max-array", "40000", real_chunk}).out,
              printer_output(real_chunk));
}

} // namespace

#endif
