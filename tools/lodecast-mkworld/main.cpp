// lodecast-mkworld [--force] [--region] <dir> [chunks per side]
//     Writes a world of n x n chunks (default 8) centred on chunk 0,0, into
//     a folder that is missing or empty unless --force is given; with
//     --region as region files and a level.dat.
// lodecast-mkworld --count <dir> <block id>
//     Prints how many blocks of that id the world's chunks hold.
#include "chunk_doc.h"
#include "region_world.h"

#include "lodecast/std_fds.h"
#include "nbt/nbt.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr int kMaxSide = 1024;

// Base-36 with an optional minus sign, as chunk file names spell numbers.
std::string base36(int64_t v) {
    const char *digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    bool negative = v < 0;
    uint64_t m = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    std::string s;
    do {
        s.insert(s.begin(), digits[m % 36]);
        m /= 36;
    } while (m != 0);
    return negative ? "-" + s : s;
}

// Folder name of a coordinate: its value modulo 64, in 0..63.
std::string folder(int32_t v) {
    return base36(((v % 64) + 64) % 64);
}

int make_world(const fs::path &dir, int side) {
    const int32_t lo = -(side / 2);
    for (int32_t x = lo; x < lo + side; ++x) {
        for (int32_t z = lo; z < lo + side; ++z) {
            const fs::path sub = dir / folder(x) / folder(z);
            std::error_code ec;
            fs::create_directories(sub, ec);
            if (ec) {
                std::fprintf(stderr, "Cannot create %s: %s\n", sub.c_str(), ec.message().c_str());
                return 1;
            }
            const fs::path file = sub / ("c." + base36(x) + "." + base36(z) + ".dat");
            if (mkworld::write_chunk(file.string(), x, z) < 0) {
                std::fprintf(stderr, "Cannot write %s\n", file.c_str());
                return 1;
            }
        }
    }
    std::fprintf(stderr, "Wrote %d chunks to %s\n", side * side, dir.c_str());
    return 0;
}

// Blocks of id in one chunk file; -1 when it is not a readable chunk.
long long count_in_chunk(const fs::path &file, int id) {
    nbt_file *raw = nullptr;
    int rc = nbt_init(&raw);
    nbt::document doc(raw);
    if (rc != NBT_OK || !doc || nbt_parse(doc.get(), file.c_str()) != NBT_OK) {
        return -1;
    }
    return mkworld::count_blocks_in(doc.get(), id);
}

int count_blocks(const fs::path &dir, int id) {
    std::error_code ec;
    long long total = 0;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (it->is_regular_file() && mkworld::is_region_file(name)) {
            const long long n = mkworld::count_in_region(it->path(), id);
            if (n < 0) {
                return 1;
            }
            total += n;
            continue;
        }
        if (!it->is_regular_file() || name.rfind("c.", 0) != 0 ||
            it->path().extension() != ".dat") {
            continue;
        }
        long long n = count_in_chunk(it->path(), id);
        if (n < 0) {
            std::fprintf(stderr, "Not a chunk: %s\n", it->path().c_str());
            return 1;
        }
        total += n;
    }
    if (ec) {
        std::fprintf(stderr, "Cannot read %s: %s\n", dir.c_str(), ec.message().c_str());
        return 1;
    }
    std::printf("%lld\n", total);
    return 0;
}

const char help_text[] =
    "Usage: lodecast-mkworld [--force] [--region] <dir> [chunks per side, 1-1024, default 8]\n"
    "       lodecast-mkworld --count <dir> <block id>\n"
    "Writes a demo world centred on chunk 0,0 into a missing or empty folder\n"
    "(--force: into one that already holds files), or counts a block's id.\n";

int usage(const char *name) {
    std::fprintf(stderr,
                 "Usage: %s [--force] [--region] <dir> [chunks per side, 1-%d, default 8]\n"
                 "       %s --count <dir> <block id>\n",
                 name, kMaxSide, name);
    return 2;
}

// Writing into a world by mistake would overwrite its chunks: a folder that
// holds anything is used only on request.
bool holds_anything(const fs::path &dir) {
    std::error_code ec;
    return fs::exists(dir, ec) && !(fs::is_directory(dir, ec) && fs::is_empty(dir, ec));
}

bool parse_int(const char *text, int lo, int hi, int *out) {
    char *end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < lo || v > hi) {
        return false;
    }
    *out = static_cast<int>(v);
    return true;
}

} // namespace

int main(int argc, char **argv) {
    open_missing_std_fds();
    if (const int status = answer_help_or_version(argc, argv, "lodecast-mkworld", help_text);
        status >= 0) {
        return status;
    }
    const char *name = argc > 0 ? argv[0] : "lodecast-mkworld";
    if (argc == 4 && std::string(argv[1]) == "--count") {
        int id;
        if (!parse_int(argv[3], 0, 255, &id)) {
            return usage(name);
        }
        return count_blocks(argv[2], id);
    }
    // The two flags in either order.
    bool force = false;
    bool region_files = false;
    int first = 1;
    for (; first < argc && first < 3; ++first) {
        const std::string flag = argv[first];
        if (flag == "--force" && !force) {
            force = true;
        } else if (flag == "--region" && !region_files) {
            region_files = true;
        } else {
            break;
        }
    }
    int side = 8;
    if (argc < first + 1 || argc > first + 2 ||
        (argc == first + 2 && !parse_int(argv[first + 1], 1, kMaxSide, &side))) {
        return usage(name);
    }
    if (!force && holds_anything(argv[first])) {
        std::fprintf(stderr,
                     "lodecast-mkworld: %s already exists and is not an empty folder; "
                     "pass --force to write the world into it anyway\n",
                     argv[first]);
        return 1;
    }
    return region_files ? mkworld::make_region_world(argv[first], side)
                        : make_world(argv[first], side);
}
