#include "modern_chunk.h"

#include "lodecast/storage/palette_packing.h"
#include "tags.h"
#include "terrain.h"

#include <array>
#include <string>
#include <vector>

namespace mkworld {

namespace {

enum kind : uint8_t {
    k_air,
    k_stone,
    k_granite,
    k_andesite,
    k_dirt,
    k_grass,
    k_gravel,
    k_bedrock,
    k_coal,
    k_iron,
    k_deepslate,
    k_tuff,
    k_deep_iron,
    k_deep_diamond,
    k_chest,
    kind_count
};

struct block_state {
    const char *name;
    std::vector<std::pair<const char *, const char *>> properties;
};

const block_state &state_of(kind k) {
    static const block_state states[kind_count] = {
        {"minecraft:air", {}},
        {"minecraft:stone", {}},
        {"minecraft:granite", {}},
        {"minecraft:andesite", {}},
        {"minecraft:dirt", {}},
        {"minecraft:grass_block", {{"snowy", "false"}}},
        {"minecraft:gravel", {}},
        {"minecraft:bedrock", {}},
        {"minecraft:coal_ore", {}},
        {"minecraft:iron_ore", {}},
        {"minecraft:deepslate", {{"axis", "y"}}},
        {"minecraft:tuff", {}},
        {"minecraft:deepslate_iron_ore", {}},
        {"minecraft:deepslate_diamond_ore", {}},
        {"minecraft:chest", {{"facing", "north"}, {"type", "single"}, {"waterlogged", "false"}}},
    };
    return states[k];
}

struct era_shape {
    int32_t data_version;
    int bottom; // lowest block y
    int height;
};

era_shape shape_of(paletted_era era) {
    return era == paletted_era::v1_18 ? era_shape{data_version_1_18, -64, 384}
                                      : era_shape{data_version_1_16, 0, 256};
}

// A salt apart from the terrain's own draws, so that rock variants do not
// follow its ores.
uint32_t variant_draw(int32_t wx, int y, int32_t wz) {
    return hash3(wx ^ 0x5BD1, y, wz ^ 0x3C6E) % 1000;
}

kind rock(int32_t wx, int y, int32_t wz, bool deep, bool plain) {
    const uint32_t r = plain ? 999 : variant_draw(wx, y, wz);
    if (deep) {
        return r < 20 ? k_tuff : r < 23 ? k_deep_iron : r < 24 ? k_deep_diamond : k_deepslate;
    }
    return r < 15 ? k_granite : r < 30 ? k_andesite : k_stone;
}

// The chunk's blocks, index ((y - bottom) << 8) | (z << 4) | x.
std::vector<uint8_t> blocks_of(int32_t cx, int32_t cz, era_shape e, generation g) {
    const chunk_terrain t = make_terrain(cx, cz);
    std::vector<uint8_t> out(static_cast<size_t>(e.height) * 256, k_air);
    const bool plain = g == generation::noise;
    for (int x = 0; x < 16; ++x) {
        for (int z = 0; z < 16; ++z) {
            const int32_t wx = cx * 16 + x;
            const int32_t wz = cz * 16 + z;
            for (int y = e.bottom; y < 128; ++y) {
                kind k = k_air;
                if (y == e.bottom) {
                    k = k_bedrock;
                } else if (y < 0) {
                    k = rock(wx, y, wz, true, plain);
                } else {
                    switch (t.blocks[static_cast<size_t>(y + 128 * z + 2048 * x)]) {
                    case AIR:
                        k = k_air;
                        break;
                    case STONE:
                    case BEDROCK: // the 1.18 floor lies lower
                        k = rock(wx, y, wz, false, plain);
                        break;
                    case GRASS:
                        k = plain ? k_stone : k_grass;
                        break;
                    case DIRT:
                        k = plain ? k_stone : k_dirt;
                        break;
                    case GRAVEL:
                        k = plain ? k_stone : k_gravel;
                        break;
                    case COAL_ORE:
                        k = plain ? k_stone : k_coal;
                        break;
                    default:
                        k = plain ? k_stone : k_iron;
                        break;
                    }
                }
                out[static_cast<size_t>(((y - e.bottom) << 8) | (z << 4) | x)] = k;
            }
        }
    }
    return out;
}

// The first air above the ground at x 8, z 8.
int chest_height(int32_t cx, int32_t cz) {
    return make_terrain(cx, cz).height_map[8 * 16 + 8];
}

nbt::tag_ptr palette_entry(kind k) {
    const block_state &s = state_of(k);
    nbt::tag_ptr entry = compound("");
    bool ok = entry && add(entry.get(), string_tag("Name", s.name));
    if (ok && !s.properties.empty()) {
        nbt::tag_ptr props = compound("Properties");
        for (const auto &[key, value] : s.properties) {
            ok = ok && props && add(props.get(), string_tag(key, value));
        }
        ok = ok && add(entry.get(), std::move(props));
    }
    return ok ? std::move(entry) : nullptr;
}

// Section sy's compound, or null with *ok kept true when the section is
// left out (all air in 1.16); *ok false when out of memory.
nbt::tag_ptr section_tag(const std::vector<uint8_t> &blocks, era_shape e, int sy, bool *ok) {
    std::array<int, kind_count> index_of_kind;
    index_of_kind.fill(-1);
    std::vector<kind> palette;
    section_indices indices{};
    const size_t base = static_cast<size_t>((sy * 16 - e.bottom) << 8);
    for (size_t i = 0; i < indices.size(); ++i) {
        const auto k = static_cast<kind>(blocks[base + i]);
        if (index_of_kind[k] < 0) {
            index_of_kind[k] = static_cast<int>(palette.size());
            palette.push_back(k);
        }
        indices[i] = static_cast<uint16_t>(index_of_kind[k]);
    }
    const bool modern = e.data_version >= first_sparse_version;
    if (!modern && palette.size() == 1 && palette[0] == k_air) {
        return nullptr;
    }
    const packing p = packing_for(e.data_version);
    const int bits = index_bits(p, palette.size());
    nbt::tag_ptr section = compound("");
    nbt::tag_ptr states = modern ? compound("block_states") : nullptr;
    nbt::tag_ptr list = compound_list(modern ? "palette" : "Palette");
    bool good = section && list && add(section.get(), byte_tag("Y", static_cast<char>(sy)));
    for (kind k : palette) {
        good = good && add_item(list.get(), palette_entry(k));
    }
    nbt_tag *holder = modern ? states.get() : section.get();
    good = good && add(holder, std::move(list)) &&
           (bits == 0 || add(holder, long_array(modern ? "data" : "BlockStates",
                                                pack_indices(p, bits, indices))));
    if (modern) {
        nbt::tag_ptr biomes = compound("biomes");
        nbt::tag_ptr names = string_list("palette");
        good = good && add(section.get(), std::move(states)) && biomes && names &&
               add_item(names.get(), string_tag("", "minecraft:plains")) &&
               add(biomes.get(), std::move(names)) && add(section.get(), std::move(biomes));
    }
    *ok = good;
    return good ? std::move(section) : nullptr;
}

nbt::tag_ptr chest_entity(int32_t x, int32_t y, int32_t z) {
    nbt::tag_ptr e = compound("");
    const bool ok = e && add(e.get(), string_tag("id", "minecraft:chest")) &&
                    add(e.get(), int_tag("x", x)) && add(e.get(), int_tag("y", y)) &&
                    add(e.get(), int_tag("z", z)) && add(e.get(), byte_tag("keepPacked", 0)) &&
                    add(e.get(), compound_list("Items"));
    return ok ? std::move(e) : nullptr;
}

const char *status_name(generation g, bool modern) {
    static const char *const names[2][3] = {
        {"noise", "features", "full"}, {"minecraft:noise", "minecraft:features", "minecraft:full"}};
    return names[modern ? 1 : 0][static_cast<int>(g)];
}

} // namespace

nbt::document make_paletted_chunk(int32_t cx, int32_t cz, paletted_era era, generation g) {
    const era_shape e = shape_of(era);
    const bool modern = era == paletted_era::v1_18;
    std::vector<uint8_t> blocks = blocks_of(cx, cz, e, g);
    nbt::tag_ptr entities = compound_list(modern ? "block_entities" : "TileEntities");
    bool ok = entities != nullptr;
    if (g == generation::full && cx == 0 && cz == 0) {
        const int y = chest_height(cx, cz);
        blocks[static_cast<size_t>(((y - e.bottom) << 8) | (8 << 4) | 8)] = k_chest;
        ok = ok && add_item(entities.get(), chest_entity(8, y, 8));
    }
    nbt::tag_ptr sections = compound_list(modern ? "sections" : "Sections");
    ok = ok && sections;
    for (int sy = e.bottom / 16; ok && sy < (e.bottom + e.height) / 16; ++sy) {
        nbt::tag_ptr s = section_tag(blocks, e, sy, &ok);
        ok = ok && (s == nullptr || add_item(sections.get(), std::move(s)));
    }
    nbt::document doc = nbt::make_document();
    nbt::tag_ptr root = compound("");
    nbt::tag_ptr level = modern ? nullptr : compound("Level");
    nbt_tag *holder = modern ? root.get() : level.get();
    ok = ok && doc && root && holder && add(root.get(), int_tag("DataVersion", e.data_version)) &&
         add(holder, int_tag("xPos", cx)) && add(holder, int_tag("zPos", cz)) &&
         (!modern || add(holder, int_tag("yPos", e.bottom / 16))) &&
         add(holder, string_tag("Status", status_name(g, modern))) &&
         add(holder, long_tag("LastUpdate", 1000 + cx * 7 + cz)) &&
         add(holder, long_tag("InhabitedTime", 0)) && add(holder, std::move(sections)) &&
         add(holder, std::move(entities));
    if (ok && !modern) {
        // 1.16 keeps 4 x 4 x 4-block biome cells in one int array.
        ok = add(holder, int_array("Biomes", std::vector<int32_t>(1024, 1))) &&
             add(holder, compound_list("Entities")) && add(root.get(), std::move(level));
    }
    if (!ok) {
        return nullptr;
    }
    doc->root = root.release();
    return doc;
}

} // namespace mkworld
