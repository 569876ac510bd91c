// The benchmark worlds: tile_world deals real chunks out to new places, and
// each keeps its source's content but for its coordinates.
#include "lodecast/formats/chunk_name.h"
#include "lodecast/formats/region_file.h"
#include "nbt/nbt.hpp"
#include "support/nbt_tree_equal.h"
#include "support/run.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <unistd.h>
#include <vector>

namespace {

const std::string data = LODECAST_BENCH_DATA;

struct chunk {
    nbt::document doc;
    uint32_t timestamp = 0;
};

// Every chunk of the region file at path, in slot order.
std::vector<chunk> region_chunks(const std::string &path) {
    std::vector<chunk> out;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    region::reader in;
    EXPECT_EQ(in.open(fd), region::open_result::ok) << path;
    region::record rec;
    for (int slot = 0; slot < region::slot_count; ++slot) {
        if (in.read_record(slot, rec) == region::status::ok) {
            chunk c{nbt::make_document(), rec.timestamp};
            EXPECT_EQ(nbt_parse_memory(c.doc.get(), rec.bytes.data(), rec.bytes.size(), NBT_ZLIB,
                                       nullptr, nullptr),
                      NBT_OK);
            out.push_back(std::move(c));
        }
    }
    close(fd);
    return out;
}

nbt_tag *coords_holder(nbt_tag *root) {
    nbt_tag *level = nbt_find_tag_by_name("Level", root);
    return level != nullptr ? level : root;
}

int32_t coord(nbt_tag *root, const char *name) {
    return *nbt_cast_int(nbt_find_tag_by_name(name, coords_holder(root)));
}

// a and b hold the same tree but for xPos and zPos.
std::string difference_but_coords(nbt_tag *a, nbt_tag *b) {
    nbt_set_int(nbt_find_tag_by_name("xPos", coords_holder(a)), 0);
    nbt_set_int(nbt_find_tag_by_name("zPos", coords_holder(a)), 0);
    nbt_set_int(nbt_find_tag_by_name("xPos", coords_holder(b)), 0);
    nbt_set_int(nbt_find_tag_by_name("zPos", coords_holder(b)), 0);
    return nbt_tree_difference(a, b);
}

TEST(TileWorld, RegionChunksGoToTheirPlacesInTurnWithTheirTimestamps) {
    TempDir tmp;
    const std::string source = LODECAST_TEST_DATA "/regions/r.-1.0.mcr";
    ASSERT_EQ(run_program(TILE_WORLD_EXE, {tmp.file("w"), "40", source}).status, 0);
    std::vector<chunk> from = region_chunks(source);
    ASSERT_EQ(from.size(), 58u);
    // x and z from -20 to 19: four region files of 20 x 20 chunks, each
    // chunk the next source chunk in the order of the tiling (z, then x).
    for (int32_t rz : {-1, 0}) {
        for (int32_t rx : {-1, 0}) {
            std::vector<chunk> got = region_chunks(
                tmp.file("w/region/" + region::file_name(rx, rz, region::extension::mcr)));
            ASSERT_EQ(got.size(), 400u);
            size_t k = 0;
            for (int32_t z = rz * 32; z < rz * 32 + 32; ++z) {
                for (int32_t x = rx * 32; x < rx * 32 + 32; ++x) {
                    if (x < -20 || x >= 20 || z < -20 || z >= 20) {
                        continue;
                    }
                    chunk &c = got[k++];
                    chunk &src = from[static_cast<size_t>((z + 20) * 40 + (x + 20)) % from.size()];
                    EXPECT_EQ(coord(c.doc->root, "xPos"), x);
                    EXPECT_EQ(coord(c.doc->root, "zPos"), z);
                    EXPECT_EQ(c.timestamp, src.timestamp);
                    EXPECT_EQ(difference_but_coords(c.doc->root, src.doc->root), "");
                }
            }
        }
    }
}

TEST(TileWorld, ChunkFilesGetTheirNamesAndCoordinates) {
    TempDir tmp;
    ASSERT_EQ(run_program(TILE_WORLD_EXE, {tmp.file("w"), "3", data + "/alpha-world"}).status, 0);
    for (int32_t z = -1; z < 2; ++z) {
        for (int32_t x = -1; x < 2; ++x) {
            nbt::document doc = nbt::make_document();
            ASSERT_EQ(nbt_parse(doc.get(), tmp.file("w/" + chunk_file_path(x, z)).c_str()), NBT_OK);
            EXPECT_EQ(coord(doc->root, "xPos"), x);
            EXPECT_EQ(coord(doc->root, "zPos"), z);
        }
    }
}

TEST(TileWorld, PalettedChunksKeepTheirLevelDat) {
    TempDir tmp;
    ASSERT_EQ(
        run_program(TILE_WORLD_EXE, {tmp.file("w"), "2", data + "/paletted-1.19.3-world"}).status,
        0);
    std::ifstream a(tmp.file("w/level.dat"), std::ios::binary);
    std::ifstream b(data + "/paletted-1.19.3-world/level.dat", std::ios::binary);
    EXPECT_EQ(std::vector<char>(std::istreambuf_iterator<char>(a), {}),
              std::vector<char>(std::istreambuf_iterator<char>(b), {}));
    std::vector<chunk> got = region_chunks(tmp.file("w/region/r.-1.-1.mca"));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(coord(got[0].doc->root, "xPos"), -1); // at the root in this layout
}

// --slots: only those records of the source are dealt out, in slot order.
TEST(TileWorld, SlotsPickTheRecordsDealtOut) {
    TempDir tmp;
    const std::string source = LODECAST_TEST_DATA "/modern/1.15.2-world";
    ASSERT_EQ(
        run_program(TILE_WORLD_EXE, {"--slots", "162,161", tmp.file("w"), "2", source}).status, 0);
    EXPECT_NE(run_program(TILE_WORLD_EXE, {"--slots", "161;", tmp.file("v"), "2", source}).status,
              0);
    const char *status[2][2] = {{"full", "features"}, {"full", "features"}}; // by z, x
    for (int32_t rz : {-1, 0}) {
        for (int32_t rx : {-1, 0}) {
            std::vector<chunk> got = region_chunks(
                tmp.file("w/region/" + region::file_name(rx, rz, region::extension::mca)));
            ASSERT_EQ(got.size(), 1u);
            nbt_tag *level = nbt_find_tag_by_name("Level", got[0].doc->root);
            EXPECT_STREQ(nbt_cast_string(nbt_find_tag_by_name("Status", level)),
                         status[rz + 1][rx + 1]);
        }
    }
}

} // namespace
