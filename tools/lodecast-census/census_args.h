// The command line of lodecast-census.
#ifndef LODECAST_CENSUS_CENSUS_ARGS_H
#define LODECAST_CENSUS_CENSUS_ARGS_H

#include <string>
#include <vector>

struct census_args {
    std::string world;
    std::vector<int> ids; // as given; the default ores when none was
    // Per id, its registry name in a sectioned world ("" elsewhere or when
    // it has none).
    std::vector<std::string> names;
    // In a paletted world: the block states counted, each ore's deepslate
    // variant on a row of its own (ids are not used there).
    std::vector<std::string> states;
    std::string csv_path; // empty: no CSV file
    std::string svg_path; // empty: no chart
    std::string map_path; // empty: no map
    // -map-also: a second world mapped on the map's scale (empty: none).
    std::string also_world;
    std::string also_map_path;
    bool help = false;
};

extern const char census_usage[];

// Read "<world dir> [ore...] [-csv <file>] [-svg <file>] [-map <file>]
// [-map-also <world dir> <file>]" (options may
// stand anywhere after the program name; "-h" or "--help" asks for the
// usage text). In a sectioned world an ore may also be an id up to 4095
// or a name of the world's block registry. true when args was filled; false with a one-line reason
// in error otherwise.
bool parse_census_args(int argc, const char *const *argv, census_args &args, std::string &error);

#endif
