#include "chunk_doc.h"

#include "tags.h"
#include "terrain.h"

namespace mkworld {

nbt::document make_chunk(int32_t cx, int32_t cz) {
    const chunk_terrain t = make_terrain(cx, cz);
    nbt::document doc = nbt::make_document();
    nbt::tag_ptr root = compound("");
    nbt::tag_ptr level = compound("Level");
    if (!doc || !root || !level) {
        return nullptr;
    }
    nbt_tag *lv = level.get();
    if (!add(root.get(), std::move(level))) {
        return nullptr;
    }
    // The order of a chunk as the game saved it; the tool does not care.
    bool ok =
        add(lv, byte_array("Data", t.data)) && add(lv, compound_list("Entities")) &&
        add(lv, long_tag("LastUpdate", 1000 + cx * 7 + cz)) && add(lv, int_tag("xPos", cx)) &&
        add(lv, int_tag("zPos", cz)) && add(lv, compound_list("TileEntities")) &&
        add(lv, byte_tag("TerrainPopulated", 1)) && add(lv, byte_array("SkyLight", t.sky_light)) &&
        add(lv, byte_array("HeightMap", t.height_map)) &&
        add(lv, byte_array("BlockLight", t.block_light)) && add(lv, byte_array("Blocks", t.blocks));
    if (!ok) {
        return nullptr;
    }
    doc->root = root.release(); // the document owns the tree now
    return doc;
}

int write_chunk(const std::string &path, int32_t cx, int32_t cz) {
    nbt::document doc = make_chunk(cx, cz);
    return doc ? nbt_write(doc.get(), path.c_str()) : NBT_EMEM;
}

} // namespace mkworld
