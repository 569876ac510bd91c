// Which format a world is saved in, and where a dimension's chunks live.
#ifndef LODECAST_WORLD_KIND_H
#define LODECAST_WORLD_KIND_H

#include "lodecast/formats/world_format.h"
#include "lodecast/storage/storage_kind.h"

#include <memory>
#include <string>

enum class world_kind {
    chunk_files, // one gzip file per chunk in base-36 folders
    region,      // region/r.<x>.<z>.mcr
    sectioned,   // region/r.<x>.<z>.mca, chunks in sections
    paletted,    // sectioned, but blocks stored by name in palettes
    too_new,     // saved by a game newer than lodecast knows
    // .mca files beside a level.dat that cannot be read or is over its
    // limits: which of the two it is cannot be told.
    unreadable_level,
};

// The last DataVersion whose sections store block ids; later worlds store
// blocks by name in palettes.
constexpr int32_t last_numeric_data_version = 1343;

// level.dat > "Data" > "version": 19132 for region worlds, 19133 for the
// sectioned format (paletted when "Data" > "DataVersion" is above
// last_numeric_data_version), absent or 0 for chunk files. Without a readable
// level.dat, region files (.mcr) in the dimension's region folder make a
// region world and anything else a world of chunk files; with a level.dat
// that is there but cannot be read, .mca files make it unreadable_level.
world_kind identify_world(const std::string &world, const std::string &dimension_folder);

// How the chunks of a world of kind hold their blocks; null for a kind
// lodecast cannot update.
std::unique_ptr<storage_kind> make_storage_kind(world_kind kind, const std::string &world);

// The format walking the chunks of dimension_folder in a world of kind;
// null after printing nothing when the folder cannot be opened (errno set)
// or the world is too new or unreadable_level (errno ENOTSUP).
// sorted: chunk files in name order instead of listing order.
std::unique_ptr<world_format> open_world_format(world_kind kind, const std::string &world,
                                                const std::string &dimension_folder, bool sorted);

#endif
