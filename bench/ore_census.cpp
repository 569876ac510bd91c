// The ore blocks of a paletted world's finished chunks, by name and height:
// what bench/game-ores compares the game's own generation with. Only
// finished chunks count (the ones a run changes); names ending in "_ore",
// ancient debris, infested stone and the raw iron and copper blocks (which
// only the terrain's own ore veins of 1.18 on hold) are counted.
//
//   ore_census <region folder> [<DataVersion>]
//
// With a DataVersion only chunks saved below it count. Prints "chunks <n>",
// then "<name> <y> <count>" lines.
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

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: ore_census <region folder> [<DataVersion>]\n");
        return 1;
    }
    const long before = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 0;
    std::map<std::pair<std::string, int>, uint64_t> tally;
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
            ++chunks;
            for (int y = chunk.bottom(); y <= chunk.top(); ++y) {
                for (int z = 0; z < 16; ++z) {
                    for (int x = 0; x < 16; ++x) {
                        const std::string_view name = chunk.entry_at(x, y, z).name;
                        if (counted(name)) {
                            ++tally[{std::string(name), y}];
                        }
                    }
                }
            }
        }
        close(fd);
    }
    std::printf("chunks %llu\n", static_cast<unsigned long long>(chunks));
    for (const auto &[key, n] : tally) {
        std::printf("%s %d %llu\n", key.first.c_str(), key.second,
                    static_cast<unsigned long long>(n));
    }
    return 0;
}
