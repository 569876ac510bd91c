#include "lodecast/storage/chunk_biomes.h"

#include <cstdint>

namespace {

// The numeric ids of 1.13 to 1.17, by id.
struct biome_id {
    int32_t id;
    const char *name;
};
constexpr biome_id biome_ids[] = {
    {0, "ocean"},
    {1, "plains"},
    {2, "desert"},
    {3, "mountains"},
    {4, "forest"},
    {5, "taiga"},
    {6, "swamp"},
    {7, "river"},
    {8, "nether_wastes"},
    {9, "the_end"},
    {10, "frozen_ocean"},
    {11, "frozen_river"},
    {12, "snowy_tundra"},
    {13, "snowy_mountains"},
    {14, "mushroom_fields"},
    {15, "mushroom_field_shore"},
    {16, "beach"},
    {17, "desert_hills"},
    {18, "wooded_hills"},
    {19, "taiga_hills"},
    {20, "mountain_edge"},
    {21, "jungle"},
    {22, "jungle_hills"},
    {23, "jungle_edge"},
    {24, "deep_ocean"},
    {25, "stone_shore"},
    {26, "snowy_beach"},
    {27, "birch_forest"},
    {28, "birch_forest_hills"},
    {29, "dark_forest"},
    {30, "snowy_taiga"},
    {31, "snowy_taiga_hills"},
    {32, "giant_tree_taiga"},
    {33, "giant_tree_taiga_hills"},
    {34, "wooded_mountains"},
    {35, "savanna"},
    {36, "savanna_plateau"},
    {37, "badlands"},
    {38, "wooded_badlands_plateau"},
    {39, "badlands_plateau"},
    {40, "small_end_islands"},
    {41, "end_midlands"},
    {42, "end_highlands"},
    {43, "end_barrens"},
    {44, "warm_ocean"},
    {45, "lukewarm_ocean"},
    {46, "cold_ocean"},
    {47, "deep_warm_ocean"},
    {48, "deep_lukewarm_ocean"},
    {49, "deep_cold_ocean"},
    {50, "deep_frozen_ocean"},
    {127, "the_void"},
    {129, "sunflower_plains"},
    {130, "desert_lakes"},
    {131, "gravelly_mountains"},
    {132, "flower_forest"},
    {133, "taiga_mountains"},
    {134, "swamp_hills"},
    {140, "ice_spikes"},
    {149, "modified_jungle"},
    {151, "modified_jungle_edge"},
    {155, "tall_birch_forest"},
    {156, "tall_birch_hills"},
    {157, "dark_forest_hills"},
    {158, "snowy_taiga_mountains"},
    {160, "giant_spruce_taiga"},
    {161, "giant_spruce_taiga_hills"},
    {162, "modified_gravelly_mountains"},
    {163, "shattered_savanna"},
    {164, "shattered_savanna_plateau"},
    {165, "eroded_badlands"},
    {166, "modified_wooded_badlands_plateau"},
    {167, "modified_badlands_plateau"},
    {168, "bamboo_jungle"},
    {169, "bamboo_jungle_hills"},
    {170, "soul_sand_valley"},
    {171, "crimson_forest"},
    {172, "warped_forest"},
    {173, "basalt_deltas"},
    {174, "dripstone_caves"},
    {175, "lush_caves"},
};

nbt_tag *child(nbt_tag *parent, const char *name, nbt_type type) {
    nbt_tag *t = parent == nullptr ? nullptr : nbt_find_tag_by_name(name, parent);
    return t != nullptr && t->type == type && t->value != nullptr ? t : nullptr;
}

// 1.18 on: the section at y's "biomes" {"palette" [names], "data" [longs]},
// indices packed without spanning longs, as wide as the palette needs.
bool section_biome(nbt_tag *root, int x, int y, int z, std::string &name) {
    const nbt_list *sections = nbt_cast_list(child(root, "sections", TAG_LIST));
    if (sections == nullptr || sections->type != TAG_COMPOUND) {
        return false;
    }
    for (int32_t i = 0; i < sections->length; ++i) {
        nbt_tag holder{TAG_COMPOUND, nullptr, sections->content[i]};
        nbt_tag *sy = child(&holder, "Y", TAG_BYTE);
        if (sy == nullptr || *nbt_cast_byte(sy) != (y >> 4)) {
            continue;
        }
        nbt_tag *biomes = child(&holder, "biomes", TAG_COMPOUND);
        const nbt_list *palette = nbt_cast_list(child(biomes, "palette", TAG_LIST));
        if (palette == nullptr || palette->type != TAG_STRING || palette->length <= 0) {
            return false;
        }
        int64_t index = 0;
        if (palette->length > 1) {
            const nbt_long_array *data = nbt_cast_long_array(child(biomes, "data", TAG_LONG_ARRAY));
            int bits = 1;
            while ((int32_t{1} << bits) < palette->length) {
                ++bits;
            }
            const int per_long = 64 / bits;
            const int cell = (((y & 15) >> 2) << 4) | ((z >> 2) << 2) | (x >> 2);
            if (data == nullptr || data->length < (64 + per_long - 1) / per_long) {
                return false;
            }
            const auto word = static_cast<uint64_t>(data->content[cell / per_long]);
            index = static_cast<int64_t>((word >> ((cell % per_long) * bits)) &
                                         ((uint64_t{1} << bits) - 1));
        }
        if (index >= palette->length || palette->content[index] == nullptr) {
            return false;
        }
        name = static_cast<const char *>(palette->content[index]);
        return true;
    }
    return false;
}

} // namespace

std::string biome_of_id(int32_t id) {
    for (const biome_id &b : biome_ids) {
        if (b.id == id) {
            return std::string("minecraft:") + b.name;
        }
    }
    return "";
}

bool stored_biome(nbt_tag *root, int x, int y, int z, std::string &name) {
    nbt_tag *level = child(root, "Level", TAG_COMPOUND);
    if (level == nullptr) {
        return section_biome(root, x, y, z, name);
    }
    const nbt_int_array *ids = nbt_cast_int_array(child(level, "Biomes", TAG_INT_ARRAY));
    int32_t cell = -1;
    if (ids != nullptr && ids->length == 256) {
        cell = z * 16 + x;
    } else if (ids != nullptr && ids->length == 1024 && y >= 0 && y < 256) {
        cell = ((y >> 2) << 4) | ((z >> 2) << 2) | (x >> 2);
    }
    name = cell < 0 ? "" : biome_of_id(ids->content[cell]);
    return !name.empty();
}
