#include "lodecast/run/cli.h"

#include "lodecast/pipeline/output.h"
#include "lodecast/run/number.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

namespace {

// Read a signed value into *field; an unreadable text leaves it unchanged.
void read_signed(const char *text, int32_t *field) {
    int32_t v;
    if (parse_decimal(text, &v)) {
        *field = v;
    }
}

void read_unsigned(const char *text, uint32_t *field) {
    uint32_t v;
    if (parse_unsigned_decimal(text, &v)) {
        *field = v;
    }
}

// One row of the option table: name, bits it adds, how many entries after
// it hold its values, and how it reads them (vals[0] is the first value).
struct option_entry {
    const char *name;
    uint32_t bits;
    int values;
    void (*read)(char **vals, options *opt);
};

void read_none(char **, options *) {}

// -air's chance: a decimal fraction, kept within 0..1; unreadable text
// leaves it unchanged.
void read_chance(const char *text, double *field) {
    char *end = nullptr;
    const double v = std::strtod(text, &end);
    if (end != text && std::isfinite(v)) {
        *field = std::clamp(v, 0.0, 1.0);
    }
}

int32_t clamp_threads(int32_t n) {
    return n < 1 ? 1 : (n > max_threads ? max_threads : n);
}

void read_bbox(char **vals, options *opt) {
    read_signed(vals[0], &opt->x1);
    read_signed(vals[1], &opt->y1);
    read_signed(vals[2], &opt->x2);
    read_signed(vals[3], &opt->y2);
    if (opt->x1 > opt->x2) {
        std::swap(opt->x1, opt->x2);
    }
    if (opt->y1 > opt->y2) {
        std::swap(opt->y1, opt->y2);
    }
}

// The remainders truncate and keep the sign: -mn -130 gives -2 (heights
// are reduced once every entry has been read).
constexpr option_entry option_table[] = {
    {"-r", OPT_ROUNDS, 1, [](char **v, options *o) { read_signed(v[0], &o->rounds); }},
    {"-mn", OPT_MIN_DEPTH, 1, [](char **v, options *o) { read_signed(v[0], &o->min_depth); }},
    {"-mx", OPT_MAX_DEPTH, 1, [](char **v, options *o) { read_signed(v[0], &o->max_depth); }},
    {"-s", OPT_SIZE, 1,
     [](char **v, options *o) {
         read_signed(v[0], &o->size);
         o->size %= 64;
     }},
    {"-cb", OPT_CTIME, 1, [](char **v, options *o) { read_unsigned(v[0], &o->c_time); }},
    {"-ca", OPT_CTIME | OPT_CTIME_AFTER, 1,
     [](char **v, options *o) { read_unsigned(v[0], &o->c_time); }},
    {"-mb", OPT_MTIME, 1, [](char **v, options *o) { read_unsigned(v[0], &o->m_time); }},
    {"-ma", OPT_MTIME | OPT_MTIME_AFTER, 1,
     [](char **v, options *o) { read_unsigned(v[0], &o->m_time); }},
    {"-oo", OPT_OVER_ORES, 0, read_none},
    {"-oa", OPT_OVER_ALL, 0, read_none},
    {"-ob", OPT_OVER_BLOCKS, 0, read_none},
    {"-bb", OPT_BBOX, 4, read_bbox},
    {"-d", OPT_DATA, 1,
     [](char **v, options *o) {
         read_signed(v[0], &o->data);
         o->data %= 16;
     }},
    {"-v", OPT_VERBOSE, 0, read_none},
    {"-vv", OPT_VERBOSE | OPT_VERY_VERBOSE, 0, read_none},
    // Beyond the usage text: threads and a fixed seed.
    {"-j", OPT_THREADS, 1,
     [](char **v, options *o) {
         read_signed(v[0], &o->threads);
         o->threads = clamp_threads(o->threads);
     }},
    {"-seed", OPT_SEED, 1, [](char **v, options *o) { read_unsigned(v[0], &o->seed); }},
    {"-dim", OPT_DIMENSION, 1, [](char **v, options *o) { o->dimension = v[0]; }},
    {"-record", OPT_RECORD, 0, read_none},
    {"-record-adopt", OPT_RECORD | OPT_ADOPT_RECORD, 0, read_none},
    {"-backup", OPT_BACKUP, 1, [](char **v, options *o) { o->backup_dir = v[0]; }},
    {"-n", OPT_DRY_RUN, 0, read_none},
    {"-map", OPT_MAP, 1, [](char **v, options *o) { o->map_path = v[0]; }},
    {"-unfinished", OPT_UNFINISHED, 0, read_none},
    {"-base", OPT_BASE, 1, [](char **v, options *o) { o->base_names = v[0]; }},
    {"-deep", OPT_DEEP, 1, [](char **v, options *o) { o->deep_name = v[0]; }},
    {"-spread", OPT_SPREAD, 0, read_none},
    {"-tri", OPT_TRIANGLE, 0, read_none},
    {"-air", OPT_AIR, 1, [](char **v, options *o) { read_chance(v[0], &o->air_chance); }},
    {"-every", OPT_EVERY, 1,
     [](char **v, options *o) {
         read_signed(v[0], &o->every);
         o->every = std::clamp(o->every, 1, 32768);
     }},
    {"-biome", OPT_BIOME, 1, [](char **v, options *o) { o->biome_names = v[0]; }},
    {"-saved-before", OPT_SAVED_BEFORE, 1,
     [](char **v, options *o) { read_signed(v[0], &o->saved_before); }},
};

} // namespace

int32_t default_threads() {
    unsigned n = std::thread::hardware_concurrency();
    return clamp_threads(n > static_cast<unsigned>(max_threads) ? max_threads
                                                                : static_cast<int32_t>(n));
}

const char lodecast_help[] =
    "Usage: lodecast <world dir> <ore_id> [options]\n"
    "Adds ore veins to every chunk of a world: chunk files (<dir>/<a>/<b>/c.<x>.<z>.dat)\n"
    "or region files (<dir>/region/r.<x>.<z>.mcr), or sectioned region files (.mca)\n"
    "where the ore may also be a block name of the world's registry (mod:name), and the\n"
    "paletted worlds of 1.13 on, where it is a block-state name (minecraft:diamond_ore).\n"
    "Ore IDs: 16 Coal, 15 Iron, 14 Gold, 73 Redstone, 56 Diamond, 21 Lapis\n"
    "Several ores in one pass: a list (16,15,Gold) or @<profile> (one ore and its options\n"
    "a line; see share/lodecast/profiles/default-generation) instead of <ore_id>\n"
    "  -r <num>          veins per chunk        -s <num>   vein size (0-63)\n"
    "  -mn/-mx <num>     lowest/highest height (0-127; 0-255 in .mca worlds)\n"
    "  -d <num>          data value (0-15)      -oo/-ob/-oa  replace ores/blocks/all\n"
    "  -mb/-ma <time>    only chunk files modified before/after a Unix time\n"
    "  -cb/-ca <time>    accepted for older scripts; no effect\n"
    "  -bb <x1> <y1> <x2> <y2>  only chunks inside a rectangle of chunk coordinates\n"
    "  -v/-vv            one line per chunk / also every vein and block\n"
    "  -j <n>            threads (default: one per core)\n"
    "  -seed <n>         fixed seed for a reproducible run\n"
    "  -dim <n|name>     another dimension: -1 the nether, 1 the end, or a name\n"
    "                    (minecraft:the_nether, mod:name) instead of the overworld\n"
    "  -record           skip chunks that already got this ore with these settings, and\n"
    "                    record the chunks given it (<dir>/lodecast-data/record)\n"
    "  -record-adopt     as -record, taking over a record written for another world\n"
    "  -backup <dir>     keep every replaced file under <dir> (lodecast-restore puts it back)\n"
    "  -n                dry run: write nothing, report what the run would add\n"
    "  -map <file.svg>   with -n: draw a map of what the run would add per chunk\n"
    "  -unfinished       also chunks the game has not finished generating (it adds its\n"
    "                    own ores there later; left alone by default)\n"
    "  -base <names>     paletted worlds: more blocks (a,b) the ore replaces as natural rock\n"
    "  -deep <name>      paletted worlds: the deepslate variant of a mod's ore\n"
    "  -spread           start heights over the whole -mn..-mx range (default in\n"
    "                    paletted worlds)\n"
    "  -tri              start heights in a triangle over -mn..-mx, densest mid-range\n"
    "  -air <chance>     skip a block touching air with this chance (0-1)\n"
    "  -every <n>        veins in one chunk out of n on average\n"
    "  -biome <names>    only where the biome at a vein's start is one of these (a,b)\n"
    "  -saved-before <n> only chunks saved with a DataVersion below n\n"
    "  --help            this text: the full usage (without arguments lodecast prints\n"
    "                    the short one, of its first options only)\n"
    "  --version         the version and the compression library of the build\n"
    "Usage errors exit with status 1; see lodecast(1) for every detail.\n";

void print_usage(const char *name) {
    out_printf("Usage: %s <world dir> <ore_id> [options]\n", shown(name).c_str());
    out_printf("Ore IDs:\n");
    out_printf("    16 = Coal, 15 = Iron, 14 = Gold, 73 = Redstone, 56 = Diamond, "
               "21 = Lapis\n");
    out_printf("Options:\n");
    out_printf("    -r <num>    : Number of rounds ore is generated per chunk\n");
    out_printf("    -mn <num>   : Minimum depth ore is generated (0-127)\n");
    out_printf("    -mx <num>   : Maximum depth ore is generated (0-127)\n");
    out_printf("    -s <num>    : Size of ore deposit (0-63) -- Defaults:\n");
    out_printf("                  Coal = 16, Iron/Gold = 8, Redstone/Diamond/Lapis = 7\n");
    out_printf("    -mb <time>  : Only update chunks modified before time (as unix "
               "timestamp)\n");
    out_printf("    -ma <time>  : Only update chunks modified after time (as unix "
               "timestamp)\n");
    out_printf("    -oo         : Take precedence over all existing ores\n");
    out_printf("    -ob         : Take precedence over all existing blocks (excluding "
               "air)\n");
    out_printf("    -oa         : Take precedence over all existing blocks (including "
               "air)\n");
    out_printf("    -bb <x1> <y1> <x2> <y2>\n");
    out_printf("                : Only update chunks with coordinates bounded by the "
               "rectangle\n");
    out_printf("                  by (x1, y1) and (x2, y2), given as decimal chunk "
               "coordinates\n");
    out_printf("    -d <num>    : Set block-specific data values (0-15)\n");
    out_printf("    -v          : Verbose output\n");
    out_printf("    -vv         : Very verbose output\n");
}

void parse_options(int argc, char **argv, options *opt, int32_t heights) {
    opt->rounds = 0;
    opt->min_depth = 0;
    opt->max_depth = 0;
    opt->size = 0;
    // Every entry is examined, the program name, world path and ore id
    // included, and entries read as values are examined as options too.
    for (int i = 0; i < argc; ++i) {
        for (const option_entry &entry : option_table) {
            if (std::strcmp(argv[i], entry.name) != 0) {
                continue;
            }
            opt->set |= entry.bits;
            // An option too near the end counts as given with unreadable
            // values: its bits are set, its fields keep their values.
            if (argc - 1 - i >= entry.values) {
                entry.read(argv + i + 1, opt);
            }
        }
    }
    opt->min_depth %= heights;
    opt->max_depth %= heights;
}
