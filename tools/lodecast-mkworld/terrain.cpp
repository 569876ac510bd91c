#include "terrain.h"

#include <cmath>

namespace mkworld {

namespace {

int index_of(int x, int y, int z) {
    return y + 128 * z + 2048 * x;
}

// Surface height: gentle hills between about 56 and 80.
int surface_height(int32_t wx, int32_t wz) {
    double h = 66.0 + 7.0 * std::sin(wx / 23.0) + 5.0 * std::cos(wz / 17.0) +
               3.0 * std::sin((wx + wz) / 9.0);
    return static_cast<int>(std::floor(h));
}

// What lies at depth below the surface inside the stone body.
uint8_t underground_block(int32_t wx, int y, int32_t wz) {
    uint32_t r = hash3(wx, y, wz) % 1000;
    if (r < 6) {
        return COAL_ORE;
    }
    if (r < 9 && y < 64) {
        return IRON_ORE;
    }
    if (r < 30) {
        return DIRT;
    }
    if (r < 42) {
        return GRAVEL;
    }
    return STONE;
}

void set_nibble(std::vector<uint8_t> &arr, int index, uint8_t v) {
    uint8_t &b = arr[index / 2];
    b = (index % 2 == 0) ? static_cast<uint8_t>((b & 0xF0) | v)
                         : static_cast<uint8_t>((b & 0x0F) | (v << 4));
}

} // namespace

uint32_t hash3(int32_t x, int32_t y, int32_t z) {
    uint32_t h = static_cast<uint32_t>(x) * 0x9E3779B1u;
    h ^= static_cast<uint32_t>(y) * 0x85EBCA77u;
    h ^= static_cast<uint32_t>(z) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

chunk_terrain make_terrain(int32_t cx, int32_t cz) {
    chunk_terrain t;
    t.blocks.assign(kBlocks, AIR);
    t.data.assign(kBlocks / 2, 0);
    t.sky_light.assign(kBlocks / 2, 0);
    t.block_light.assign(kBlocks / 2, 0);
    t.height_map.assign(256, 0);
    for (int x = 0; x < 16; ++x) {
        for (int z = 0; z < 16; ++z) {
            const int32_t wx = cx * 16 + x;
            const int32_t wz = cz * 16 + z;
            const int top = surface_height(wx, wz);
            for (int y = 0; y <= top; ++y) {
                uint8_t b;
                if (y == 0) {
                    b = BEDROCK;
                } else if (y == top) {
                    b = GRASS;
                } else if (y >= top - 3) {
                    b = DIRT;
                } else {
                    b = underground_block(wx, y, wz);
                }
                t.blocks[index_of(x, y, z)] = b;
            }
            for (int y = top + 1; y < 128; ++y) {
                set_nibble(t.sky_light, index_of(x, y, z), 15);
            }
            t.height_map[z * 16 + x] = static_cast<uint8_t>(top + 1);
        }
    }
    return t;
}

} // namespace mkworld
