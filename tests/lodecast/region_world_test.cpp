// lodecast on region worlds: every readable chunk of every region file is
// updated, damaged records are reported and carried over byte for byte,
// the result does not depend on the number of threads, and a killed run
// leaves every region file old or new and complete.
#include "lodecast/region_file.h"
#include "nbt/nbt.hpp"
#include "support/child_run.h"
#include "support/files.h"
#include "support/run.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <map>
#include <random>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
const std::string kFixture = std::string(LODECAST_TEST_DATA) + "/regions/r.-1.0.mcr";
constexpr int kLapis = 21;

struct Slot {
    region::status state;
    std::vector<unsigned char> raw; // the record's sectors as stored
    Bytes document;                 // decompressed, when it reads
    long lapis = -1;                // Lapis blocks, when it reads
};

// Every slot that names a record in the region file at path.
std::map<int, Slot> read_region(const std::string &path) {
    std::map<int, Slot> slots;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    region::reader r;
    EXPECT_EQ(r.open(fd), region::open_result::ok) << path;
    for (int s = 0; s < region::slot_count; ++s) {
        if (r.location_of(s).sectors == 0) {
            continue;
        }
        Slot &slot = slots[s];
        r.read_raw(s, slot.raw);
        region::record rec;
        slot.state = r.read_record(s, rec);
        nbt::document doc = nbt::make_document();
        if (slot.state != region::status::ok ||
            nbt_parse_memory(doc.get(), rec.bytes.data(), rec.bytes.size(),
                             rec.compression == 1 ? NBT_GZIP : NBT_ZLIB, nullptr,
                             nullptr) != NBT_OK) {
            continue;
        }
        nbt::buffer plain;
        nbt_encode(doc.get(), NBT_UNCOMPRESSED, plain.get(), nullptr);
        slot.document.assign(plain.data(), plain.data() + plain.size());
        nbt_tag *blocks = nbt_find_tag_by_name("Blocks", nbt_find_tag_by_name("Level", doc->root));
        const nbt_byte_array *a = nbt_cast_byte_array(blocks);
        slot.lapis = std::count(a->content, a->content + a->length, kLapis);
    }
    close(fd);
    return slots;
}

std::string make_world(const TempDir &dir, const std::string &name, const Bytes &region) {
    const fs::path w = dir.path() / name;
    fs::create_directories(w / "region");
    write_file((w / "region/r.-1.0.mcr").string(), region);
    return w.string();
}

void put_be32(Bytes &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + static_cast<size_t>(i)] = static_cast<unsigned char>(v >> (24 - 8 * i));
    }
}

TEST(RegionWorld, EveryChunkIsUpdatedTheSameOnAnyNumberOfThreads) {
    TempDir dir;
    const Bytes fixture = read_file(kFixture);
    const std::map<int, Slot> before = read_region(kFixture);
    std::vector<std::pair<RunResult, std::map<int, Slot>>> runs;
    for (const char *threads : {"1", "2", "8"}) {
        const std::string w = make_world(dir, std::string("w") + threads, fixture);
        RunResult r =
            run_program(LODECAST_EXE, {w, "21", "-v", "-r", "4", "-seed", "9", "-j", threads});
        EXPECT_EQ(r.status, 0) << r.err;
        runs.emplace_back(std::move(r), read_region(w + "/region/r.-1.0.mcr"));
    }
    const auto &[first, after] = runs[0];
    ASSERT_EQ(after.size(), before.size());
    long added = 0;
    for (const auto &[slot, s] : after) {
        EXPECT_EQ(s.state, region::status::ok) << slot;
        EXPECT_GE(s.lapis, before.at(slot).lapis) << slot;
        added += s.lapis - before.at(slot).lapis;
    }
    EXPECT_GT(added, 0);
    EXPECT_EQ(std::count(first.err.begin(), first.err.end(), '\n'), 60) << first.err;
    EXPECT_NE(first.err.find("Updating chunk region/r.-1.0.mcr (-2, 2)...\n"), std::string::npos);
    for (size_t i = 1; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i].first.err.substr(first.err.find('\n')),
                  first.err.substr(first.err.find('\n')));
        for (const auto &[slot, s] : after) {
            EXPECT_TRUE(runs[i].second.at(slot).document == s.document) << slot << " run " << i;
        }
    }
}

TEST(RegionWorld, DamagedRecordsAreReportedAndCarriedOverByteForByte) {
    const Bytes fixture = read_file(kFixture);
    const std::map<int, Slot> before = read_region(kFixture);
    auto it = before.begin();
    const int in_header = (it++)->first, bad_compression = (it++)->first, corrupt = (it++)->first;
    const auto offset = [&](int slot) {
        return size_t{4096} * (uint32_t{fixture[4u * slot]} << 16 |
                               uint32_t{fixture[4u * slot + 1]} << 8 | fixture[4u * slot + 2]);
    };
    Bytes damaged = fixture;
    put_be32(damaged, 4u * in_header, 1u << 8 | 1u);
    damaged[offset(bad_compression) + 4] = 7;
    damaged[offset(corrupt) + 40] ^= 0xff;
    TempDir dir;
    const std::string w = make_world(dir, "w", damaged);
    const std::map<int, Slot> old = read_region(w + "/region/r.-1.0.mcr");
    const RunResult r = run_program(LODECAST_EXE, {w, "21", "-r", "3", "-seed", "4"});
    EXPECT_EQ(r.status, 0);
    const std::map<int, Slot> now = read_region(w + "/region/r.-1.0.mcr");
    ASSERT_EQ(now.size(), old.size());
    for (const auto &[slot, why] :
         std::map<int, std::string>{{in_header, "its location points into the header"},
                                    {bad_compression, "its record has an unknown compression"},
                                    {corrupt, "its document does not decompress or parse"}}) {
        const region::chunk_pos p = region::chunk_of_slot(-1, 0, slot);
        EXPECT_NE(r.err.find(w + "/region/r.-1.0.mcr chunk (" + std::to_string(p.x) + ", " +
                             std::to_string(p.z) + "): " + why + " - record kept as it is\n"),
                  std::string::npos)
            << r.err;
        EXPECT_TRUE(now.at(slot).raw == old.at(slot).raw) << slot;
    }
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 5) << r.err;
}

TEST(RegionWorld, AFileThatIsNoRegionIsLeftAlone) {
    TempDir dir;
    const std::string w = make_world(dir, "w", Bytes(100, 7));
    const RunResult r = run_program(LODECAST_EXE, {w, "21"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Processing...\n" + w +
                         "/region/r.-1.0.mcr: too short to be a region file - left alone\n"
                         "World updated\n");
    EXPECT_TRUE(read_file(w + "/region/r.-1.0.mcr") == Bytes(100, 7));
}

TEST(RegionWorld, AKilledRunLeavesEveryRegionFileOldOrNewAndWhole) {
    TempDir dir;
    const std::string w = dir.file("w");
    ASSERT_EQ(run_program(LODECAST_MKWORLD_EXE, {"--region", w, "40"}).status, 0);
    std::mt19937 rng(11);
    int rewritten = 0;
    for (int i = 0; i < 6; ++i) {
        std::map<std::string, Bytes> old;
        for (const auto &e : fs::directory_iterator(w + "/region")) {
            if (e.path().filename().string()[0] != '.') { // a killed run's temporary file
                old[e.path().string()] = read_file(e.path().string());
            }
        }
        run_and_kill(LODECAST_EXE, {w, "21", "-r", "3"},
                     std::chrono::microseconds(std::uniform_int_distribution<int>(0, 700000)(rng)));
        for (const auto &[path, bytes] : old) {
            if (read_file(path) == bytes) {
                continue;
            }
            ++rewritten;
            const std::map<int, Slot> now = read_region(path);
            EXPECT_EQ(now.size(), 400u) << path;
            for (const auto &[slot, s] : now) {
                EXPECT_GE(s.lapis, 0) << path << " slot " << slot;
            }
        }
    }
    EXPECT_GT(rewritten, 0);
}

} // namespace
