#include "sectioned_chunk.h"

#include "lodecast/storage/section_blocks.h"
#include "tags.h"
#include "terrain.h"

#include <vector>

namespace mkworld {

namespace {

struct section_arrays {
    std::vector<uint8_t> blocks = std::vector<uint8_t>(section_block_count, 0);
    std::vector<uint8_t> add = std::vector<uint8_t>(section_nibble_bytes, 0);
    std::vector<uint8_t> data = std::vector<uint8_t>(section_nibble_bytes, 0);
    std::vector<uint8_t> sky = std::vector<uint8_t>(section_nibble_bytes, 0);
    bool solid = false; // holds a block other than air
    bool high = false;  // holds an id above 255
};

// The id and data of stone at world (wx, y, wz): a few mod ores low down,
// granite and polished andesite higher up, plain stone elsewhere.
void stone_kind(int32_t wx, int y, int32_t wz, int *id, int *data) {
    const int64_t h = (int64_t{wx} * 7 + int64_t{wz} * 13 + y * 3) % 97;
    *id = 1;
    *data = 0;
    if (y >= 5 && y <= 20 && (h == 0 || h == 1)) {
        *id = h == 0 ? kTinOre : kRubyOre;
    } else if (y >= 30 && y <= 40 && (h == 2 || h == 3)) {
        *data = h == 2 ? 1 : 6; // granite, polished andesite
    }
}

std::vector<section_arrays> cut_sections(const chunk_terrain &t, int32_t cx, int32_t cz) {
    std::vector<section_arrays> s(kBlocks / section_block_count);
    for (int x = 0; x < 16; ++x) {
        for (int z = 0; z < 16; ++z) {
            for (int y = 0; y < 128; ++y) {
                const int flat = (x * 16 + z) * 128 + y; // terrain.h's layout
                section_arrays &a = s[static_cast<size_t>(y >> 4)];
                const int32_t i = section_index(x, y, z);
                int id = t.blocks[static_cast<size_t>(flat)];
                int data = 0;
                if (id == 1) {
                    stone_kind(cx * 16 + x, y, cz * 16 + z, &id, &data);
                }
                a.blocks[static_cast<size_t>(i)] = static_cast<uint8_t>(id & 0xFF);
                set_nibble(a.add.data(), i, id >> 8);
                set_nibble(a.data.data(), i, data);
                const int sky = (t.sky_light[static_cast<size_t>(flat / 2)] >> (flat % 2 * 4)) & 15;
                set_nibble(a.sky.data(), i, sky);
                a.solid = a.solid || id != 0;
                a.high = a.high || id > 255;
            }
        }
    }
    return s;
}

} // namespace

nbt::document make_sectioned_chunk(int32_t cx, int32_t cz) {
    const chunk_terrain t = make_terrain(cx, cz);
    nbt::document doc = nbt::make_document();
    nbt::tag_ptr root = compound("");
    nbt::tag_ptr level = compound("Level");
    nbt::tag_ptr sections = compound_list("Sections");
    if (!doc || !root || !level || !sections) {
        return nullptr;
    }
    std::vector<int32_t> heights(t.height_map.begin(), t.height_map.end());
    const std::vector<uint8_t> dark(section_nibble_bytes, 0);
    bool ok = true;
    int y = 0;
    for (const section_arrays &a : cut_sections(t, cx, cz)) {
        nbt::tag_ptr s = compound("");
        ok = ok && s && add(s.get(), byte_tag("Y", static_cast<char>(y++)));
        ok = ok && add(s.get(), byte_array("Blocks", a.blocks));
        ok = ok && (!a.high || add(s.get(), byte_array("Add", a.add)));
        ok = ok && add(s.get(), byte_array("Data", a.data)) &&
             add(s.get(), byte_array("BlockLight", dark)) &&
             add(s.get(), byte_array("SkyLight", a.sky));
        ok = ok && (!a.solid || add_item(sections.get(), std::move(s)));
    }
    nbt_tag *lv = level.get();
    ok = ok && add(root.get(), std::move(level)) && add(lv, int_tag("xPos", cx)) &&
         add(lv, int_tag("zPos", cz)) && add(lv, long_tag("LastUpdate", 1000 + cx * 7 + cz)) &&
         add(lv, byte_tag("LightPopulated", 1)) && add(lv, byte_tag("TerrainPopulated", 1)) &&
         add(lv, int_array("HeightMap", heights)) &&
         add(lv, byte_array("Biomes", std::vector<uint8_t>(256, 1))) &&
         add(lv, compound_list("Entities")) && add(lv, compound_list("TileEntities")) &&
         add(lv, std::move(sections));
    if (!ok) {
        return nullptr;
    }
    doc->root = root.release();
    return doc;
}

} // namespace mkworld
