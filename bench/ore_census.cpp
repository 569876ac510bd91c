// The ore blocks of a paletted world's finished chunks, by name and height:
// what bench/game-ores compares the game's own generation with. Only
// finished chunks count (the ones a run changes); names ending in "_ore",
// ancient debris, infested stone and the raw iron and copper blocks (which
// only the terrain's own ore veins of 1.18 on hold) are counted.
//
//   ore_census [-per-chunk] <region folder> [<DataVersion>]
//
// With a DataVersion only chunks saved below it count. Prints "chunks <n>",
// then "<name> <y> <count>" lines; with -per-chunk each chunk's own, with
// the chunk's number (0, 1, ...) as a fourth field.
//
// The large iron veins of 1.18 on come from the terrain's noise, not from
// a placed feature, so no profile reproduces them: iron at y -60..-8 that
// touches tuff (their filler) or a raw iron block among its 26 neighbours
// in the chunk is counted as "noise-vein:<name>". Placed iron touching a
// tuff blob is counted there too, on both sides of a comparison alike.
#include "lodecast/formats/region_file.h"
#include "lodecast/storage/paletted_chunk.h"
#include "nbt/nbt.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <utility>

namespace fs = std::filesystem;

namespace {

bool counted(std::string_view name) {
    return name.ends_with("_ore") || name == "minecraft:ancient_debris" ||
           name == "minecraft:infested_stone" || name == "minecraft:infested_deepslate" ||
           name == "minecraft:raw_iron_block" || name == "minecraft:raw_copper_block";
}

// Iron of the terrain's noise veins (see above).
bool noise_vein_iron(paletted_chunk &chunk, std::string_view name, int x, int y, int z) {
    if (y < -60 || y > -8 || name.find("iron") == std::string_view::npos) {
        return false;
    }
    if (name == "minecraft:raw_iron_block") {
        return true;
    }
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dz = -1; dz <= 1; ++dz) {
            for (int dx = -1; dx <= 1; ++dx) {
                const int nx = x + dx;
                const int nz = z + dz;
                if (nx < 0 || nx > 15 || nz < 0 || nz > 15 || y + dy < chunk.bottom() ||
                    y + dy > chunk.top()) {
                    continue;
                }
                const std::string_view n = chunk.entry_at(nx, y + dy, nz).name;
                if (n == "minecraft:tuff" || n == "minecraft:raw_iron_block") {
                    return true;
                }
            }
        }
    }
    return false;
}

using tally_map = std::map<std::pair<std::string, int>, uint64_t>;

void print(const tally_map &tally) {
    for (const auto &[key, n] : tally) {
        std::printf("%s %d %llu\n", key.first.c_str(), key.second,
                    static_cast<unsigned long long>(n));
    }
}

} // namespace

int main(int argc, char **argv) {
    const bool per_chunk = argc > 1 && std::string_view(argv[1]) == "-per-chunk";
    argv += per_chunk;
    argc -= per_chunk;
    if (argc < 2) {
        std::fprintf(stderr, "usage: ore_census [-per-chunk] <region folder> [<DataVersion>]\n");
        return 1;
    }
    const long before = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 0;
    tally_map tally;
    std::string chunk_lines; // with -per-chunk, printed after the count
    uint64_t chunks = 0;
    for (const auto &e : fs::directory_iterator(argv[1])) {
        if (e.path().extension() != ".mca") {
            continue;
        }
        const int fd = open(e.path().c_str(), O_RDONLY | O_CLOEXEC);
        region::reader in;
        if (fd < 0 || in.open(fd) != region::open_result::ok) {
            std::fprintf(stderr, "cannot open %s\n", e.path().c_str());
            return 1;
        }
        region::record rec;
        for (int slot = 0; slot < region::slot_count; ++slot) {
            if (in.state(slot) != region::status::ok ||
                in.read_record(slot, rec) != region::status::ok) {
                continue;
            }
            nbt::document doc = nbt::make_document();
            const nbt_compression c =
                rec.compression == region::compression_gzip ? NBT_GZIP : NBT_ZLIB;
            if (!doc || nbt_parse_memory(doc.get(), rec.bytes.data(), rec.bytes.size(), c, nullptr,
                                         nullptr) != NBT_OK) {
                continue;
            }
            paletted_chunk chunk;
            if (chunk.bind(doc->root) != paletted_result::ok || !chunk.finished() ||
                (before > 0 && chunk.data_version() >= before)) {
                continue;
            }
            if (per_chunk) {
                tally.clear();
            }
            for (int y = chunk.bottom(); y <= chunk.top(); ++y) {
                for (int z = 0; z < 16; ++z) {
                    for (int x = 0; x < 16; ++x) {
                        const std::string_view name = chunk.entry_at(x, y, z).name;
                        if (counted(name)) {
                            const bool noise = noise_vein_iron(chunk, name, x, y, z);
                            ++tally[{(noise ? "noise-vein:" : "") + std::string(name), y}];
                        }
                    }
                }
            }
            if (per_chunk) {
                for (const auto &[key, n] : tally) {
                    chunk_lines += key.first + ' ' + std::to_string(key.second) + ' ' +
                                   std::to_string(n) + ' ' + std::to_string(chunks) + '\n';
                }
            }
            ++chunks;
        }
        close(fd);
    }
    std::printf("chunks %llu\n", static_cast<unsigned long long>(chunks));
    if (per_chunk) {
        std::fputs(chunk_lines.c_str(), stdout);
    } else {
        print(tally);
    }
    return 0;
}
