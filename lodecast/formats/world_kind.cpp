#include "lodecast/formats/world_kind.h"

#include "lodecast/formats/chunk_files.h"
#include "lodecast/formats/level_data.h"
#include "lodecast/formats/region_world.h"
#include "lodecast/storage/flat_storage.h"
#include "lodecast/storage/paletted_storage.h"
#include "lodecast/storage/sectioned_storage.h"

#include <cerrno>
#include <dirent.h>

namespace {

constexpr int32_t region_version = 19132;
constexpr int32_t sectioned_version = 19133;

// level.dat > "Data" > "version" and "DataVersion", 0 when absent; read is
// how the level.dat was read.
bool level_version(const std::string &world, int32_t *version, int32_t *data_version,
                   level_read &read) {
    nbt::document doc;
    read = read_level_dat(world, doc);
    if (read != level_read::ok) {
        return false;
    }
    nbt_tag *data = nbt_find_tag_by_name("Data", doc->root);
    nbt_tag *v = data == nullptr ? nullptr : nbt_find_tag_by_name("version", data);
    int32_t *value = v == nullptr ? nullptr : nbt_cast_int(v);
    *version = value == nullptr ? 0 : *value;
    nbt_tag *dv = data == nullptr ? nullptr : nbt_find_tag_by_name("DataVersion", data);
    value = dv == nullptr ? nullptr : nbt_cast_int(dv);
    *data_version = value == nullptr ? 0 : *value;
    return true;
}

bool holds_region_files(const std::string &folder, region::extension want) {
    DIR *d = ::opendir(folder.c_str());
    if (d == nullptr) {
        return false;
    }
    bool found = false;
    while (const dirent *e = ::readdir(d)) {
        int32_t rx;
        int32_t rz;
        region::extension ext;
        found = found || (region::parse_file_name(e->d_name, &rx, &rz, &ext) && ext == want);
    }
    ::closedir(d);
    return found;
}

} // namespace

world_kind identify_world(const std::string &world, const std::string &dimension_folder) {
    int32_t version = 0;
    int32_t data_version = 0;
    level_read read = level_read::ok;
    if (level_version(world, &version, &data_version, read)) {
        if (version == region_version) {
            return world_kind::region;
        }
        if (version == sectioned_version) {
            if (data_version > newest_known_data_version) {
                return world_kind::too_new;
            }
            return data_version > last_numeric_data_version ? world_kind::paletted
                                                            : world_kind::sectioned;
        }
        if (version == 0) {
            return world_kind::chunk_files;
        }
    }
    // Only a level.dat tells a sectioned world from a paletted one.
    if (read != level_read::ok && read != level_read::absent &&
        holds_region_files(dimension_folder + "/region", region::extension::mca)) {
        return world_kind::unreadable_level;
    }
    return holds_region_files(dimension_folder + "/region", region::extension::mcr)
               ? world_kind::region
               : world_kind::chunk_files;
}

std::unique_ptr<storage_kind> make_storage_kind(world_kind kind, const std::string &world) {
    switch (kind) {
    case world_kind::chunk_files:
    case world_kind::region:
        return std::make_unique<flat_storage>();
    case world_kind::sectioned:
        return std::make_unique<sectioned_storage>(world);
    case world_kind::paletted:
        return std::make_unique<paletted_storage>();
    case world_kind::too_new:
    case world_kind::unreadable_level:
        break;
    }
    return nullptr;
}

std::unique_ptr<world_format> open_world_format(world_kind kind, const std::string &world,
                                                const std::string &dimension_folder, bool sorted) {
    if (kind == world_kind::too_new || kind == world_kind::unreadable_level) {
        errno = ENOTSUP;
        return nullptr;
    }
    if (kind == world_kind::chunk_files) {
        auto f = std::make_unique<chunk_files_format>(dimension_folder, sorted);
        return f->open() ? std::move(f) : nullptr;
    }
    std::string rel = dimension_folder.size() > world.size()
                          ? dimension_folder.substr(world.size() + 1) + "/region"
                          : "region";
    auto f = std::make_unique<region_world_format>(
        dimension_folder + "/region", rel,
        kind == world_kind::region ? region::extension::mcr : region::extension::mca,
        kind == world_kind::region      ? chunk_shape::flat
        : kind == world_kind::sectioned ? chunk_shape::sectioned
                                        : chunk_shape::paletted);
    return f->open() ? std::move(f) : nullptr;
}
