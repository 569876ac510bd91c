// Generated worlds in the region format: <dir>/region/r.<rx>.<rz>.mcr files
// of compressed chunk documents (or .mca files of sectioned chunks), and
// <dir>/level.dat; and region files rewritten in another compression.
#ifndef LODECAST_MKWORLD_REGION_WORLD_H
#define LODECAST_MKWORLD_REGION_WORLD_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace mkworld {

// level.dat's Data.version for worlds stored in region files.
inline constexpr int region_world_version = 19132;
// level.dat of a sectioned world: its version, the last DataVersion that
// stores block ids, and the mod loader's block registry.
inline constexpr int sectioned_world_version = 19133;
inline constexpr int sectioned_data_version = 1343;

// How a region world stores its chunks: flat (.mcr), sectioned, or
// paletted in the layout of 1.16 or of 1.18 (modern_chunk.h).
enum class region_style { flat, sectioned, paletted_1_16, paletted_1_18 };

// How the records are written: their compression byte (region.h), and the
// chunks written to external files (c.<x>.<z>.mcc) whatever their size.
struct record_style {
    uint8_t compression = 2; // zlib
    std::vector<std::pair<int32_t, int32_t>> external;
};

// Writes side × side chunks centred on chunk 0,0 into region files, and a
// level.dat: flat and sectioned the same terrain as the per-chunk world;
// paletted with the two outer rings of chunks proto-chunks (noise outside,
// features inside it) around the finished ones, when side is 5 or more;
// records as records says. 0, or 1 after a message on standard error.
int make_region_world(const std::filesystem::path &dir, int side, region_style style,
                      const record_style &records = {});

// Rewrites every readable record of the region file in style (whatever the
// chunk holds: it is decompressed and compressed again, not parsed as a
// chunk); other records are carried over as they are. 0, or 1 after a
// message on standard error.
int restyle_region(const std::filesystem::path &file, const record_style &style);

} // namespace mkworld

#endif
