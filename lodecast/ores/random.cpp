#include "lodecast/ores/random.h"

#include <utility>

namespace {

uint32_t state = 1;
std::function<int()> scripted;

} // namespace

void ore_srand(uint32_t seed) {
    state = seed;
}

int ore_rand() {
    if (scripted) {
        return scripted();
    }
    // Unsigned arithmetic wraps modulo 2^32 by definition, which is exactly
    // the generator's state update.
    state = state * 1103515245u + 12345u;
    return static_cast<int>((state / 65536u) % 32768u);
}

void set_draw_source(std::function<int()> source) {
    scripted = std::move(source);
}

void reset_draw_source() {
    scripted = nullptr;
}
