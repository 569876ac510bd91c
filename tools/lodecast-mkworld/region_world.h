// Generated worlds in the region format: <dir>/region/r.<rx>.<rz>.mcr files
// of zlib-compressed chunk documents (or .mca files of sectioned chunks),
// and <dir>/level.dat.
#ifndef LODECAST_MKWORLD_REGION_WORLD_H
#define LODECAST_MKWORLD_REGION_WORLD_H

#include <filesystem>
#include <string>

namespace mkworld {

// level.dat's Data.version for worlds stored in region files.
inline constexpr int region_world_version = 19132;
// level.dat of a sectioned world: its version, the last DataVersion that
// stores block ids, and the mod loader's block registry.
inline constexpr int sectioned_world_version = 19133;
inline constexpr int sectioned_data_version = 1343;

// Writes the same side × side chunks as the per-chunk world (centred on
// chunk 0,0) into region files, and a level.dat; sectioned: in the
// sectioned format. 0, or 1 after a message on standard error.
int make_region_world(const std::filesystem::path &dir, int side, bool sectioned = false);

} // namespace mkworld

#endif
