#include "tools/lodecast-census/census.h"

#include "nbt/nbt.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <strings.h>
#include <unistd.h>

const int default_ore_ids[6] = {16, 15, 14, 73, 56, 21};

namespace {

struct known_ore {
    int id;
    const char *name;
};

constexpr known_ore known_ores[] = {{16, "Coal"},     {15, "Iron"},    {14, "Gold"},
                                    {73, "Redstone"}, {56, "Diamond"}, {21, "Lapis"}};

using nbt_file_ptr = nbt::document;

// The reason the chunk file at path failed to parse, in words.
std::string parse_failure(const std::string &path, int status) {
    if (status == NBT_EMEM) {
        return "out of memory";
    }
    if (status == NBT_EGZ) {
        // The library does not promise to keep errno; ask the system again.
        int fd = open(path.c_str(), O_RDONLY);
        if (fd < 0) {
            return std::strerror(errno);
        }
        close(fd);
        return "cannot open";
    }
    return "not a valid NBT file (damaged or truncated)";
}

} // namespace

std::string ore_name(int id) {
    for (const known_ore &k : known_ores) {
        if (k.id == id) {
            return k.name;
        }
    }
    return std::to_string(id);
}

int parse_ore(const char *arg) {
    for (const known_ore &k : known_ores) {
        if (strcasecmp(arg, k.name) == 0) {
            return k.id;
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
    for (int i = 0; i < chunk_blocks; ++i) {
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

bool count_chunk_file(const std::string &path, census &c) {
    nbt_file *raw = nullptr;
    if (nbt_init(&raw) != NBT_OK) {
        c.skipped.push_back({path, "out of memory"});
        return false;
    }
    nbt_file_ptr file(raw);
    int status = nbt_parse(file.get(), path.c_str());
    if (status != NBT_OK) {
        c.skipped.push_back({path, parse_failure(path, status)});
        return false;
    }
    // Lookups and casts are not defined on a null tag, so test each step.
    nbt_tag *level = file->root != nullptr ? nbt_find_tag_by_name("Level", file->root) : nullptr;
    if (level == nullptr || nbt_cast_compound(level) == nullptr) {
        c.skipped.push_back({path, "no \"Level\" compound"});
        return false;
    }
    nbt_tag *blocks_tag = nbt_find_tag_by_name("Blocks", level);
    nbt_byte_array *blocks = blocks_tag != nullptr ? nbt_cast_byte_array(blocks_tag) : nullptr;
    if (blocks == nullptr || blocks->length != chunk_blocks || blocks->content == nullptr) {
        c.skipped.push_back({path, "no \"Blocks\" array of 32768 bytes"});
        return false;
    }
    count_blocks(blocks->content, c);
    return true;
}
