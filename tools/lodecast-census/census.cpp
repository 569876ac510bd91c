#include "tools/lodecast-census/census.h"

#include "lodecast/ore_table.h"

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

std::string ore_name(int id) {
    const ore_record *known = find_ore(id);
    return known != nullptr ? known->name : std::to_string(id);
}

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

census make_census(const std::vector<int> &ids) {
    census c;
    for (int id : ids) {
        bool seen = std::any_of(c.ores.begin(), c.ores.end(),
                                [id](const ore_tally &t) { return t.id == id; });
        if (seen) {
            continue;
        }
        ore_tally t;
        t.id = id;
        t.name = ore_name(id);
        c.ores.push_back(std::move(t));
    }
    return c;
}

void count_blocks(const unsigned char *blocks, census &c) {
    // One table lookup per block: which tally (if any) an id belongs to.
    std::array<int, 256> slot;
    slot.fill(-1);
    for (size_t i = 0; i < c.ores.size(); ++i) {
        slot[static_cast<size_t>(c.ores[i].id)] = static_cast<int>(i);
    }
    std::vector<std::array<uint64_t, chunk_height>> here(c.ores.size());
    for (int i = 0; i < chunk_block_count; ++i) {
        int s = slot[blocks[i]];
        if (s >= 0) {
            ++here[static_cast<size_t>(s)][static_cast<size_t>(i % chunk_height)];
        }
    }
    for (size_t s = 0; s < c.ores.size(); ++s) {
        uint64_t sum = 0;
        for (int y = 0; y < chunk_height; ++y) {
            c.ores[s].per_y[static_cast<size_t>(y)] += here[s][static_cast<size_t>(y)];
            sum += here[s][static_cast<size_t>(y)];
        }
        c.ores[s].total += sum;
        if (sum > 0) {
            ++c.ores[s].chunks;
        }
    }
    ++c.chunks_counted;
}
