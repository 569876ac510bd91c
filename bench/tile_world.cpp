// tile_world [--slots <slot>,...] <new world dir> <chunks per side> <source>...
//
// Makes a benchmark world of side × side real chunks (x and z from -side/2)
// out of a few real ones: each source is a chunk file, a region file (.mcr
// or .mca) or a folder searched for both, whose level.dat (if any) is copied.
// The chunks are dealt out in turn, each with its xPos and zPos (under
// "Level", or at the root in the later layout) set to its new place and
// compressed again as its source was. The new world is of chunk files when
// the sources are chunk files, else of region files with the first source's
// extension, records keeping their source's timestamp; it is written one
// region at a time, so tiling 65,536 chunks takes little memory. With
// --slots only the records of those slots (x + 32 z in their region) are
// taken from region files: a world of one kind of chunk, as the finished
// or the unfinished chunks of a real region.
#include "lodecast/formats/chunk_name.h"
#include "lodecast/formats/region_file.h"
#include "nbt/nbt.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct source_chunk {
    nbt::document doc;
    nbt_compression compression;
    uint32_t timestamp;
};

struct sources {
    std::vector<source_chunk> chunks;
    bool regions = false;
    region::extension ext = region::extension::mcr;
    fs::path level_dat;
    std::vector<int> slots; // the slots taken from region files; empty: all
};

[[noreturn]] void fail(const std::string &what) {
    std::fprintf(stderr, "tile_world: %s\n", what.c_str());
    std::exit(1);
}

void add(sources &s, const unsigned char *data, size_t n, nbt_compression c, uint32_t timestamp,
         const fs::path &from) {
    nbt::document doc = nbt::make_document();
    if (!doc || nbt_parse_memory(doc.get(), data, n, c, nullptr, nullptr) != NBT_OK) {
        fail("cannot read a chunk of " + from.string());
    }
    s.chunks.push_back({std::move(doc), c, timestamp});
}

void add_region(sources &s, const fs::path &p, region::extension ext) {
    if (!s.regions) {
        s.ext = ext;
    }
    s.regions = true;
    const int fd = open(p.c_str(), O_RDONLY | O_CLOEXEC);
    region::reader in;
    if (fd < 0 || in.open(fd) != region::open_result::ok) {
        fail("cannot open " + p.string());
    }
    region::record rec;
    for (int slot = 0; slot < region::slot_count; ++slot) {
        const bool wanted =
            s.slots.empty() || std::find(s.slots.begin(), s.slots.end(), slot) != s.slots.end();
        if (wanted && in.state(slot) == region::status::ok &&
            in.read_record(slot, rec) == region::status::ok) {
            add(s, rec.bytes.data(), rec.bytes.size(),
                rec.compression == region::compression_gzip ? NBT_GZIP : NBT_ZLIB, rec.timestamp,
                p);
        }
    }
    close(fd);
}

void add_path(sources &s, const fs::path &p) {
    int32_t rx = 0, rz = 0;
    region::extension ext{};
    const std::string name = p.filename().string();
    if (fs::is_directory(p)) {
        if (fs::exists(p / "level.dat") && s.level_dat.empty()) {
            s.level_dat = p / "level.dat";
        }
        std::vector<fs::path> found; // sorted, so that a world tiles the same way every time
        for (const auto &e : fs::recursive_directory_iterator(p)) {
            if (e.is_regular_file()) {
                found.push_back(e.path());
            }
        }
        std::sort(found.begin(), found.end());
        for (const fs::path &f : found) {
            const std::string n = f.filename().string();
            if (check_chunkname(n.c_str()) || region::parse_file_name(n, &rx, &rz, &ext)) {
                add_path(s, f);
            }
        }
    } else if (region::parse_file_name(name, &rx, &rz, &ext)) {
        add_region(s, p, ext);
    } else {
        std::ifstream in(p, std::ios::binary);
        const std::vector<unsigned char> raw((std::istreambuf_iterator<char>(in)),
                                             std::istreambuf_iterator<char>());
        add(s, raw.data(), raw.size(), NBT_GZIP, 0, p);
    }
}

void set_int(nbt_tag *parent, const char *name, int32_t v) {
    nbt_tag *t = nbt_find_tag_by_name(name, parent);
    if (t == nullptr || nbt_set_int(t, v) != NBT_OK) {
        fail(std::string("a chunk without an int ") + name);
    }
}

// The chunk for (x, z), its coordinates set, compressed as its source was.
void encode_at(source_chunk &c, int32_t x, int32_t z, nbt::buffer &out) {
    nbt_tag *root = c.doc.get()->root;
    nbt_tag *level = nbt_find_tag_by_name("Level", root);
    nbt_tag *holder = level != nullptr ? level : root;
    set_int(holder, "xPos", x);
    set_int(holder, "zPos", z);
    out.clear();
    if (nbt_encode(c.doc.get(), c.compression, out.get(), nullptr) < 0) {
        fail("cannot encode a chunk");
    }
}

void write_file(const fs::path &p, const unsigned char *data, size_t n) {
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(n));
    if (!out.flush()) {
        fail("cannot write " + p.string());
    }
}

} // namespace

int main(int argc, char **argv) {
    sources s;
    if (argc > 2 && std::string(argv[1]) == "--slots") {
        for (const char *p = argv[2]; *p != '\0';) {
            char *end = nullptr;
            s.slots.push_back(static_cast<int>(std::strtol(p, &end, 10)));
            p = *end == ',' ? end + 1 : end;
            if (end == p && *p != '\0') {
                fail("--slots takes numbers separated by commas");
            }
        }
        argc -= 2;
        argv += 2;
    }
    if (argc < 4) {
        std::fprintf(stderr,
                     "Usage: tile_world [--slots <slot>,...] <new world dir> <chunks per side> "
                     "<source>...\n");
        return 1;
    }
    const fs::path world = argv[1];
    const int side = std::atoi(argv[2]);
    if (side < 1 || side > 4096) {
        fail("chunks per side must be 1..4096");
    }
    for (int i = 3; i < argc; ++i) {
        add_path(s, argv[i]);
    }
    if (s.chunks.empty()) {
        fail("no chunks in the sources");
    }
    fs::create_directories(world);
    if (!s.level_dat.empty()) {
        fs::copy_file(s.level_dat, world / "level.dat", fs::copy_options::overwrite_existing);
    }
    const int32_t lo = -side / 2, hi = lo + side; // [lo, hi)
    auto chunk_at = [&](int32_t x, int32_t z) -> source_chunk & {
        const size_t k =
            static_cast<size_t>(z - lo) * static_cast<size_t>(side) + static_cast<size_t>(x - lo);
        return s.chunks[k % s.chunks.size()];
    };
    nbt::buffer packed;
    if (!s.regions) {
        for (int32_t z = lo; z < hi; ++z) {
            for (int32_t x = lo; x < hi; ++x) {
                encode_at(chunk_at(x, z), x, z, packed);
                write_file(world / chunk_file_path(x, z), packed.data(), packed.size());
            }
        }
        return 0;
    }
    for (int32_t rz = region::region_of(lo); rz <= region::region_of(hi - 1); ++rz) {
        for (int32_t rx = region::region_of(lo); rx <= region::region_of(hi - 1); ++rx) {
            region::memory_sink sink;
            region::writer w(sink);
            for (int slot = 0; slot < region::slot_count; ++slot) {
                const region::chunk_pos p = region::chunk_of_slot(rx, rz, slot);
                if (p.x < lo || p.x >= hi || p.z < lo || p.z >= hi) {
                    continue;
                }
                source_chunk &c = chunk_at(p.x, p.z);
                encode_at(c, p.x, p.z, packed);
                const uint8_t how =
                    c.compression == NBT_GZIP ? region::compression_gzip : region::compression_zlib;
                if (w.add_record(slot, how, packed.data(), packed.size(), c.timestamp) !=
                    region::write_result::ok) {
                    fail("a chunk does not fit in a region file");
                }
            }
            if (w.finish() != region::write_result::ok) {
                fail("cannot lay out a region file");
            }
            write_file(world / "region" / region::file_name(rx, rz, s.ext), sink.bytes.data(),
                       sink.bytes.size());
        }
    }
    return 0;
}
