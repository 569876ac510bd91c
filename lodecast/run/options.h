// The run's options record and the table of ore defaults.
#ifndef LODECAST_OPTIONS_H
#define LODECAST_OPTIONS_H

#include "lodecast/ores/ore_table.h"

#include <cstdint>

// Bits of options::set: which options the command line gave.
enum : uint32_t {
    OPT_CTIME = 0x0001,
    OPT_MTIME = 0x0002,
    OPT_ROUNDS = 0x0004,
    OPT_MIN_DEPTH = 0x0008,
    OPT_MAX_DEPTH = 0x0010,
    OPT_SIZE = 0x0020,
    OPT_OVER_ORES = 0x0040,
    OPT_OVER_ALL = 0x0080,
    OPT_CTIME_AFTER = 0x0100,
    OPT_MTIME_AFTER = 0x0200,
    OPT_OVER_BLOCKS = 0x0400,
    OPT_BBOX = 0x0800,
    OPT_DATA = 0x1000,
    OPT_VERBOSE = 0x2000,
    OPT_VERY_VERBOSE = 0x4000,
    OPT_THREADS = 0x8000,
    OPT_SEED = 0x10000,
    OPT_DIMENSION = 0x20000,
    // Living worlds: the record of chunks given ore (and taking over one
    // of another world), backups, the dry run and its map.
    OPT_RECORD = 0x40000,
    OPT_ADOPT_RECORD = 0x80000,
    OPT_BACKUP = 0x100000,
    OPT_DRY_RUN = 0x200000,
    OPT_MAP = 0x400000,
    // Chunks the game has not finished generating are updated too.
    OPT_UNFINISHED = 0x800000,
    // Paletted worlds: more natural rock (-base) and a mod ore's deepslate
    // variant (-deep).
    OPT_BASE = 0x1000000,
    OPT_DEEP = 0x2000000,
    // The game's own distributions: start heights over the whole range
    // (-spread) or in a triangle (-tri), blocks touching air skipped by
    // chance (-air), one chunk in n (-every), some biomes only (-biome),
    // chunks saved before a DataVersion only (-saved-before).
    OPT_SPREAD = 0x4000000,
    OPT_TRIANGLE = 0x8000000,
    OPT_AIR = 0x10000000,
    OPT_EVERY = 0x20000000,
    OPT_BIOME = 0x40000000,
    OPT_SAVED_BEFORE = 0x80000000,
};

// Filled once at start-up, then only read. Fields other than set, rounds,
// min_depth, max_depth and size are meaningful only when their bit is set.
struct options {
    uint32_t set;
    uint32_t c_time;
    uint32_t m_time;
    int32_t rounds;
    int32_t min_depth;
    int32_t max_depth;
    int32_t size;
    int32_t x1;
    int32_t y1;
    int32_t x2;
    int32_t y2;
    int32_t data;
    // Worker threads for the chunk files (-j; 1 is the plain sequential
    // run), and the generator's seed (-seed; the clock's by default).
    int32_t threads;
    uint32_t seed;
    // -dim's text: a dimension's number or name (dimension.h) instead of
    // the overworld (argv's own string).
    const char *dimension;
    // -backup's folder and -map's file (argv's own strings; null: missing).
    const char *backup_dir;
    const char *map_path;
    // -base's comma-separated block names and -deep's block name.
    const char *base_names;
    const char *deep_name;
    // -air's chance (0..1) that a block touching air is skipped, -every's n
    // (1 or more), -biome's comma-separated names (argv's own string) and
    // -saved-before's DataVersion.
    double air_chance;
    int32_t every;
    const char *biome_names;
    int32_t saved_before;
};

// Fill rounds, min_depth, max_depth and size from the row of ore_list whose
// block id equals ore_id, for every field whose option was not given.
void apply_ore_defaults(int ore_id, options *opt);

#endif
