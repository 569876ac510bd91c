// Block names from the real registry of a modded world's level.dat.
#include "lodecast/formats/block_registry.h"
#include "nbt/nbt.h"
#include "support/chunk_bytes.h"
#include "support/files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kWorld = std::string(LODECAST_TEST_DATA) + "/worlds/anvil";

TEST(BlockRegistry, NamesAndIdsOfTheWorld) {
    block_registry r;
    ASSERT_TRUE(r.load(kWorld));
    EXPECT_EQ(r.id_of("iceandfire:silver_ore"), 1064);
    EXPECT_EQ(r.id_of("minecraft:stone"), 1);
    EXPECT_EQ(r.name_of(1064), "iceandfire:silver_ore");
    EXPECT_EQ(r.id_of("iceandfire:silvr_ore"), -1);
    EXPECT_FALSE(block_registry().load(kWorld + "/region")); // no level.dat there
}

TEST(BlockRegistry, CloseMatchesOfAMisspelling) {
    block_registry r;
    ASSERT_TRUE(r.load(kWorld));
    const std::vector<std::string> near = r.close_matches("iceandfire:silvr_ore");
    ASSERT_FALSE(near.empty());
    EXPECT_LE(near.size(), 5u);
    EXPECT_EQ(near[0], "iceandfire:silver_ore");
    const std::vector<std::string> part = r.close_matches("sapphire_ore");
    ASSERT_FALSE(part.empty());
    EXPECT_EQ(part[0], "iceandfire:sapphire_ore");
    EXPECT_TRUE(r.close_matches("zzzzzzzzzzzzzzzzzzzzzzzz").empty());
}

TEST(BlockRegistry, TheOlderLoadersItemDataListsBlocksMarked) {
    // Blocks carry a leading \x01, items \x02; only blocks are names of blocks.
    NbtBytes b;
    b.head(TAG_COMPOUND, "").head(TAG_COMPOUND, "FML").head(TAG_LIST, "ItemData");
    b.u8(TAG_COMPOUND).i32(2);
    b.head(TAG_STRING, "K").str("\x01mod:tin_ore").head(TAG_INT, "V").i32(300).end();
    b.head(TAG_STRING, "K").str("\x02mod:tin_ingot").head(TAG_INT, "V").i32(4100).end();
    TempDir dir;
    write_gzip_file(dir.file("level.dat"), b.end().end().bytes());
    block_registry r;
    ASSERT_TRUE(r.load(dir.path().string()));
    EXPECT_EQ(r.id_of("mod:tin_ore"), 300);
    EXPECT_EQ(r.id_of("mod:tin_ingot"), -1);
}

} // namespace
