#include "tools/lodecast-census/census_args.h"

#include "lodecast/storage/paletted_storage.h"

#include "lodecast/census/census.h"
#include "lodecast/formats/block_registry.h"
#include "lodecast/formats/world_kind.h"
#include "lodecast/run/options.h"

#include <cstdlib>
#include <cstring>
#include <iterator>

const char census_usage[] =
    "Usage: lodecast-census <world dir> [ore...] [-csv <file>] [-svg <file>] [-map <file>]\n"
    "                       [-map-also <world dir> <file>]\n"
    "Counts ore blocks in every chunk of a world, by height, and prints a table of\n"
    "the counts; never changes the world. Reads chunk files, region files (.mcr),\n"
    "sectioned (.mca) and paletted worlds.\n"
    "  ore          a block id 0..255 or a name: coal, iron, gold, redstone, diamond,\n"
    "               lapis (default: all six); in a sectioned world (.mca) also an\n"
    "               id up to 4095 or a block name of its registry (mod:name); in a\n"
    "               paletted world a block-state name (minecraft:diamond_ore)\n"
    "  -csv <file>  write the count at each height as CSV: a header \"y,<ore>,...\",\n"
    "               then one line per height 0..127 (0..255 in a sectioned world)\n"
    "  -svg <file>  write a chart of the counts by height, to open in a browser\n"
    "  -map <file>  write a top-down map (SVG): one cell per chunk, shaded by its\n"
    "               count of the chosen ores; chunks that cannot be read hatched red\n"
    "  -map-also <world dir> <file>\n"
    "               also map that world (the same ores) into <file>, both maps on\n"
    "               one scale and area: a world before and after a run, side by side\n"
    "  -h, --help   this text       --version  the version and compression library\n"
    "       lodecast-census --names <world dir>\n"
    "  prints the ore names the world accepts, one a line (for shell completion)\n"
    "Exit status: 0 when the world was walked (chunks that cannot be read are\n"
    "listed and skipped), 1 when the world directory cannot be opened or an output\n"
    "cannot be written, 2 on a usage error.\n";

namespace {

// An ore that only a sectioned world knows: a 12-bit id or a registry name.
int sectioned_ore(const char *arg, const block_registry &registry) {
    const int named = registry.id_of(arg);
    if (named >= 0) {
        return named <= max_sectioned_id ? named : -1;
    }
    char *end = nullptr;
    const long v = std::strtol(arg, &end, 10);
    return *arg >= '0' && *arg <= '9' && *end == '\0' && v <= max_sectioned_id ? static_cast<int>(v)
                                                                               : -1;
}

// An ore of a paletted world, read as lodecast reads it: its block state
// and its deepslate variant.
bool paletted_state(const char *arg, std::vector<std::string> &states, std::string &error) {
    ore_block block;
    std::string detail;
    if (!paletted_storage().read_ore(arg, block, detail)) {
        error = std::string("not an ore: ") + arg + " (" + detail + ")";
        return false;
    }
    states.push_back(block.name);
    if (!block.deep.empty()) {
        states.push_back(block.deep);
    }
    return true;
}

} // namespace

bool parse_census_args(int argc, const char *const *argv, census_args &args, std::string &error) {
    args = census_args{};
    bool have_world = false;
    // The world's registry, read only when an ore needs it.
    block_registry registry;
    bool registry_read = false;
    bool sectioned = false;
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
            args.help = true;
            return true;
        }
        if (std::strcmp(a, "-csv") == 0 || std::strcmp(a, "-svg") == 0 ||
            std::strcmp(a, "-map") == 0) {
            if (i + 1 >= argc) {
                error = std::string("option ") + a + " needs a file name";
                return false;
            }
            (a[1] == 'c' ? args.csv_path : a[1] == 's' ? args.svg_path : args.map_path) = argv[++i];
            continue;
        }
        if (std::strcmp(a, "-map-also") == 0) {
            if (i + 2 >= argc) {
                error = "option -map-also needs a world directory and a file name";
                return false;
            }
            args.also_world = argv[++i];
            args.also_map_path = argv[++i];
            continue;
        }
        if (!have_world) {
            args.world = a;
            have_world = true;
            continue;
        }
        if (identify_world(args.world, args.world) == world_kind::paletted) {
            if (!paletted_state(a, args.states, error)) {
                return false;
            }
            continue;
        }
        int id = parse_ore(a);
        if (id < 0 && !registry_read) {
            registry_read = true;
            sectioned = identify_world(args.world, args.world) == world_kind::sectioned;
            sectioned = sectioned && registry.load(args.world);
        }
        if (id < 0 && sectioned) {
            id = sectioned_ore(a, registry);
        }
        if (id < 0) {
            const char *what = sectioned ? "a block id 0..4095, a block name" : "a block id 0..255";
            error = std::string("not an ore: ") + a + " (" + what + " or an ore's name)";
            const char *sep = "; close matches: ";
            for (const std::string &near :
                 sectioned ? registry.close_matches(a) : std::vector<std::string>{}) {
                error += sep + near;
                sep = ", ";
            }
            return false;
        }
        args.ids.push_back(id);
    }
    if (!have_world) {
        error = "no world directory given";
        return false;
    }
    if (args.ids.empty() && args.states.empty()) {
        args.ids.assign(std::begin(default_ore_ids), std::end(default_ore_ids));
        if (identify_world(args.world, args.world) == world_kind::paletted) {
            for (int id : args.ids) {
                paletted_state(std::to_string(id).c_str(), args.states, error);
            }
        }
    }
    if (!args.also_map_path.empty() && args.map_path.empty()) {
        error = "option -map-also draws on -map's scale: give -map <file> too";
        return false;
    }
    if (sectioned) {
        for (int id : args.ids) {
            args.names.push_back(find_ore(id) != nullptr ? "" : registry.name_of(id));
        }
    }
    return true;
}
