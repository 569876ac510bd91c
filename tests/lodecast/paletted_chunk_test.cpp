// Paletted chunks of real worlds bound, edited and written back.
#include "lodecast/storage/chunk_biomes.h"
#include "lodecast/storage/paletted_chunk.h"
#include "support/nbt_tree_equal.h"
#include "support/region_chunks.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

const std::string modern = std::string(LODECAST_TEST_DATA) + "/modern/";
const std::string r1152 = modern + "1.15.2-world/region/r.0.-4.mca";
const std::string r1171 = modern + "1.17.1-world/region/r.-1.-2.mca";
const std::string r1181 = modern + "1.18.1-upgraded-world/region/r.2.-3.mca";
const std::string r1193 = modern + "1.19.3-world/region/r.1.-3.mca";
const std::string r262 = modern + "26.2-world/dimensions/minecraft/overworld/region/r.-2.-9.mca";
const std::string r113 = modern + "debug-1.13-world/region/r.0.0.mca";
const std::string r116 = modern + "debug-1.16-world/region/r.0.0.mca";

nbt_tag *at(nbt_tag *t, const char *name) {
    return t == nullptr ? nullptr : nbt_find_tag_by_name(name, t);
}

// A borrowed tag on the compound holding section y's palette and indices.
nbt_tag states_of(nbt_file *doc, int y) {
    nbt_tag *level = at(doc->root, "Level");
    nbt_list *l =
        nbt_cast_list(level != nullptr ? at(level, "Sections") : at(doc->root, "sections"));
    for (int32_t i = 0; l != nullptr && i < l->length; ++i) {
        nbt_tag section{TAG_COMPOUND, nullptr, l->content[i]};
        if (*nbt_cast_byte(at(&section, "Y")) == y) {
            return level != nullptr ? section : *at(&section, "block_states");
        }
    }
    ADD_FAILURE() << "no section " << y;
    return {TAG_COMPOUND, nullptr, nullptr};
}

std::string entry_difference(const palette_entry &a, const palette_entry &b) {
    nbt_tag ta{TAG_COMPOUND, nullptr, a.compound};
    nbt_tag tb{TAG_COMPOUND, nullptr, b.compound};
    return a.name == b.name ? nbt_tree_difference(&ta, &tb) : "name";
}

TEST(PalettedChunk, BindsRealChunksOfEveryEra) {
    struct row {
        const std::string &file;
        int slot;
        int32_t version;
        chunk_layout layout;
        const char *status;
        bool finished, retrogen;
        int bottom, top;
    };
    const row rows[] = {
        {r1152, 161, 2230, chunk_layout::level, "full", true, false, 0, 255},
        {r1152, 165, 2230, chunk_layout::level, "structure_starts", false, false, 0, 255},
        {r1171, 966, 2730, chunk_layout::level, "features", false, false, 0, 255},
        {r1181, 912, 2730, chunk_layout::level, "full", true, false, 0, 255},
        {r1181, 878, 2865, chunk_layout::root, "structure_starts", false, true, -64, 319},
        {r1193, 0, 3218, chunk_layout::root, "full", true, false, -64, 319},
        {r262, 638, 4903, chunk_layout::root, "minecraft:full", true, false, -64, 319},
        {r262, 635, 4903, chunk_layout::root, "minecraft:initialize_light", false, false, -64, 319},
        {r113, 12, 1519, chunk_layout::level, "fullchunk", true, false, 0, 255},
        {r113, 1, 1519, chunk_layout::level, "postprocessed", true, false, 0, 255},
        {r113, 27, 1519, chunk_layout::level, "decorated", false, false, 0, 255},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.file + " slot " + std::to_string(r.slot));
        nbt::document doc = read_region_chunk(r.file, r.slot);
        ASSERT_NE(doc, nullptr);
        paletted_chunk c;
        ASSERT_EQ(c.bind(doc->root), paletted_result::ok);
        EXPECT_EQ(c.data_version(), r.version);
        EXPECT_EQ(c.layout(), r.layout);
        EXPECT_EQ(c.status(), r.status);
        EXPECT_EQ(c.finished(), r.finished);
        EXPECT_EQ(c.below_zero_retrogen(), r.retrogen);
        EXPECT_EQ(c.bottom(), r.bottom);
        EXPECT_EQ(c.top(), r.top);
    }
}

// New states are added to one section until its index width grows (a
// one-entry palette of 2844 on gains its "data"), one block is set to the
// last of them, and the chunk is written back and read again.
TEST(PalettedChunk, EditedSectionAloneChangesOnWriteBack) {
    struct row {
        const std::string &file;
        int slot;
        int section_y;
    };
    const row rows[] = {
        {r1152, 161, 3}, // spanning, 8 entries: 4 -> 5 bits
        {r113, 1, 4},    // spanning, 65 entries: 7 -> 8 bits
        {r1171, 999, 0}, // padded, 21 entries: 5 -> 6 bits
        {r116, 1, 4},    // padded, 65 entries: 7 -> 8 bits
        {r1193, 0, 0},   // root, 16 entries: 4 -> 5 bits
        {r262, 638, 5},  // root, one entry without data: 0 -> 4 bits
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.file + " slot " + std::to_string(r.slot));
        nbt::document old_doc = read_region_chunk(r.file, r.slot);
        nbt::document doc = read_region_chunk(r.file, r.slot);
        ASSERT_NE(doc, nullptr);
        paletted_chunk before, c;
        ASSERT_EQ(before.bind(old_doc->root), paletted_result::ok);
        ASSERT_EQ(c.bind(doc->root), paletted_result::ok);
        const packing pk = packing_for(c.data_version());
        const size_t old_n = c.palette(r.section_y).size();
        int last = -1;
        for (int k = 0; index_bits(pk, c.palette(r.section_y).size()) == index_bits(pk, old_n);
             ++k) {
            block_state s{"lodecast:test_" + std::to_string(k), {}};
            if (k > 0) {
                s.properties = {{"lit", "false"}, {"axis", "y"}};
            }
            last = c.find_or_add(r.section_y, s);
            ASSERT_EQ(last, static_cast<int>(old_n) + k);
            ASSERT_EQ(c.find_or_add(r.section_y, s), last); // found, not added twice
        }
        const int y = r.section_y * 16 + 5;
        ASSERT_TRUE(c.set_index(3, y, 7, last));
        EXPECT_FALSE(c.set_index(3, y, 7, last + 1));
        ASSERT_EQ(c.write_back(), paletted_result::ok);

        nbt::document saved = reparse(doc.get());
        ASSERT_NE(saved, nullptr);
        paletted_chunk after;
        ASSERT_EQ(after.bind(saved->root), paletted_result::ok);
        const std::span<const palette_entry> p = after.palette(r.section_y);
        ASSERT_EQ(p.size(), static_cast<size_t>(last) + 1);
        for (size_t k = 0; k < old_n; ++k) {
            EXPECT_EQ(entry_difference(p[k], before.palette(r.section_y)[k]), "") << k;
        }
        EXPECT_EQ(p.back().name, "lodecast:test_" + std::to_string(last - old_n));
        EXPECT_EQ(p.back().properties == nullptr ? 0 : p.back().properties->length,
                  last > static_cast<int>(old_n) ? 2 : 0);
        for (int by = before.bottom(); by <= before.top(); ++by) {
            for (int z = 0; z < 16; ++z) {
                for (int x = 0; x < 16; ++x) {
                    if (x == 3 && by == y && z == 7) {
                        EXPECT_EQ(after.index_at(x, by, z), last);
                    } else {
                        ASSERT_EQ(
                            entry_difference(after.entry_at(x, by, z), before.entry_at(x, by, z)),
                            "")
                            << x << "," << by << "," << z;
                    }
                }
            }
        }
        EXPECT_FALSE(after.refused());
        // With the section's palette and indices put back (swapped with the
        // old document's), nothing differs from the chunk as it was read.
        nbt_tag o = states_of(old_doc.get(), r.section_y);
        nbt_tag s = states_of(saved.get(), r.section_y);
        const char *data = c.layout() == chunk_layout::level ? "BlockStates" : "data";
        nbt_tag *new_data = at(&s, data);
        ASSERT_NE(new_data, nullptr);
        EXPECT_EQ(nbt_get_length(new_data), packed_length(pk, index_bits(pk, p.size())));
        std::swap(at(&o, c.layout() == chunk_layout::level ? "Palette" : "palette")->value,
                  at(&s, c.layout() == chunk_layout::level ? "Palette" : "palette")->value);
        if (nbt_tag *old_data = at(&o, data); old_data != nullptr) {
            std::swap(old_data->value, new_data->value);
        } else {
            nbt_remove_tag(new_data, &s);
        }
        EXPECT_EQ(nbt_tree_difference(read_region_chunk(r.file, r.slot)->root, saved->root), "");
    }
}

TEST(PalettedChunk, RefusesWhatItCannotRead) {
    using edit = std::function<void(nbt_file *)>;
    struct row {
        const char *what;
        const std::string &file;
        int slot;
        edit change;
        paletted_result bound;
    };
    const row rows[] = {
        {"no DataVersion", r1193, 0,
         [](nbt_file *doc) { nbt_remove_tag(at(doc->root, "DataVersion"), doc->root); },
         paletted_result::not_paletted},
        {"BlockStates one long short", r1152, 161,
         [](nbt_file *doc) {
             nbt_tag s = states_of(doc, 0);
             nbt_cast_long_array(at(&s, "BlockStates"))->length -= 1;
         },
         paletted_result::unknown_storage},
        {"a palette Name that is not a string", r1193, 0,
         [](nbt_file *doc) {
             nbt_tag s = states_of(doc, -4);
             nbt_tag entry{TAG_COMPOUND, nullptr, nbt_cast_list(at(&s, "palette"))->content[0]};
             at(&entry, "Name")->type = TAG_INT; // freed alike
         },
         paletted_result::unknown_storage},
        {"an index past the palette", r1193, 0,
         [](nbt_file *doc) {
             nbt_tag s = states_of(doc, -4); // 9 entries, 4 bits
             nbt_cast_long_array(at(&s, "data"))->content[0] = -1;
         },
         paletted_result::ok},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        nbt::document doc = read_region_chunk(r.file, r.slot);
        ASSERT_NE(doc, nullptr);
        r.change(doc.get());
        paletted_chunk c;
        const paletted_result bound = c.bind(doc->root);
        EXPECT_EQ(bound, r.bound);
        // Refused at once or on first use: reads give air, edits fail,
        // nothing is written.
        EXPECT_EQ(c.index_at(0, -64, 0), -1);
        EXPECT_EQ(c.entry_at(1, -64, 0).name, "minecraft:air");
        EXPECT_TRUE(c.refused());
        EXPECT_FALSE(c.set_index(0, 0, 0, 0));
        EXPECT_EQ(c.write_back(), paletted_result::unknown_storage);
    }
}

// Biomes by cell of 4 x 4 x 4: the 1.19.3 chunk's lowest sections hold a
// one-bit palette (river, beach), the 1.15.2 chunk numeric ids.
TEST(ChunkBiomes, ReadsNamesAndIds) {
    struct row {
        const std::string &file;
        int slot, x, y, z;
        const char *biome; // null: none readable
    };
    const row rows[] = {
        {r1193, 0, 0, -64, 0, "minecraft:river"},
        {r1193, 0, 15, -64, 0, "minecraft:beach"},
        {r1193, 0, 0, -64, 15, "minecraft:river"},
        {r1193, 0, 15, -64, 15, "minecraft:beach"},
        {r1193, 0, 4, -60, 8, "minecraft:river"},
        {r1193, 0, 12, -52, 12, "minecraft:beach"},
        {r1193, 0, 0, -80, 0, nullptr},
        {r1152, 161, 3, 40, 9, "minecraft:wooded_hills"},
        {r1152, 161, 3, 300, 9, nullptr},
    };
    for (const row &r : rows) {
        nbt::document doc = read_region_chunk(r.file, r.slot);
        ASSERT_NE(doc, nullptr);
        std::string name;
        EXPECT_EQ(stored_biome(doc->root, r.x, r.y, r.z, name), r.biome != nullptr) << r.y;
        EXPECT_EQ(name, r.biome != nullptr ? r.biome : "") << r.x << "," << r.y << "," << r.z;
    }
    EXPECT_EQ(biome_of_id(165), "minecraft:eroded_badlands");
    EXPECT_EQ(biome_of_id(51), "");
}

} // namespace
