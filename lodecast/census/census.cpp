#include "lodecast/census/census.h"

#include "lodecast/ores/ore_table.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <strings.h>
#include <unistd.h>

const int default_ore_ids[6] = {ore_list[0].block_id, ore_list[1].block_id, ore_list[2].block_id,
                                ore_list[3].block_id, ore_list[4].block_id, ore_list[5].block_id};

int parse_ore(const char *arg) {
    for (const ore_record &k : ore_list) {
        if (strcasecmp(arg, k.name) == 0) {
            return k.block_id;
        }
    }
    if (*arg < '0' || *arg > '9') {
        return -1;
    }
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(arg, &end, 10);
    if (errno != 0 || *end != '\0' || v > 255) {
        return -1;
    }
    return static_cast<int>(v);
}

census make_census(const std::vector<int> &ids, const std::vector<std::string> &names, int height) {
    census c;
    c.height = height;
    for (size_t i = 0; i < ids.size(); ++i) {
        const int id = ids[i];
        bool seen = std::any_of(c.ores.begin(), c.ores.end(),
                                [id](const ore_tally &t) { return t.id == id; });
        if (seen) {
            continue;
        }
        ore_tally t;
        t.id = id;
        t.name = i < names.size() && !names[i].empty() ? names[i] : ore_name(id);
        t.per_y.assign(static_cast<size_t>(height), 0);
        c.ores.push_back(std::move(t));
    }
    return c;
}

census make_state_census(const std::vector<std::string> &states, int bottom, int height) {
    census c;
    c.bottom = bottom;
    c.height = height;
    for (const std::string &state : states) {
        if (std::none_of(c.ores.begin(), c.ores.end(),
                         [&](const ore_tally &t) { return t.state == state; })) {
            ore_tally t;
            t.state = state;
            t.name = state;
            t.per_y.assign(static_cast<size_t>(height), 0);
            c.ores.push_back(std::move(t));
        }
    }
    return c;
}

std::string tally_label(const ore_tally &t) {
    return t.state.empty() ? t.name + " (" + std::to_string(t.id) + ")" : t.name;
}

namespace {

// Which tally (if any) each id belongs to: one lookup per block.
std::array<int, max_sectioned_id + 1> tally_slots(const census &c) {
    std::array<int, max_sectioned_id + 1> slot;
    slot.fill(-1);
    for (size_t i = 0; i < c.ores.size(); ++i) {
        slot[static_cast<size_t>(c.ores[i].id)] = static_cast<int>(i);
    }
    return slot;
}

} // namespace

// Adds one chunk's counts (here[tally][y]) to the tallies.
void add_chunk_counts(const std::vector<std::vector<uint64_t>> &here, census &c) {
    for (size_t s = 0; s < c.ores.size(); ++s) {
        uint64_t sum = 0;
        for (size_t y = 0; y < here[s].size(); ++y) {
            c.ores[s].per_y[y] += here[s][y];
            sum += here[s][y];
        }
        c.ores[s].total += sum;
        if (sum > 0) {
            ++c.ores[s].chunks;
        }
    }
    ++c.chunks_counted;
}

void count_blocks(const unsigned char *blocks, census &c) {
    const auto slot = tally_slots(c);
    std::vector<std::vector<uint64_t>> here(c.ores.size(), std::vector<uint64_t>(chunk_height, 0));
    for (int i = 0; i < chunk_block_count; ++i) {
        int s = slot[blocks[i]];
        if (s >= 0) {
            ++here[static_cast<size_t>(s)][static_cast<size_t>(i % chunk_height)];
        }
    }
    add_chunk_counts(here, c);
}

void count_sections(const chunk_sections &sections, census &c) {
    const auto slot = tally_slots(c);
    std::vector<std::vector<uint64_t>> here(c.ores.size(),
                                            std::vector<uint64_t>(sectioned_height, 0));
    for (int base = 0; base < sectioned_height; base += section_side) {
        const section_view &v = sections.at(base);
        if (v.compound == nullptr) {
            continue; // air
        }
        for (int32_t i = 0; i < section_block_count; ++i) {
            const int id =
                v.blocks->content[i] | (v.add != nullptr ? get_nibble(v.add->content, i) << 8 : 0);
            const int s = slot[static_cast<size_t>(id)];
            if (s >= 0) {
                ++here[static_cast<size_t>(s)][static_cast<size_t>(base + (i >> 8))];
            }
        }
    }
    add_chunk_counts(here, c);
}
