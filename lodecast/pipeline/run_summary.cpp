#include "lodecast/pipeline/run_summary.h"

#include "lodecast/pipeline/output.h"

#include <cinttypes>
#include <cstdio>

namespace {

// n with thousands separated, so that large counts read at a glance.
std::string grouped(uint64_t n) {
    const std::string digits = std::to_string(n);
    std::string out;
    out.reserve(digits.size() + digits.size() / 3);
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            out += ',';
        }
        out += digits[i];
    }
    return out;
}

void add_reason(std::string &list, uint64_t n, const char *why) {
    if (n > 0) {
        list += (list.empty() ? "" : ", ") + grouped(n) + " " + why;
    }
}

} // namespace

std::string summary_text(const run_summary &s, double seconds, bool dry) {
    char took[48];
    std::snprintf(took, sizeof took, "%.1f s", seconds);
    std::string out = std::string(dry ? "Chunks that would be updated: " : "Chunks updated: ") +
                      grouped(s.updated) + " of " + grouped(s.seen) + " in " + took + "\n";
    std::string alone;
    add_reason(alone, s.filtered, "outside the filters");
    add_reason(alone, s.recorded, "already recorded");
    add_reason(alone, s.unfinished, "not finished by the game");
    add_reason(alone, s.unchanged, "where the veins placed nothing");
    add_reason(alone, s.failed, "could not be read or written");
    out += "Left alone: " + (alone.empty() ? std::string("none") : alone) + "\n";
    std::string blocks;
    for (size_t k = 0; k < s.ores.size() && k < s.placed.size(); ++k) {
        blocks += (blocks.empty() ? "" : ", ") + shown(s.ores[k]) + " " + grouped(s.placed[k]);
    }
    out += std::string(dry ? "Blocks it would place: " : "Blocks placed: ") + blocks + "\n";
    return out;
}

std::string no_chunk_line(const std::string &world) {
    return "No chunks found in " + shown(world) + " - is it a world folder?\n";
}
