// lodecast-mkworld <dir> [chunks per side]
//     Writes a world of n x n chunks (default 8) centred on chunk 0,0.
// lodecast-mkworld --region <dir> [chunks per side]
//     Writes the same world as region files and a level.dat.
// lodecast-mkworld --count <dir> <block id>
//     Prints how many blocks of that id the world's chunks hold.
#include "chunk_doc.h"
#include "region_world.h"

#include "nbt/nbt.h"

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

struct file_deleter {
    void operator()(nbt_file *f) const { nbt_free(f); }
};

// Blocks of id in one chunk file; -1 when it is not a readable chunk.
long long count_in_chunk(const fs::path &file, int id) {
    nbt_file *raw = nullptr;
    int rc = nbt_init(&raw);
    std::unique_ptr<nbt_file, file_deleter> doc(raw);
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

int usage(const char *name) {
    std::fprintf(stderr,
                 "Usage: %s [--region] <dir> [chunks per side, 1-%d, default 8]\n"
                 "       %s --count <dir> <block id>\n",
                 name, kMaxSide, name);
    return 2;
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
    const char *name = argc > 0 ? argv[0] : "lodecast-mkworld";
    if (argc == 4 && std::string(argv[1]) == "--count") {
        int id;
        if (!parse_int(argv[3], 0, 255, &id)) {
            return usage(name);
        }
        return count_blocks(argv[2], id);
    }
    if (argc > 1 && std::string(argv[1]) == "--region") {
        int side = 8;
        if (argc < 3 || argc > 4 || (argc == 4 && !parse_int(argv[3], 1, kMaxSide, &side))) {
            return usage(name);
        }
        return mkworld::make_region_world(argv[2], side);
    }
    int side = 8;
    if (argc < 2 || argc > 3 || (argc == 3 && !parse_int(argv[2], 1, kMaxSide, &side))) {
        return usage(name);
    }
    return make_world(argv[1], side);
}
