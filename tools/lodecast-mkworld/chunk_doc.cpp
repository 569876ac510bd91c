#include "chunk_doc.h"

#include "nbt/nbt.hpp"
#include "terrain.h"

#include <memory>
#include <vector>

namespace mkworld {

namespace {

using nbt::tag_ptr;
using file_ptr = nbt::document;

// Hand child to the compound parent; false (child freed) when that fails.
bool add(nbt_tag *parent, tag_ptr child) {
    if (!child || nbt_add_tag(child.get(), parent) == nullptr) {
        return false;
    }
    child.release(); // the compound owns it now
    return true;
}

tag_ptr byte_array(const char *name, const std::vector<uint8_t> &bytes) {
    nbt_tag *t = nullptr;
    int rc = nbt_new_byte_array(&t, name);
    tag_ptr owned(t);
    if (rc != 0 || nbt_set_byte_array(t, bytes.data(), static_cast<int>(bytes.size())) != 0) {
        return nullptr;
    }
    return owned;
}

tag_ptr compound_list(const char *name) {
    nbt_tag *t = nullptr;
    int rc = nbt_new_list(&t, name, TAG_COMPOUND);
    tag_ptr owned(t);
    return rc == 0 ? std::move(owned) : nullptr;
}

tag_ptr compound(const char *name) {
    nbt_tag *t = nullptr;
    int rc = nbt_new_compound(&t, name);
    tag_ptr owned(t);
    return rc == 0 ? std::move(owned) : nullptr;
}

tag_ptr int_tag(const char *name, int32_t v) {
    nbt_tag *t = nullptr;
    int rc = nbt_new_int(&t, name);
    tag_ptr owned(t);
    return rc == 0 && nbt_set_int(t, v) == 0 ? std::move(owned) : nullptr;
}

tag_ptr long_tag(const char *name, int64_t v) {
    nbt_tag *t = nullptr;
    int rc = nbt_new_long(&t, name);
    tag_ptr owned(t);
    return rc == 0 && nbt_set_long(t, v) == 0 ? std::move(owned) : nullptr;
}

tag_ptr byte_tag(const char *name, char v) {
    nbt_tag *t = nullptr;
    int rc = nbt_new_byte(&t, name);
    tag_ptr owned(t);
    return rc == 0 && nbt_set_byte(t, v) == 0 ? std::move(owned) : nullptr;
}

tag_ptr make_document_root(int32_t cx, int32_t cz) {
    const chunk_terrain t = make_terrain(cx, cz);
    tag_ptr root = compound("");
    tag_ptr level = compound("Level");
    if (!root || !level) {
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
    return ok ? std::move(root) : nullptr;
}

} // namespace

int write_chunk(const std::string &path, int32_t cx, int32_t cz) {
    tag_ptr root = make_document_root(cx, cz);
    if (!root) {
        return NBT_EMEM;
    }
    nbt_file *raw = nullptr;
    int rc = nbt_init(&raw);
    file_ptr doc(raw);
    if (rc != NBT_OK || !doc) {
        return NBT_EMEM;
    }
    doc->root = root.release(); // the document owns the tree now
    return nbt_write(doc.get(), path.c_str());
}

} // namespace mkworld
