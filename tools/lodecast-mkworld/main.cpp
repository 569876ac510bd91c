// lodecast-mkworld [--force] [--region|--sectioned|--paletted[=1.16]]
//                  [--compression lz4|zlib|none] [--external <x>,<z>]... <dir>
//                  [chunks per side]
//     Writes a world of n x n chunks (default 8) centred on chunk 0,0, into
//     a folder that is missing or empty unless --force is given; with
//     --region as region files and a level.dat, with --sectioned as a
//     sectioned world (.mca) with a mod loader's block registry, with
//     --paletted as a paletted world of 1.18 (or 1.16); region records in
//     the compression given, chunks named by --external in external files.
// lodecast-mkworld [--compression lz4|zlib|none] [--external <x>,<z>]...
//                  --restyle <region file>...
//     Rewrites the records of region files in that compression (and those
//     chunks external), whatever chunks they hold.
// lodecast-mkworld --count <dir> <block id or name>
//     Prints how many blocks of that id (of that name in a paletted world)
//     the world's chunks hold.
#include "chunk_doc.h"
#include "region_world.h"

#include "lodecast/formats/chunk_document.h"
#include "lodecast/formats/chunk_name.h"
#include "lodecast/formats/dimension.h"
#include "lodecast/formats/region_file.h"
#include "lodecast/formats/region_world.h"
#include "lodecast/formats/world_kind.h"
#include "lodecast/run/std_fds.h"
#include "lodecast/storage/paletted_chunk.h"
#include "lodecast/storage/section_blocks.h"
#include "nbt/nbt.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr int kMaxSide = 1024;

int make_world(const fs::path &dir, int side) {
    const int32_t lo = -(side / 2);
    for (int32_t x = lo; x < lo + side; ++x) {
        for (int32_t z = lo; z < lo + side; ++z) {
            const fs::path file = dir / chunk_file_path(x, z);
            const fs::path sub = file.parent_path();
            std::error_code ec;
            fs::create_directories(sub, ec);
            if (ec) {
                std::fprintf(stderr, "lodecast-mkworld: cannot create %s: %s\n", sub.c_str(),
                             ec.message().c_str());
                return 1;
            }
            if (mkworld::write_chunk(file.string(), x, z) < 0) {
                std::fprintf(stderr, "lodecast-mkworld: cannot write %s\n", file.c_str());
                return 1;
            }
        }
    }
    std::fprintf(stderr, "Wrote %d chunks to %s\n", side * side, dir.c_str());
    return 0;
}

// Records that the walk could not examine; the count then fails.
class strict_hooks : public walk_hooks {
  public:
    void settle_folder(dev_t, ino_t) override {}
    bool settle_file(dev_t, ino_t) override { return false; }
    bool problem(walk_problem, const std::string &path, int err, bool) override {
        std::fprintf(stderr, "lodecast-mkworld: cannot read %s: %s\n", path.c_str(),
                     std::strerror(err));
        return true;
    }
    void skipped(const std::string &path, const std::string &why) override {
        std::fprintf(stderr, "lodecast-mkworld: %s: %s\n", path.c_str(), why.c_str());
        failed = true;
    }
    bool failed = false;
};

long long count_in_sections(const chunk_sections &sections, int id) {
    long long n = 0;
    for (int y = 0; y < sectioned_height; ++y) {
        for (int z = 0; z < section_side; ++z) {
            for (int x = 0; x < section_side; ++x) {
                n += sections.id(x, y, z) == id ? 1 : 0;
            }
        }
    }
    return n;
}

// Blocks named name in a paletted chunk, or -1 when it cannot be read.
long long count_in_palettes(nbt_tag *root, const std::string &name) {
    paletted_chunk chunk;
    if (chunk.bind(root) != paletted_result::ok) {
        return -1;
    }
    long long n = 0;
    for (int y = chunk.bottom(); y <= chunk.top(); ++y) {
        for (int z = 0; z < section_side; ++z) {
            for (int x = 0; x < section_side; ++x) {
                n += chunk.entry_at(x, y, z).name == name ? 1 : 0;
            }
        }
    }
    return chunk.refused() ? -1 : n;
}

// The chunks of a paletted world's region folder, which the tool's own
// walk does not open yet.
std::unique_ptr<world_format> open_paletted(const fs::path &folder) {
    auto f = std::make_unique<region_world_format>((folder / "region").string(), "region",
                                                   region::extension::mca);
    return f->open() ? std::move(f) : nullptr;
}

// Blocks of id (named name in a paletted world) in every chunk of the
// world at dir, of any format.
int count_blocks(const fs::path &dir, int id, const std::string &name) {
    const std::string overworld = dimension_folder(dir, nullptr);
    const world_kind kind = identify_world(dir, overworld);
    std::unique_ptr<world_format> format = kind == world_kind::paletted
                                               ? open_paletted(overworld)
                                               : open_world_format(kind, dir, overworld, true);
    if (!format) {
        std::fprintf(stderr, "lodecast-mkworld: cannot read %s: %s\n", dir.c_str(),
                     std::strerror(errno));
        return 1;
    }
    strict_hooks hooks;
    chunk_io io;
    std::unique_ptr<world_unit> unit;
    long long total = 0;
    world_format::step step;
    while ((step = format->next(unit, hooks)) == world_format::step::unit) {
        for (size_t i = 0; i < unit->chunk_count(); ++i) {
            nbt::document doc;
            const bool loaded = unit->load(i, doc, io) == chunk_status::ok;
            const nbt_byte_array *blocks = loaded ? chunk_blocks(doc->root) : nullptr;
            chunk_sections sections;
            long long named = 0;
            if (loaded && kind == world_kind::paletted &&
                (named = count_in_palettes(doc->root, name)) >= 0) {
                total += named;
            } else if (loaded && kind == world_kind::sectioned &&
                       sections.bind(doc->root) == sections_shape::ok) {
                total += count_in_sections(sections, id);
            } else if (blocks != nullptr) {
                total += std::count(blocks->content, blocks->content + blocks->length, id);
            } else {
                std::fprintf(stderr, "lodecast-mkworld: not a chunk: %s\n",
                             unit->describe(i).c_str());
                return 1;
            }
        }
    }
    if (step == world_format::step::stopped || hooks.failed) {
        return 1;
    }
    std::printf("%lld\n", total);
    return 0;
}

const char help_text[] =
    "Usage: lodecast-mkworld [--force] [--region|--sectioned|--paletted[=1.16]]\n"
    "                        [--compression lz4|zlib|none] [--external <x>,<z>]... <dir>\n"
    "                        [chunks per side, 1-1024, default 8]\n"
    "       lodecast-mkworld --count <dir> <block id, or name in a paletted world>\n"
    "       lodecast-mkworld [--compression ...] [--external <x>,<z>]... --restyle <region>...\n"
    "Writes a demo world centred on chunk 0,0 into a missing or empty folder\n"
    "(--force: into one that already holds files), or counts a block.\n"
    "Region records are zlib-compressed unless --compression says otherwise;\n"
    "--external writes chunk <x>,<z> to an external file (c.<x>.<z>.mcc).\n"
    "--restyle rewrites the records of existing region files that way.\n"
    "  --region          region files (.mcr) and a level.dat\n"
    "  --sectioned       sectioned region files (.mca) with a mod loader's registry\n"
    "  --paletted[=1.16] a paletted world of 1.18 (of 1.16)\n"
    "  --count           print how many blocks of that id or name the world holds\n"
    "  --help, --version this text; the version and the compression library\n"
    "Exit status: 0 on success, 1 when a folder or chunk cannot be written or read\n"
    "(or the folder holds files, without --force), 2 on a usage error.\n";

int usage(const char *name) {
    std::fprintf(stderr,
                 "Usage: %s [--force] [--region|--sectioned|--paletted[=1.16]]\n"
                 "       [--compression lz4|zlib|none] [--external <x>,<z>]... <dir>\n"
                 "       [chunks per side, 1-%d, default 8]\n"
                 "       %s --count <dir> <block id, or name in a paletted world>\n"
                 "       %s [--compression ...] [--external <x>,<z>]... --restyle <region>...\n",
                 name, kMaxSide, name, name);
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

bool parse_compression(const char *text, uint8_t *out) {
    const std::string c = text;
    *out = c == "lz4"    ? region::compression_lz4
           : c == "zlib" ? region::compression_zlib
           : c == "none" ? region::compression_none
                         : 0;
    return *out != 0;
}

// "<x>,<z>" in chunk coordinates.
bool parse_chunk(const char *text, std::pair<int32_t, int32_t> *out) {
    const std::string s = text;
    const size_t comma = s.find(',');
    int x = 0;
    int z = 0;
    if (comma == std::string::npos ||
        !parse_int(s.substr(0, comma).c_str(), -kMaxSide, kMaxSide, &x) ||
        !parse_int(s.substr(comma + 1).c_str(), -kMaxSide, kMaxSide, &z)) {
        return false;
    }
    *out = {x, z};
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
        int id = 0;
        const world_kind kind = identify_world(argv[2], argv[2]);
        const int most = kind == world_kind::sectioned ? max_sectioned_id : 255;
        if (kind != world_kind::paletted && !parse_int(argv[3], 0, most, &id)) {
            return usage(name);
        }
        return count_blocks(argv[2], id, argv[3]);
    }
    // The flags in any order.
    bool force = false;
    bool region_files = false;
    bool styled = false;
    mkworld::region_style style = mkworld::region_style::flat;
    mkworld::record_style records;
    int first = 1;
    for (; first < argc; ++first) {
        static const std::pair<const char *, mkworld::region_style> styles[] = {
            {"--region", mkworld::region_style::flat},
            {"--sectioned", mkworld::region_style::sectioned},
            {"--paletted", mkworld::region_style::paletted_1_18},
            {"--paletted=1.16", mkworld::region_style::paletted_1_16}};
        const std::string flag = argv[first];
        const char *value = first + 1 < argc ? argv[first + 1] : nullptr;
        const auto *known = std::find_if(std::begin(styles), std::end(styles),
                                         [&](const auto &s) { return flag == s.first; });
        if (flag == "--force" && !force) {
            force = true;
        } else if (known != std::end(styles) && !region_files) {
            region_files = true;
            style = known->second;
        } else if (flag == "--compression" && value != nullptr &&
                   parse_compression(value, &records.compression)) {
            styled = true;
            ++first;
        } else if (flag == "--external" && value != nullptr &&
                   parse_chunk(value, &records.external.emplace_back())) {
            styled = true;
            ++first;
        } else if (flag == "--restyle" && !force && !region_files && first + 1 < argc) {
            int result = 0;
            for (int i = first + 1; i < argc; ++i) {
                result |= mkworld::restyle_region(argv[i], records);
            }
            return result;
        } else if (flag.starts_with("--")) {
            return usage(name);
        } else {
            break;
        }
    }
    int side = 8;
    if (argc < first + 1 || argc > first + 2 || (styled && !region_files) ||
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
    return region_files ? mkworld::make_region_world(argv[first], side, style, records)
                        : make_world(argv[first], side);
}
