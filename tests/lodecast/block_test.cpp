// Block layout, the precedence rule, data nibbles and the index checks.
#include "lodecast/formats/chunk_document.h"
#include "lodecast/ores/vein.h"
#include "lodecast/storage/block.h"
#include "lodecast/storage/section_blocks.h"
#include "lodecast/storage/sectioned_storage.h"
#include "nbt/nbt.hpp"
#include "nbt/nbt_io.h"
#include "ore_fixtures.h"
#include "support/chunk_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

options make_options(uint32_t set, int data = 0) {
    options opt{};
    opt.set = set;
    opt.data = data;
    return opt;
}

TEST(BlockAt, CornersAndNibbles) {
    struct row {
        int x, y, z;
        int32_t index, data_byte;
        bool high;
    };
    const row rows[] = {
        {0, 0, 0, 0, 0, false},
        {0, 1, 0, 1, 0, true},
        {0, 127, 0, 127, 63, true},
        {0, 0, 1, 128, 64, false},
        {1, 0, 0, 2048, 1024, false},
        {3, 40, 7, 7080, 3540, false},
        {0, 0, 15, 1920, 960, false},
        {15, 0, 0, 30720, 15360, false},
        {15, 127, 15, 32767, 16383, true},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(std::to_string(r.x) + "," + std::to_string(r.y) + "," + std::to_string(r.z));
        const block_position p = block_at(r.x, r.y, r.z);
        EXPECT_EQ(p.index, r.index);
        EXPECT_EQ(p.data_byte, r.data_byte);
        EXPECT_EQ(p.high_nibble, r.high);
    }
}

TEST(BlockAtDeathTest, IndexBelowZeroStops) {
    EXPECT_DEATH(block_at(0, -1, 0), "index >= 0");
    EXPECT_DEATH(block_at(-1, 127, 15), "index >= 0");
}

TEST(BlockAtDeathTest, IndexPastTheEndStops) {
    EXPECT_DEATH(block_at(15, 128, 15), "index < 32768");
    EXPECT_DEATH(block_at(16, 0, 0), "index < 32768");
    // Large enough to overflow a 32-bit index: still caught, not wrapped.
    EXPECT_DEATH(block_at(2000000000, 0, 0), "index < 32768");
}

TEST(UpdateBlockDeathTest, OutOfRangePositionStops) {
    test_chunk chunk(1);
    const options opt = make_options(0);
    EXPECT_DEATH(place_flat(&chunk.arr, &chunk.dat, 0, -1, 0, 16, opt), "index >= 0");
    EXPECT_DEATH(place_flat(&chunk.arr, &chunk.dat, 16, 0, 0, 16, opt), "index < 32768");
}

// What happens to an existing block under each column of options; -oa
// decides alone, so -oa with the others must match the -oa column.
TEST(UpdateBlock, PrecedenceTable) {
    const uint32_t columns[] = {0, OPT_OVER_ORES, OPT_OVER_BLOCKS, OPT_OVER_ORES | OPT_OVER_BLOCKS,
                                OPT_OVER_ALL};
    struct row {
        const char *what;
        int ore_id;
        std::vector<int> existing;
        bool placed[5];
    };
    const row rows[] = {
        {"stone", 16, {1}, {true, true, true, true, true}},
        {"air", 16, {0}, {false, false, false, false, true}},
        {"other ores", 16, {15, 14, 73, 56, 21, 3, 13}, {false, true, true, true, true}},
        {"ores under a foreign id",
         200,
         {16, 15, 14, 73, 56, 21, 3, 13},
         {false, true, true, true, true}},
        {"other blocks", 16, {2, 4, 12, 17, 74, 255}, {false, false, true, true, true}},
        {"own id", 16, {16}, {false, false, false, false, false}},
        {"own id in the ore set", 3, {3}, {false, false, false, false, false}},
        {"own id outside the ore set", 200, {200}, {false, false, false, false, false}},
    };
    for (const row &r : rows) {
        for (int cur : r.existing) {
            for (int c = 0; c < 5; ++c) {
                for (uint32_t extra : {0u, OPT_OVER_ORES | OPT_OVER_BLOCKS}) {
                    if (extra != 0 && columns[c] != OPT_OVER_ALL) {
                        continue;
                    }
                    SCOPED_TRACE(std::string(r.what) + " cur " + std::to_string(cur) + " column " +
                                 std::to_string(c) + " extra " + std::to_string(extra));
                    test_chunk chunk(static_cast<unsigned char>(cur));
                    // The result tells a placement apart from a no-op even
                    // where the ore lands on its own id.
                    const options opt = make_options(columns[c] | extra);
                    EXPECT_EQ(place_flat(&chunk.arr, &chunk.dat, 4, 50, 9, r.ore_id, opt),
                              r.placed[c]);
                    const int want = r.placed[c] ? r.ore_id & 0xFF : cur;
                    EXPECT_EQ(chunk.block(4, 50, 9), want);
                    // Nothing else in the chunk moves.
                    chunk.block(4, 50, 9) = static_cast<unsigned char>(cur);
                    EXPECT_EQ(chunk.blocks, std::vector<unsigned char>(32768, cur));
                }
            }
        }
    }
}

// An ore id of 1 meets the stone rule on its own blocks, so every visit
// places again and rewrites the nibble.
TEST(UpdateBlock, OreIdOneIsPlacedOnEveryVisit) {
    test_chunk chunk(1, 0x00);
    const options opt = make_options(OPT_DATA, 6);
    for (int visit = 0; visit < 3; ++visit) {
        chunk.data[0] = 0xFF;
        EXPECT_TRUE(place_flat(&chunk.arr, &chunk.dat, 0, 0, 0, 1, opt));
        EXPECT_EQ(chunk.block(0, 0, 0), 1);
        EXPECT_EQ(chunk.data[0], 0xF6) << "visit " << visit;
    }
}

// Ids outside 0..255 compare as numbers, so blocks holding their low eight
// bits are never "the ore itself".
TEST(UpdateBlock, IdOutsideByteRangeNeverEqualsABlock) {
    struct row {
        int ore_id;
        int existing;
        uint32_t set;
        int want;
        bool placed;
    };
    const row rows[] = {
        {-240, 16, OPT_OVER_BLOCKS, 16, true}, // -240 & 0xFF == 16, yet not equal
        {-240, 16, OPT_OVER_ORES, 16, true},
        {-240, 16, 0, 16, false}, // no rule lets 16 go
        {-240, 1, 0, 16, true},   // stone takes the low eight bits
        {-255, 1, 0, 1, true},    // low bits 1, written over stone
        {-240, 0, OPT_OVER_BLOCKS, 0, false},
        {-240, 0, OPT_OVER_ALL, 16, true},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(std::to_string(r.ore_id) + " over " + std::to_string(r.existing));
        test_chunk chunk(static_cast<unsigned char>(r.existing));
        const options opt = make_options(r.set);
        EXPECT_EQ(place_flat(&chunk.arr, &chunk.dat, 2, 3, 4, r.ore_id, opt), r.placed);
        EXPECT_EQ(chunk.block(2, 3, 4), r.want);
    }
}

TEST(UpdateBlock, IdIsUsedAsSixteenBits) {
    // 65552 taken as a 16-bit number is 16: the block already holds the ore.
    test_chunk chunk(16);
    const options opt = make_options(OPT_OVER_BLOCKS);
    EXPECT_FALSE(place_flat(&chunk.arr, &chunk.dat, 2, 3, 4, 65536 + 16, opt));
}

TEST(UpdateBlock, DataNibbleKeepsTheNeighbour) {
    struct row {
        int y; // even: low nibble, odd: high nibble
        int data;
        unsigned char before, after;
    };
    const row rows[] = {
        {40, 5, 0xA7, 0xA5},  {41, 5, 0xA7, 0x57},  {40, -3, 0xA7, 0xAD}, {41, -3, 0xA7, 0xD7},
        {40, 20, 0xA7, 0xA4}, {41, 20, 0xA7, 0x47}, {40, 0, 0xFF, 0xF0},  {41, 15, 0x00, 0xF0},
    };
    for (const row &r : rows) {
        SCOPED_TRACE("y " + std::to_string(r.y) + " data " + std::to_string(r.data));
        test_chunk chunk(1, 0x33);
        const int byte = block_at(3, r.y, 7).data_byte;
        chunk.data[byte] = r.before;
        const options opt = make_options(OPT_DATA, r.data);
        place_flat(&chunk.arr, &chunk.dat, 3, r.y, 7, 16, opt);
        EXPECT_EQ(chunk.data[byte], r.after);
        chunk.data[byte] = 0x33;
        EXPECT_EQ(chunk.data, std::vector<unsigned char>(16384, 0x33));
    }
}

TEST(UpdateBlock, DataAtTheCorners) {
    test_chunk chunk(1, 0x00);
    const options opt = make_options(OPT_DATA, 9);
    place_flat(&chunk.arr, &chunk.dat, 0, 0, 0, 16, opt);
    place_flat(&chunk.arr, &chunk.dat, 15, 127, 15, 16, opt);
    EXPECT_EQ(chunk.data[0], 0x09);
    EXPECT_EQ(chunk.data[16383], 0x90);
    EXPECT_EQ(chunk.blocks[0], 16);
    EXPECT_EQ(chunk.blocks[32767], 16);
}

TEST(UpdateBlock, DataUntouchedUnlessAskedAndPlaced) {
    {
        test_chunk chunk(1, 0x77);
        const options opt = make_options(0, 5);
        place_flat(&chunk.arr, &chunk.dat, 3, 40, 7, 16, opt);
        EXPECT_EQ(chunk.block(3, 40, 7), 16);
        EXPECT_EQ(chunk.data, std::vector<unsigned char>(16384, 0x77));
    }
    {
        test_chunk chunk(0, 0x77); // air is kept, so its nibble is too
        const options opt = make_options(OPT_DATA, 5);
        place_flat(&chunk.arr, &chunk.dat, 3, 40, 7, 16, opt);
        EXPECT_EQ(chunk.data, std::vector<unsigned char>(16384, 0x77));
    }
}

// Data values need the whole nibble array: a chunk without one cannot take
// an ore with -d (the run leaves it alone as invalid), but can without.
TEST(UpdateBlock, MissingOrShortDataArrayTakesNoDataValues) {
    test_chunk chunk(1);
    std::vector<unsigned char> small(100, 0x11);
    nbt_byte_array short_dat{static_cast<int32_t>(small.size()), small.data()};
    for (nbt_byte_array *dat : {static_cast<nbt_byte_array *>(nullptr), &short_dat}) {
        EXPECT_EQ(begun_flat_grid(&chunk.arr, dat, 16, make_options(OPT_DATA, 5)), nullptr);
        EXPECT_TRUE(place_flat(&chunk.arr, dat, 15, 127, 15, 16, make_options(0, 5)));
        chunk.block(15, 127, 15) = 1;
    }
    EXPECT_EQ(small, std::vector<unsigned char>(100, 0x11));
}

// ---- sectioned chunks -------------------------------------------------------

// A sectioned chunk: stone sections at the given Y, "Add" in add_ys only;
// data nibbles from data_fill. Parsed from bytes spelled out here.
nbt::document sectioned_chunk(const std::vector<int> &ys, const std::vector<int> &add_ys = {},
                              uint8_t data_fill = 0) {
    NbtBytes b;
    b.head(TAG_COMPOUND, "").head(TAG_COMPOUND, "Level").head(TAG_BYTE, "LightPopulated").u8(1);
    b.head(TAG_LIST, "Sections").u8(TAG_COMPOUND).i32(static_cast<int32_t>(ys.size()));
    for (int y : ys) {
        b.head(TAG_BYTE, "Y").u8(static_cast<uint8_t>(y)).byte_array("Blocks", Bytes(4096, 1));
        if (std::find(add_ys.begin(), add_ys.end(), y) != add_ys.end()) {
            b.byte_array("Add", Bytes(2048, 0));
        }
        b.byte_array("Data", Bytes(2048, data_fill)).end();
    }
    b.end().end();
    nbt::document doc = nbt::make_document();
    EXPECT_EQ(nbt_parse_memory(doc.get(), b.bytes().data(), b.bytes().size(), NBT_UNCOMPRESSED,
                               nullptr, nullptr),
              NBT_OK);
    return doc;
}

// Section s's array name of doc.
const nbt_byte_array *section_array(const nbt::document &doc, int s, const char *name) {
    const nbt_list *l =
        nbt_cast_list(nbt_find_tag_by_name("Sections", nbt_find_tag_by_name("Level", doc->root)));
    nbt_tag view{TAG_COMPOUND, nullptr, l->content[s]};
    nbt_tag *t = nbt_find_tag_by_name(name, &view);
    return t == nullptr ? nullptr : nbt_cast_byte_array(t);
}

TEST(SectionBlocks, CornersAndNibbles) {
    struct row {
        int x, y, z;
        int section; // position in the list of sections 0, 1, 15
        int32_t index;
    };
    const row rows[] = {
        {0, 0, 0, 0, 0},
        {1, 0, 0, 0, 1},
        {15, 15, 15, 0, 4095},
        {0, 15, 0, 0, 3840},
        {0, 0, 15, 0, 240},
        {0, 16, 0, 1, 0},
        {3, 17, 1, 1, 256 + 16 + 3},
        {0, 255, 15, 2, 4080},
        {15, 255, 15, 2, 4095},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(std::to_string(r.x) + "," + std::to_string(r.y) + "," + std::to_string(r.z));
        nbt::document doc = sectioned_chunk({0, 1, 15});
        chunk_sections s;
        ASSERT_EQ(s.bind(doc->root), sections_shape::ok);
        ASSERT_TRUE(s.set(r.x, r.y, r.z, 21, 9));
        const nbt_byte_array *blocks = section_array(doc, r.section, "Blocks");
        const nbt_byte_array *data = section_array(doc, r.section, "Data");
        EXPECT_EQ(blocks->content[r.index], 21);
        EXPECT_EQ(std::count(blocks->content, blocks->content + 4096, 21), 1);
        const unsigned byte = data->content[r.index / 2];
        EXPECT_EQ(byte, r.index % 2 == 1 ? 0x90u : 0x09u);
        EXPECT_EQ(s.id(r.x, r.y, r.z), 21);
        EXPECT_EQ(s.data(r.x, r.y, r.z), 9);
        EXPECT_EQ(section_array(doc, r.section, "Add"), nullptr); // an id below 256 needs none
    }
}

TEST(SectionBlocks, AddIsCreatedSetAndClearedAndMissingSectionsStayAir) {
    nbt::document doc = sectioned_chunk({0, 1}, {1});
    chunk_sections s;
    ASSERT_EQ(s.bind(doc->root), sections_shape::ok);
    ASSERT_TRUE(s.set(1, 0, 0, 0x2A5, 0)); // creates Add in section 0
    const nbt_byte_array *add = section_array(doc, 0, "Add");
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add->length, 2048);
    EXPECT_EQ(add->content[0], 0x20);
    EXPECT_EQ(std::count(add->content, add->content + 2048, 0), 2047);
    EXPECT_EQ(s.id(1, 0, 0), 0x2A5);
    ASSERT_TRUE(s.set(1, 0, 0, 0x15, 0)); // clears the nibble, keeps the array
    EXPECT_EQ(section_array(doc, 0, "Add")->content[0], 0);
    EXPECT_EQ(s.id(1, 0, 0), 0x15);
    ASSERT_TRUE(s.set(0, 16, 0, 4095, 15)); // existing Add, even index: low nibble
    EXPECT_EQ(section_array(doc, 1, "Add")->content[0], 0x0F);
    EXPECT_EQ(s.id(0, 16, 0), 4095);
    EXPECT_FALSE(s.set(0, 40, 0, 300, 0)); // section 2 is missing: air, never created
    EXPECT_EQ(s.id(0, 40, 0), 0);
    EXPECT_EQ(s.at(40).compound, nullptr);
}

// Which stone a default vein replaces in a sectioned chunk, and when the
// chunk must be relit.
TEST(SectionedStorage, OnlyNaturalRockIsStoneAndOtherBlocksAskForRelight) {
    struct row {
        uint8_t data;
        uint32_t set;
        bool placed, relight;
    };
    const row rows[] = {
        {0, 0, true, false},           {1, 0, true, false},
        {3, 0, true, false},           {5, 0, true, false},
        {2, 0, false, false},          {4, 0, false, false},
        {6, 0, false, false},          {6, OPT_OVER_BLOCKS, true, true},
        {2, OPT_OVER_ALL, true, true},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(std::to_string(r.data) + " set " + std::to_string(r.set));
        nbt::document doc = sectioned_chunk({2}, {}, static_cast<uint8_t>(r.data * 0x11));
        const sectioned_storage kind("");
        ore_plan ore;
        ore.block.id = 1064;
        ore.opt = make_options(r.set);
        std::unique_ptr<block_grid> grid;
        ASSERT_EQ(kind.bind(doc.get(), grid), chunk_status::ok);
        const std::unique_ptr<prepared_ore> prepared = kind.prepare(ore);
        ASSERT_TRUE(grid->begin(*prepared));
        EXPECT_EQ(grid->place(4, 33, 5), r.placed);
        EXPECT_EQ(grid->top(), 255);
        ASSERT_EQ(grid->finish(), chunk_status::ok);
        chunk_sections s;
        ASSERT_EQ(s.bind(doc->root), sections_shape::ok);
        EXPECT_EQ(s.id(4, 33, 5), r.placed ? 1064 : 1);
        EXPECT_EQ(s.data(4, 33, 5), r.placed ? 0 : r.data); // the ore's first variant
        nbt_tag *lit = find_in_level(doc->root, "LightPopulated");
        EXPECT_EQ(*nbt_cast_byte(lit), r.relight ? 0 : 1);
    }
}

} // namespace
