// lodecast on region worlds: every readable chunk is updated the same on any
// number of threads, damage is reported and carried over byte for byte, and
// a killed run leaves every region file old or new and whole.
#include "lodecast/formats/dimension.h"
#include "lodecast/formats/record_codec.h"
#include "lodecast/formats/region_file.h"
#include "lodecast/formats/world_kind.h"
#include "lodecast/storage/paletted_chunk.h"
#include "lodecast/storage/section_blocks.h"
#include "nbt/nbt.hpp"
#include "nbt/nbt_io.h"
#include "support/child_run.h"
#include "support/files.h"
#include "support/nbt_tree_equal.h"
#include "support/run.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
const std::string kFixture = std::string(LODECAST_TEST_DATA) + "/regions/r.-1.0.mcr";
constexpr int kLapis = 21;

struct Slot {
    region::status state;
    region::location loc;
    uint8_t compression = 0;
    bool external = false;
    std::vector<unsigned char> raw; // the record's sectors as stored
    Bytes document;                 // decompressed, when it reads
    long lapis = -1;                // Lapis blocks, when it reads
    uint32_t timestamp = 0;
    bool populated = true; // TerrainPopulated is not 0
};

// Every slot that names a record in the region file at path.
std::map<int, Slot> read_region(const std::string &path) {
    std::map<int, Slot> slots;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    region::reader r;
    EXPECT_EQ(r.open(fd), region::open_result::ok) << path;
    int32_t rx = 0, rz = 0;
    region::extension ext;
    region::parse_file_name(fs::path(path).filename().string(), &rx, &rz, &ext);
    r.find_external(fs::path(path).parent_path().string(), rx, rz);
    for (int s = 0; s < region::slot_count; ++s) {
        if (r.state(s) == region::status::absent) {
            continue;
        }
        Slot &slot = slots[s];
        slot.loc = r.location_of(s);
        r.read_raw(s, slot.raw);
        slot.timestamp = r.timestamp(s);
        region::record rec;
        slot.state = r.read_record(s, rec);
        slot.compression = rec.compression;
        slot.external = rec.external;
        nbt::document doc = nbt::make_document();
        Bytes unwrapped;
        record_payload p;
        if (slot.state != region::status::ok ||
            record_payload_of(rec.compression, rec.bytes.data(), rec.bytes.size(), unwrapped,
                              1 << 24, &p) != lz4_stream::result::ok ||
            nbt_parse_memory(doc.get(), p.data, p.size, p.how, nullptr, nullptr) != NBT_OK) {
            continue;
        }
        nbt::buffer plain;
        nbt_encode(doc.get(), NBT_UNCOMPRESSED, plain.get(), nullptr);
        slot.document.assign(plain.data(), plain.data() + plain.size());
        nbt_tag *level = nbt_find_tag_by_name("Level", doc->root);
        nbt_tag *blocks = level == nullptr ? nullptr : nbt_find_tag_by_name("Blocks", level);
        const nbt_byte_array *a = blocks == nullptr ? nullptr : nbt_cast_byte_array(blocks);
        slot.lapis = a == nullptr ? -1 : std::count(a->content, a->content + a->length, kLapis);
        nbt_tag *pop = level == nullptr ? nullptr : nbt_find_tag_by_name("TerrainPopulated", level);
        slot.populated = pop == nullptr || *nbt_cast_byte(pop) != 0;
    }
    close(fd);
    return slots;
}

nbt::document parse_document(const Bytes &plain) {
    nbt::document doc = nbt::make_document();
    EXPECT_EQ(
        nbt_parse_memory(doc.get(), plain.data(), plain.size(), NBT_UNCOMPRESSED, nullptr, nullptr),
        NBT_OK);
    return doc;
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
    int kept = 0;
    for (const auto &[slot, s] : after) {
        EXPECT_EQ(s.state, region::status::ok) << slot;
        EXPECT_GE(s.lapis, before.at(slot).lapis) << slot;
        added += s.lapis - before.at(slot).lapis;
        // A chunk the game has not finished, or whose veins changed
        // nothing, keeps its record and its time.
        if (!s.populated || s.lapis == before.at(slot).lapis) {
            EXPECT_EQ(!s.populated, s.lapis == before.at(slot).lapis) << slot;
            EXPECT_TRUE(s.raw == before.at(slot).raw) << slot;
            EXPECT_EQ(s.timestamp, before.at(slot).timestamp) << slot;
            ++kept;
        }
    }
    EXPECT_GT(added, 0);
    EXPECT_EQ(kept, 2);
    EXPECT_NE(first.err.find("Skipped 2 chunks the game has not finished generating\n"),
              std::string::npos);
    EXPECT_EQ(std::count(first.err.begin(), first.err.end(), '\n'), 61) << first.err;
    EXPECT_NE(first.err.find("Updating chunk region/r.-1.0.mcr (-2, 2)...\n"), std::string::npos);
    for (size_t i = 1; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i].first.err.substr(first.err.find('\n')),
                  first.err.substr(first.err.find('\n')));
        for (const auto &[slot, s] : after) {
            EXPECT_TRUE(runs[i].second.at(slot).document == s.document) << slot << " run " << i;
        }
    }
}

// Damage is carried over as it is and never made worse: the records' bytes
// stay, a header entry without a record stays, and nothing that is not a
// real record makes the file grow.
TEST(RegionWorld, DamagedRecordsAreReportedAndCarriedOverByteForByte) {
    const Bytes fixture = read_file(kFixture);
    const std::map<int, Slot> before = read_region(kFixture);
    std::map<uint32_t, int> by_sector;
    for (const auto &[slot, s] : before) {
        by_sector[s.loc.offset] = slot;
    }
    auto it = by_sector.begin();
    const int in_header = (it++)->second, corrupt = (it++)->second, no_sectors = (it++)->second,
              beyond = (it++)->second;
    const auto sector = [&](int slot) { return before.at(slot).loc.offset; };
    Bytes damaged = fixture;
    put_be32(damaged, 4u * in_header, 1u << 8 | 1u);
    damaged[4096 * sector(corrupt) + 40] ^= 0xff;
    put_be32(damaged, 4u * no_sectors, sector(no_sectors) << 8);
    put_be32(damaged, 4u * beyond, 5000u << 8 | 255u); // 1 MiB that is not there
    TempDir dir;
    const std::string w = make_world(dir, "w", damaged);
    const std::map<int, Slot> old = read_region(w + "/region/r.-1.0.mcr");
    write_file(w + "/region/r.0.0.mcr", Bytes(100, 7)); // too short to be a region file
    const RunResult r = run_program(LODECAST_EXE, {w, "21", "-r", "3", "-seed", "4"});
    EXPECT_EQ(r.status, 0);
    const std::map<int, Slot> now = read_region(w + "/region/r.-1.0.mcr");
    ASSERT_EQ(now.size(), old.size());
    for (const auto &[slot, why] :
         std::map<int, std::string>{{in_header, "its location points into the header"},
                                    {corrupt, "its document does not decompress or parse"},
                                    {no_sectors, "its record has an impossible length"},
                                    {beyond, "its record runs past the end of the file"}}) {
        const region::chunk_pos p = region::chunk_of_slot(-1, 0, slot);
        EXPECT_NE(r.err.find(w + "/region/r.-1.0.mcr chunk (" + std::to_string(p.x) + ", " +
                             std::to_string(p.z) + "): " + why + " - record kept as it is\n"),
                  std::string::npos)
            << r.err;
        // The record's bytes, or the entry where the file had no record.
        const Slot &was = old.at(slot), &is = now.at(slot);
        EXPECT_TRUE(is.state == was.state && is.loc.sectors == was.loc.sectors) << slot;
        EXPECT_TRUE(slot == corrupt ? is.raw == was.raw
                                    : slot == beyond || is.loc.offset == was.loc.offset)
            << slot;
    }
    EXPECT_NE(r.err.find(w + "/region/r.0.0.mcr: too short to be a region file - left alone\n"),
              std::string::npos);
    EXPECT_TRUE(read_file(w + "/region/r.0.0.mcr") == Bytes(100, 7));
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 8) << r.err; // and the unfinished
    // No larger than the old file and a sector more for each record rewritten.
    EXPECT_LE(fs::file_size(w + "/region/r.-1.0.mcr"), damaged.size() + 4096 * now.size());
}

// The fixture's records written again one compression after the other (gzip,
// zlib, none, LZ4, a mod's 127), then two external ones: small, and large
// with 1.2 MB of noise.
void write_mixed_region(const std::string &path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    region::fd_sink sink(fd);
    region::writer out(sink);
    std::mt19937 rng(5);
    int i = 0;
    for (const auto &[slot, s] : read_region(kFixture)) {
        nbt::document doc = parse_document(s.document);
        const uint8_t c = i < 7 ? std::array<uint8_t, 7>{1, 2, 3, 4, 127, 4, 2}[i] : 1 + i % 4;
        if (i == 6) {
            Bytes noise(1200000);
            std::generate(noise.begin(), noise.end(), [&] { return uint8_t(rng()); });
            nbt_tag *filler = nullptr;
            ASSERT_EQ(nbt_new_byte_array(&filler, "Filler"), 0);
            nbt_set_byte_array(filler, noise.data(), static_cast<int32_t>(noise.size()));
            nbt_add_tag(filler, nbt_find_tag_by_name("Level", doc->root));
        }
        nbt::buffer bytes;
        Bytes scratch;
        ASSERT_TRUE(encode_record(doc.get(), c == 127 ? 2 : c, bytes.get(), nullptr, scratch));
        if (i == 5 || i == 6) {
            const region::chunk_pos p = region::chunk_of_slot(-1, 0, slot);
            write_file((fs::path(path).parent_path() / region::external_name(p.x, p.z)).string(),
                       Bytes(bytes.data(), bytes.data() + bytes.size()));
            ASSERT_EQ(out.add_external_stub(slot, c, 9), region::write_result::ok);
        } else if (c == 127) {
            Bytes raw = s.raw;
            raw[4] = 127;
            ASSERT_EQ(out.add_raw(slot, raw.data(), s.loc.sectors, 9), region::write_result::ok);
        } else {
            ASSERT_EQ(out.add_record(slot, c, bytes.data(), bytes.size(), 9),
                      region::write_result::ok);
        }
        ++i;
    }
    ASSERT_EQ(out.finish(), region::write_result::ok);
    close(fd);
}

TEST(RegionWorld, RecordsKeepTheirCompressionAndLargeOnesStayExternal) {
    TempDir dir;
    const std::string w = make_world(dir, "w", {});
    const std::string file = w + "/region/r.-1.0.mcr";
    write_mixed_region(file);
    const std::map<int, Slot> old = read_region(file);
    const RunResult r = run_program(LODECAST_EXE, {w, "21", "-r", "3", "-seed", "4"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Processing...\n" + file +
                         ": records of a compression lodecast does not know (127) - kept as "
                         "they are\nSkipped 2 chunks the game has not finished generating\n"
                         "World updated\n");
    const std::map<int, Slot> now = read_region(file);
    ASSERT_EQ(now.size(), old.size());
    long added = 0;
    for (const auto &[slot, s] : now) {
        const Slot &was = old.at(slot);
        EXPECT_EQ(s.compression, was.compression) << slot;
        if (was.compression == 127) {
            EXPECT_TRUE(s.state == region::status::unknown_compression && s.raw == was.raw);
            continue;
        }
        ASSERT_EQ(s.state, region::status::ok) << slot;
        EXPECT_GE(s.lapis, was.lapis) << slot;
        added += s.lapis - was.lapis;
        const region::chunk_pos p = region::chunk_of_slot(-1, 0, slot);
        const bool large = was.document.size() > 1000000;
        EXPECT_EQ(s.external, large) << slot;
        EXPECT_EQ(fs::exists(w + "/region/" + region::external_name(p.x, p.z)), large) << slot;
        // The game's stub: length 1, the compression byte with its top bit.
        EXPECT_TRUE(!large || Bytes(s.raw.begin(), s.raw.begin() + 5) == Bytes({0, 0, 0, 1, 0x82}));
    }
    EXPECT_GT(added, 0);
    EXPECT_EQ(std::count_if(old.begin(), old.end(), [](auto &e) { return e.second.external; }), 2);
}

TEST(RegionWorld, AKilledRunLeavesEveryRegionFileOldOrNewAndWhole) {
    TempDir dir;
    const std::string w = dir.file("w");
    ASSERT_EQ(run_program(LODECAST_MKWORLD_EXE, {"--region", w, "40"}).status, 0);
    const std::vector<std::string> args = {w, "21", "-r", "3"};
    // Kill moments from a measured run, moved later after a kill that found
    // nothing rewritten and earlier after a run that ended first.
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(run_program(LODECAST_EXE, args).status, 0);
    const auto measured = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - t0);
    std::chrono::microseconds early{0}, late = 2 * measured;
    int killed_after_a_rename = 0;
    for (int i = 0; i < 8; ++i) {
        std::map<std::string, Bytes> old;
        for (const auto &e : fs::directory_iterator(w + "/region")) {
            if (e.path().filename().string()[0] != '.') { // a killed run's temporary file
                old[e.path().string()] = read_file(e.path().string());
            }
        }
        const std::chrono::microseconds delay = (early + late) / 2;
        const int status = run_and_kill(LODECAST_EXE, args, delay);
        int rewritten = 0;
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
        if (status != 128 + 9) {
            late = delay;
        } else if (rewritten == 0) {
            early = delay;
        } else {
            ++killed_after_a_rename;
        }
    }
    EXPECT_GT(killed_after_a_rename, 0);
}

// ---- sectioned worlds ------------------------------------------------------

const std::string kAnvil = std::string(LODECAST_TEST_DATA) + "/worlds/anvil";
// The real 26.x layout, read only: its level.dat and dimensions/ folders.
const std::string kRealWorld26 = std::string(LODECAST_TEST_DATA) + "/worlds/26.2";
constexpr int kSilver = 1064; // iceandfire:silver_ore in the fixture's registry

std::string anvil_world(const TempDir &dir, const std::string &name, const std::string &region) {
    const fs::path w = dir.path() / name;
    fs::create_directories(w / "region");
    fs::copy_file(kAnvil + "/level.dat", w / "level.dat");
    fs::copy_file(kAnvil + "/region/" + region, w / "region" / region);
    fs::permissions(w / "region" / region, fs::perms::owner_write, fs::perm_options::add);
    return w.string();
}

// Every block a run changed became the ore with data 0 over a block the
// options allow; with those blocks (and LightPopulated where due) put
// back, each chunk is the tree it was, every other array and tag included.
TEST(SectionedWorld, AnUpdateChangesNothingButThePlacedBlocks) {
    for (const bool over_blocks : {false, true}) {
        SCOPED_TRACE(over_blocks ? "-ob" : "default");
        TempDir dir;
        const std::string w = anvil_world(dir, "w", "r.-2.7.mca");
        std::vector<std::string> args = {w,
                                         "iceandfire:silver_ore",
                                         "-r",
                                         "30",
                                         "-s",
                                         "12",
                                         "-mx",
                                         "200",
                                         "-seed",
                                         "5",
                                         "-unfinished"};
        if (over_blocks) {
            args.push_back("-ob");
        }
        const std::map<int, Slot> before = read_region(w + "/region/r.-2.7.mca");
        const RunResult r = run_program(LODECAST_EXE, args);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::map<int, Slot> after = read_region(w + "/region/r.-2.7.mca");
        ASSERT_EQ(after.size(), before.size());
        long placed = 0;
        for (const auto &[slot, s] : after) {
            nbt::document old = parse_document(before.at(slot).document);
            nbt::document now = parse_document(s.document);
            chunk_sections was, is;
            ASSERT_EQ(was.bind(old->root), sections_shape::ok);
            ASSERT_EQ(is.bind(now->root), sections_shape::ok);
            bool relit = false;
            for (int y = 0; y < 256; ++y) {
                for (int z = 0; z < 16; ++z) {
                    for (int x = 0; x < 16; ++x) {
                        const int id = was.id(x, y, z), data = was.data(x, y, z);
                        if (is.id(x, y, z) == id && is.data(x, y, z) == data) {
                            continue;
                        }
                        ++placed;
                        const bool rock =
                            id == 1 && (data == 0 || data == 1 || data == 3 || data == 5);
                        EXPECT_TRUE(rock || (over_blocks && id != 0 && id != kSilver))
                            << id << ":" << data;
                        EXPECT_EQ(is.id(x, y, z), kSilver);
                        EXPECT_EQ(is.data(x, y, z), 0);
                        relit = relit || !rock;
                        was.set(x, y, z, kSilver, 0);
                    }
                }
            }
            nbt_tag *lit =
                nbt_find_tag_by_name("LightPopulated", nbt_find_tag_by_name("Level", old->root));
            if (relit && lit != nullptr) {
                nbt_set_byte(lit, 0);
            }
            EXPECT_EQ(nbt_tree_difference(old->root, now->root), "") << "slot " << slot;
        }
        EXPECT_GT(placed, 0);
    }
}

TEST(SectionedWorld, PalettesAndUnknownSectionStorageAreRefused) {
    TempDir dir;
    // A DataVersion past the newest lodecast knows: nothing is touched.
    const std::string w = anvil_world(dir, "w", "r.-3.0.mca");
    nbt::document level = nbt::make_document();
    ASSERT_EQ(nbt_parse(level.get(), (w + "/level.dat").c_str()), NBT_OK);
    nbt_set_int(nbt_find_tag_by_name("DataVersion", nbt_find_tag_by_name("Data", level->root)),
                4904);
    ASSERT_GE(nbt_write(level.get(), (w + "/level.dat").c_str()), 0);
    const Bytes region = read_file(w + "/region/r.-3.0.mca");
    RunResult r = run_program(LODECAST_EXE, {w, "1064"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Processing...\n" + w +
                         " was saved by a newer game than lodecast knows (DataVersion above "
                         "4903) - nothing changed\n");
    EXPECT_TRUE(read_file(w + "/region/r.-3.0.mca") == region);

    // A section with an extra array: its record is carried over as it is.
    // The chunk is made a finished one: an unfinished chunk is left alone
    // on its own markers, before its sections are looked at.
    const std::string v = anvil_world(dir, "v", "r.-3.0.mca");
    const std::map<int, Slot> old = read_region(v + "/region/r.-3.0.mca");
    ASSERT_EQ(old.size(), 1u);
    const int slot = old.begin()->first;
    nbt::document doc = parse_document(old.begin()->second.document);
    nbt_tag *lvl = nbt_find_tag_by_name("Level", doc->root);
    ASSERT_EQ(nbt_set_byte(nbt_find_tag_by_name("TerrainPopulated", lvl), 1), NBT_OK);
    const nbt_list *sections = nbt_cast_list(nbt_find_tag_by_name("Sections", lvl));
    nbt_tag first{TAG_COMPOUND, nullptr, sections->content[0]};
    nbt_tag *extra = nullptr;
    ASSERT_EQ(nbt_new_byte_array(&extra, "Blocks16"), 0);
    const Bytes wide(8192, 0);
    nbt_set_byte_array(extra, wide.data(), 8192);
    nbt_add_tag(extra, &first);
    nbt::buffer z;
    ASSERT_GE(nbt_encode(doc.get(), NBT_ZLIB, z.get(), nullptr), 0);
    {
        const int fd = open((v + "/region/r.-3.0.mca").c_str(), O_WRONLY | O_TRUNC);
        region::fd_sink sink(fd);
        region::writer out(sink);
        ASSERT_EQ(out.add_record(slot, region::compression_zlib, z.data(), z.size(), 7),
                  region::write_result::ok);
        ASSERT_EQ(out.finish(), region::write_result::ok);
        close(fd);
    }
    const Bytes written = read_file(v + "/region/r.-3.0.mca");
    r = run_program(LODECAST_EXE, {v, "iceandfire:silver_ore", "-r", "5", "-oa"});
    EXPECT_EQ(r.status, 0);
    const region::chunk_pos p = region::chunk_of_slot(-3, 0, slot);
    EXPECT_EQ(r.err, "Processing...\n" + v + "/region/r.-3.0.mca chunk (" + std::to_string(p.x) +
                         ", " + std::to_string(p.z) +
                         "): a section holds block storage lodecast does not understand - "
                         "record kept as it is\nWorld updated\n");
    EXPECT_TRUE(read_file(v + "/region/r.-3.0.mca") == written);
}

TEST(SectionedWorld, EveryChunkIsUpdatedTheSameOnAnyNumberOfThreads) {
    TempDir dir;
    std::vector<std::pair<RunResult, std::string>> runs; // and the world
    for (const char *threads : {"1", "3"}) {
        const std::string w = dir.file(std::string("w") + threads);
        ASSERT_EQ(run_program(LODECAST_MKWORLD_EXE, {"--sectioned", w, "34"}).status, 0);
        runs.emplace_back(
            run_program(LODECAST_EXE, {w, "lodecast:ruby_ore", "-r", "6", "-s", "9", "-mx", "150",
                                       "-oo", "-vv", "-seed", "3", "-j", threads}),
            w);
        EXPECT_EQ(runs.back().first.status, 0) << runs.back().first.err;
    }
    EXPECT_NE(runs[0].first.err.find("Added block at"), std::string::npos);
    EXPECT_EQ(runs[0].first.err, runs[1].first.err);
    int files = 0;
    for (const auto &e : fs::directory_iterator(runs[0].second + "/region")) {
        ++files;
        const auto other = read_region(runs[1].second + "/region/" + e.path().filename().string());
        for (const auto &[slot, s] : read_region(e.path().string())) {
            EXPECT_TRUE(other.at(slot).document == s.document) << e.path() << " slot " << slot;
        }
    }
    EXPECT_EQ(files, 4);
}

// ---- dimension folders -----------------------------------------------------

TEST(Dimensions, NumbersAndNamesFindTheirFolderInBothLayouts) {
    TempDir dir;
    const std::string old = dir.file("old"), now = dir.file("new");
    fs::create_directories(now + "/dimensions/minecraft/overworld");
    // -dim's text, its folder in a world of each layout, its record key.
    const char *cases[][4] = {
        {nullptr, "", "/dimensions/minecraft/overworld", "main"},
        {"-1", "/DIM-1", "/dimensions/minecraft/the_nether", "DIM-1"},
        {"the_nether", "/DIM-1", "/dimensions/minecraft/the_nether", "DIM-1"},
        {"minecraft:the_end", "/DIM1", "/dimensions/minecraft/the_end", "DIM1"},
        {"minecraft:overworld", "", "/dimensions/minecraft/overworld", "main"},
        {"twilightforest:twilight_forest", "/dimensions/twilightforest/twilight_forest",
         "/dimensions/twilightforest/twilight_forest", "twilightforest:twilight_forest"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(dimension_folder(old, c[0]), old + c[1]) << (c[0] ? c[0] : "none");
        EXPECT_EQ(dimension_folder(now, c[0]), now + c[2]) << (c[0] ? c[0] : "none");
        EXPECT_EQ(dimension_key(c[0]), c[3]);
    }
    for (const char *bad : {"", "a:../b", "../x", "a:b/", "A:b", "+1", "a:b:c", "x/..", ":b"}) {
        EXPECT_EQ(dimension_folder(old, bad), "") << bad;
        EXPECT_EQ(dimension_key(bad), "") << bad;
    }
    EXPECT_EQ(dimension_folder(kRealWorld26, nullptr),
              kRealWorld26 + "/dimensions/minecraft/overworld");
}

// A sectioned world laid out as 26.x lays out worlds: each dimension is
// found by -dim, and the region files of entities/ and poi/ are never walked.
TEST(Dimensions, TheNewLayoutIsWalkedAndEntitiesAndPoiAreLeftAlone) {
    TempDir dir;
    const std::string w = dir.file("w");
    ASSERT_EQ(run_program(LODECAST_MKWORLD_EXE, {"--sectioned", w, "20"}).status, 0);
    const fs::path dims = fs::path(w) / "dimensions";
    for (const char *d : {"minecraft/overworld", "minecraft/the_nether", "mod/deep/dark"}) {
        fs::create_directories(dims / d);
        fs::copy(w + "/region", dims / d / "region");
        fs::copy(w + "/region", dims / d / "entities");
        fs::copy(w + "/region", dims / d / "poi");
    }
    fs::remove_all(w + "/region");
    // Which of the folders a run rewrote; each run has a seed of its own, so
    // that a dimension updated twice changes twice.
    int seed = 0;
    const auto run = [&](std::vector<std::string> dim) {
        std::map<std::string, Bytes> before;
        for (const auto &e : fs::recursive_directory_iterator(dims)) {
            if (e.is_regular_file()) {
                before[e.path().string()] = read_file(e.path().string());
            }
        }
        std::vector<std::string> args = {
            w,       "lodecast:ruby_ore",   "-r", "6", "-s", "9", "-mx", "150", "-oa",
            "-seed", std::to_string(++seed)};
        args.insert(args.end(), dim.begin(), dim.end());
        const RunResult r = run_program(LODECAST_EXE, args);
        EXPECT_EQ(r.status, 0) << r.err;
        std::set<std::string> changed;
        for (const auto &[path, bytes] : before) {
            if (read_file(path) != bytes) {
                changed.insert(fs::path(path).parent_path().string().substr(dims.string().size()));
            }
        }
        return changed;
    };
    using Set = std::set<std::string>;
    EXPECT_EQ(run({}), Set{"/minecraft/overworld/region"});
    EXPECT_EQ(run({"-dim", "-1"}), Set{"/minecraft/the_nether/region"});
    EXPECT_EQ(run({"-dim", "minecraft:the_nether"}), Set{"/minecraft/the_nether/region"});
    EXPECT_EQ(run({"-dim", "mod:deep/dark"}), Set{"/mod/deep/dark/region"});
}

} // namespace

namespace {

// The tree without its sections' block storage, which a run may change.
void drop_block_storage(nbt_tag *root) {
    nbt_tag *level = nbt_find_tag_by_name("Level", root);
    nbt_tag *holder = level != nullptr ? level : root;
    nbt_tag *list = nbt_find_tag_by_name(level != nullptr ? "Sections" : "sections", holder);
    const nbt_list *l = list == nullptr ? nullptr : nbt_cast_list(list);
    for (int32_t i = 0; l != nullptr && i < l->length; ++i) {
        nbt_tag section{TAG_COMPOUND, nullptr, l->content[i]};
        for (const char *name : {"Palette", "BlockStates", "block_states"}) {
            if (nbt_tag *t = nbt_find_tag_by_name(name, &section)) {
                nbt_remove_tag(t, &section);
            }
        }
    }
}

} // namespace

// Real paletted chunks of every era: finished chunks get the ore over rock
// (its deepslate variant over deepslate) and change nowhere else; proto-
// chunks and chunks awaiting their below-zero generation keep their record
// and time; the run is the same on any number of threads, and the census
// counts what it placed.
TEST(PalettedWorld, FinishedChunksGetTheOreOverRockAndNothingElseChanges) {
    const std::string modern = std::string(LODECAST_TEST_DATA) + "/modern/";
    // Each world with the lowest height of its era.
    const std::pair<const char *, const char *> worlds[] = {{"1.15.2-world", "0"},
                                                            {"1.17.1-world", "0"},
                                                            {"1.18.1-upgraded-world", "0"},
                                                            {"1.19.3-world", "-64"},
                                                            {"26.2-world", "-64"}};
    for (const auto &[world, lowest] : worlds) {
        SCOPED_TRACE(world);
        TempDir dir;
        std::map<std::string, std::map<int, Slot>> runs[2];
        std::map<std::string, std::map<int, Slot>> before;
        // The ores the census counts before and after the run.
        const auto census = [](const std::string &w) {
            long n = 0;
            std::istringstream lines(run_program(LODECAST_CENSUS_EXE, {w, "diamond_ore"}).out);
            for (std::string line; std::getline(lines, line);) {
                long k = 0;
                n += std::sscanf(line.c_str(), "minecraft:%*[a-z_]: %ld blocks", &k) == 1 ? k : 0;
            }
            return n;
        };
        long counted[2] = {};
        for (int j = 0; j < 2; ++j) {
            const std::string w = dir.file(j == 0 ? "a" : "b");
            fs::copy(modern + world, w, fs::copy_options::recursive);
            const std::string region = dimension_folder(w, nullptr) + "/region";
            counted[0] = census(w);
            for (const auto &e : fs::directory_iterator(region)) {
                before[e.path().filename()] = read_region(e.path());
            }
            const RunResult r = run_program(LODECAST_EXE, {w, "minecraft:diamond_ore", "-r", "40",
                                                           "-s", "12", "-mn", lowest, "-mx", "80",
                                                           "-seed", "3", "-j", j == 0 ? "1" : "2"});
            ASSERT_EQ(r.status, 0) << r.err;
            for (const auto &e : fs::directory_iterator(region)) {
                runs[j][e.path().filename()] = read_region(e.path());
            }
            counted[1] = census(w);
        }
        long placed = 0;
        for (const auto &[file, slots] : runs[0]) {
            for (const auto &[slot, s] : slots) {
                const Slot &old = before[file].at(slot);
                EXPECT_TRUE(s.document == runs[1][file].at(slot).document) << file << slot;
                nbt::document was = parse_document(old.document);
                nbt::document is = parse_document(s.document);
                paletted_chunk a, b;
                ASSERT_EQ(a.bind(was->root), paletted_result::ok);
                ASSERT_EQ(b.bind(is->root), paletted_result::ok);
                if (!a.finished()) {
                    EXPECT_TRUE(s.raw == old.raw && s.timestamp == old.timestamp) << slot;
                    continue;
                }
                for (int y = a.bottom(); y <= a.top(); ++y) {
                    for (int i = 0; i < 256; ++i) {
                        const std::string_view from = a.entry_at(i & 15, y, i >> 4).name;
                        const std::string_view to = b.entry_at(i & 15, y, i >> 4).name;
                        if (from == to) {
                            continue;
                        }
                        ++placed;
                        const bool deep = from == "minecraft:deepslate";
                        EXPECT_TRUE(deep || from == "minecraft:stone" ||
                                    from == "minecraft:granite" || from == "minecraft:diorite" ||
                                    from == "minecraft:andesite" || from == "minecraft:tuff")
                            << from;
                        EXPECT_EQ(to, deep ? "minecraft:deepslate_diamond_ore"
                                           : "minecraft:diamond_ore");
                    }
                }
                drop_block_storage(was->root);
                drop_block_storage(is->root);
                EXPECT_EQ(nbt_tree_difference(was->root, is->root), "") << slot;
            }
        }
        EXPECT_GT(placed, 0);
        EXPECT_EQ(counted[1], counted[0] + placed);
    }
}

// Whether a chunk is left alone as unfinished, told from its skeleton alone
// and from its whole tree: the same for every real chunk of every era.
TEST(RealChunks, TheSkeletonTellsUnfinishedChunksAsTheWholeTreeDoes) {
    TempDir dir;
    std::vector<std::string> worlds = {make_world(dir, "mcr", read_file(kFixture)), kAnvil,
                                       kRealWorld26};
    for (const auto &e : fs::directory_iterator(std::string(LODECAST_TEST_DATA) + "/modern")) {
        if (e.is_directory()) {
            worlds.push_back(e.path().string());
        }
    }
    int told[2] = {};
    Bytes smallest;
    for (const std::string &w : worlds) {
        const std::string folder = dimension_folder(w, nullptr);
        const std::unique_ptr<storage_kind> kind = make_storage_kind(identify_world(w, folder), w);
        ASSERT_TRUE(kind) << w;
        for (const auto &file : fs::directory_iterator(folder + "/region")) {
            for (const auto &[slot, s] : read_region(file.path().string())) {
                nbt::document doc = parse_document(s.document);
                std::unique_ptr<block_grid> grid;
                const bool whole =
                    kind->bind(doc.get(), grid) == chunk_status::ok && !grid->finished();
                nbt::document skeleton = nbt::make_document();
                ASSERT_EQ(nbt_parse_skeleton(skeleton.get(), s.document.data(), s.document.size()),
                          NBT_OK);
                EXPECT_EQ(kind->unfinished(skeleton->root), whole) << file.path() << " " << slot;
                ++told[whole ? 1 : 0];
                if (smallest.empty() || s.document.size() < smallest.size()) {
                    smallest = s.document;
                }
            }
        }
    }
    EXPECT_GT(told[0], 20);
    EXPECT_GT(told[1], 20);
    // A document cut short anywhere has no skeleton (its parse says why);
    // each prefix on its own, so that a read past it is caught.
    for (size_t n = 0; n < smallest.size(); ++n) {
        const Bytes cut(smallest.begin(), smallest.begin() + static_cast<long>(n));
        nbt::document skeleton = nbt::make_document();
        ASSERT_EQ(nbt_parse_skeleton(skeleton.get(), cut.data(), cut.size()), NBT_ERR) << n;
        ASSERT_EQ(skeleton->root, nullptr);
    }
}
