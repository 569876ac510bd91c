#include "lodecast/ores/vein.h"
#include "lodecast/ores/random.h"
#include "lodecast/pipeline/output.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

// Truncating remainder of a draw by modulus, as on 32-bit ints. A zero
// modulus (an empty height range) gives 0, so the start sits at the low end
// of the range. 64-bit operands keep even unreachable moduli free of
// overflow without changing any reachable result.
int64_t draw_mod(int draw, int64_t modulus) {
    if (modulus == 0) {
        return 0;
    }
    return int64_t{draw} % modulus;
}

// One stretch in 0.25 .. 0.99975, from one draw.
float draw_scale() {
    return static_cast<float>(static_cast<double>(ore_rand() % 3000) / 4000.0 + 0.25);
}

// floor() of a double, as a block coordinate clamped into bottom..top.
int32_t block_coord(double v, int32_t bottom, int32_t top) {
    const double f = std::floor(v);
    // Far outside the chunk either way: clamp before converting, which would
    // otherwise be undefined. In range this is the plain truncation.
    if (f < bottom) {
        return bottom;
    }
    if (f > top) {
        return top;
    }
    return static_cast<int32_t>(f);
}

// A draw in 0..n-1 (n >= 1) as an even share of the range: one draw of the
// generator when n is within its 15 bits, two (30 bits) beyond, so that
// every value is equally likely to within one part in 32768.
int64_t draw_below(int64_t n) {
    if (n <= 32768) {
        return int64_t{ore_rand()} * n / 32768;
    }
    const int64_t high = ore_rand();
    const int64_t bits = high * 32768 + ore_rand();
    return static_cast<int64_t>(static_cast<double>(bits) / 1073741824.0 * static_cast<double>(n));
}

// The start height with -spread or -tri: thousandths of a block over the
// inclusive range min..max (a triangle peaking in its middle as the sum of
// two draws over half of it), from the range's bottom.
double spread_start(int32_t min, int32_t max, bool triangle) {
    const int64_t range = (int64_t{max} - min + 1) * 1000;
    if (range <= 0) {
        return min;
    }
    const int64_t offset =
        triangle ? draw_below(range / 2) + draw_below(range / 2) : draw_below(range);
    return min + static_cast<double>(offset) / 1000.0;
}

} // namespace

bool touches_air(block_grid &grid, int32_t x, int32_t y, int32_t z) {
    static constexpr int steps[6][3] = {{1, 0, 0},  {-1, 0, 0}, {0, 1, 0},
                                        {0, -1, 0}, {0, 0, 1},  {0, 0, -1}};
    for (const auto &d : steps) {
        const int32_t nx = x + d[0], ny = y + d[1], nz = z + d[2];
        if (nx >= 0 && nx <= 15 && nz >= 0 && nz <= 15 && ny >= grid.bottom() && ny <= grid.top() &&
            grid.air(nx, ny, nz)) {
            return true;
        }
    }
    return false;
}

bool round_happens(const options *opt) {
    if (!(opt->set & OPT_EVERY) || opt->every <= 1) {
        return true;
    }
    return int64_t{ore_rand()} * opt->every < 32768;
}

void gen_ore(block_grid &grid, const options *opt, placement_count *placed,
             const std::vector<std::string> *biomes) {
    // The vein works on 16-bit copies; the command line and the ore table
    // always give values that fit.
    const auto ore_min = static_cast<int16_t>(opt->min_depth);
    const auto ore_max = static_cast<int16_t>(opt->max_depth);
    const auto ore_size = static_cast<int16_t>(opt->size);
    const bool trace = (opt->set & OPT_VERY_VERBOSE) != 0;

    // Each float is stored as float after a double-precision expression; the
    // explicit casts keep every intermediate in double.
    const float x_scale = draw_scale();
    const float y_scale = draw_scale();
    const float z_scale = draw_scale();
    if (trace) {
        out_printf("Selected scale: %f, %f, %f\n", static_cast<double>(x_scale),
                   static_cast<double>(y_scale), static_cast<double>(z_scale));
    }

    const float x_len = static_cast<float>((ore_size / 8.0) * x_scale);
    const float z_len = static_cast<float>((ore_size / 8.0) * z_scale);
    const float y_len = static_cast<float>((ore_size / 16.0 + 2.0) * y_scale);
    if (trace) {
        out_printf("Selected length: %f, %f, %f\n", static_cast<double>(x_len),
                   static_cast<double>(y_len), static_cast<double>(z_len));
    }

    // The x and z moduli leave room for the extent so the vein stays inside
    // the chunk; the y start spreads over the height range, but never more
    // than the draws' 15 bits allow. Drawn x, z, y.
    const int64_t x_mod = 16000 - static_cast<int64_t>(static_cast<double>(x_len) * 1000.0);
    const int64_t z_mod = 16000 - static_cast<int64_t>(static_cast<double>(z_len) * 1000.0);
    const int64_t y_mod = static_cast<int64_t>((int32_t{ore_max} - ore_min) * 1000.0);
    const float xpos =
        static_cast<float>(static_cast<double>(draw_mod(ore_rand(), x_mod)) / 1000.0);
    const float zpos =
        static_cast<float>(static_cast<double>(draw_mod(ore_rand(), z_mod)) / 1000.0);
    const bool triangle = (opt->set & OPT_TRIANGLE) != 0;
    const bool spread = triangle || (opt->set & OPT_SPREAD) || grid.spreads_by_default();
    const float ypos = static_cast<float>(
        spread ? spread_start(opt->min_depth, opt->max_depth, triangle)
               : (static_cast<double>(draw_mod(ore_rand(), y_mod)) / 1000.0 + ore_min) + 2.0);
    if (trace) {
        out_printf("Selected initial position: %f, %f, %f\n", static_cast<double>(xpos),
                   static_cast<double>(ypos), static_cast<double>(zpos));
    }

    const int32_t sample_size = 2 * int32_t{ore_size};
    if (sample_size <= 0) {
        return; // no steps; the advances would be 0/0 or meaningless
    }
    const double fuzz = 0.25;
    const int32_t bottom = grid.bottom();
    const int32_t top = grid.top();
    if (biomes != nullptr && !biomes->empty()) {
        std::string here;
        const int32_t sy = std::clamp(static_cast<int32_t>(std::floor(ypos)), bottom, top);
        if (!grid.biome(block_coord(xpos, 0, 15), sy, block_coord(zpos, 0, 15), here) ||
            std::find(biomes->begin(), biomes->end(), here) == biomes->end()) {
            return;
        }
    }
    // With the new start heights a block beyond the chunk's heights is lost
    // as in the game; the older rule clamps it to the top or bottom layer.
    const int32_t low = spread ? bottom - 1 : bottom;
    const int32_t high = spread ? top + 1 : top;
    const bool air_test = (opt->set & OPT_AIR) && opt->air_chance > 0;
    const auto air_bar = static_cast<int64_t>(std::lround(opt->air_chance * 32768.0));
    // Blocks whose air test was drawn: each is decided once per vein.
    std::vector<std::pair<int64_t, bool>> decided;
    const auto skipped = [&](int32_t x, int32_t y, int32_t z) {
        const int64_t key = (int64_t{y} << 8) | (z << 4) | x;
        for (const auto &[k, skip] : decided) {
            if (k == key) {
                return skip;
            }
        }
        if (!touches_air(grid, x, y, z)) {
            return false;
        }
        const bool skip = ore_rand() < air_bar;
        decided.emplace_back(key, skip);
        return skip;
    };
    const auto place = [&](int32_t x, int32_t y, int32_t z) {
        if (y < bottom || y > top || (air_test && skipped(x, y, z)) || !grid.place(x, y, z)) {
            return;
        }
        if (trace) {
            out_printf("Added block at %d,%d,%d\n", x, y, z);
        }
        if (placed != nullptr) {
            ++placed->total;
            ++placed->per_y[static_cast<size_t>(y - placed->bottom)];
        }
    };
    const float x_step = static_cast<float>(static_cast<double>(x_len) / sample_size);
    const float y_step = static_cast<float>(static_cast<double>(y_len) / sample_size);
    const float z_step = static_cast<float>(static_cast<double>(z_len) / sample_size);

    for (int32_t i = 0; i < sample_size; ++i) {
        // Sums are formed left to right in double: step offset, start, fuzz.
        const double dx = i * static_cast<double>(x_step) + xpos;
        const double dy = i * static_cast<double>(y_step) + ypos;
        const double dz = i * static_cast<double>(z_step) + zpos;
        const int32_t tx = block_coord(dx, 0, 15);
        const int32_t ty = block_coord(dy, low, high);
        const int32_t tz = block_coord(dz, 0, 15);
        const int32_t txp = block_coord(dx + fuzz, 0, 15);
        const int32_t typ = block_coord(dy + fuzz, low, high);
        const int32_t tzp = block_coord(dz + fuzz, 0, 15);

        place(tx, ty, tz);
        place(txp, ty, tz);
        place(tx, typ, tz);
        place(tx, ty, tzp);
        place(txp, typ, tz);
        place(tx, typ, tzp);
        place(txp, ty, tzp);
        place(txp, typ, tzp);
    }
}
