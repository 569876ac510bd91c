#include "lodecast/formats/chunk_count.h"

#include "lodecast/formats/chunk_name.h"
#include "lodecast/formats/region_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

struct dir_closer {
    void operator()(DIR *d) const { ::closedir(d); }
};
using dir_handle = std::unique_ptr<DIR, dir_closer>;

// The slots of a region file's location table that name a record, as the
// walk counts them (offset or sector count non-zero).
uint64_t region_slots(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    unsigned char table[region::sector_bytes];
    size_t got = 0;
    while (got < sizeof table) {
        const ssize_t n = ::pread(fd, table + got, sizeof table - got, static_cast<off_t>(got));
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    if (got < sizeof table) {
        return 0; // too short to be read as a region: the walk skips it too
    }
    uint64_t slots = 0;
    for (size_t i = 0; i < sizeof table; i += 4) {
        slots += (table[i] | table[i + 1] | table[i + 2] | table[i + 3]) != 0 ? 1 : 0;
    }
    return slots;
}

// The sum of count(entry) over the entries of folder (0 when it cannot be
// opened, as the walk skips it).
template <class Count> uint64_t sum_entries(const std::string &folder, Count count) {
    dir_handle d(::opendir(folder.c_str()));
    uint64_t total = 0;
    while (d) {
        const dirent *e = ::readdir(d.get());
        if (e == nullptr) {
            break;
        }
        total += count(*e);
    }
    return total;
}

uint64_t region_chunks(const std::string &folder, region::extension want) {
    return sum_entries(folder, [&](const dirent &e) -> uint64_t {
        int32_t rx = 0, rz = 0;
        region::extension ext{};
        return region::parse_file_name(e.d_name, &rx, &rz, &ext) && ext == want
                   ? region_slots(folder + "/" + e.d_name)
                   : 0;
    });
}

// Names only: the two levels of base-36 folders, then chunk file names.
uint64_t chunk_file_names(const std::string &folder, int depth) {
    return sum_entries(folder, [&](const dirent &e) -> uint64_t {
        if (e.d_name[0] == '.') {
            return 0;
        }
        if (depth == 2) {
            return check_chunkname(e.d_name) ? 1 : 0;
        }
        return check_base32(e.d_name) && e.d_type != DT_REG
                   ? chunk_file_names(folder + "/" + e.d_name, depth + 1)
                   : 0;
    });
}

} // namespace

uint64_t count_chunks(world_kind kind, const std::string &dimension_folder) {
    switch (kind) {
    case world_kind::chunk_files:
        return chunk_file_names(dimension_folder, 0);
    case world_kind::region:
        return region_chunks(dimension_folder + "/region", region::extension::mcr);
    case world_kind::sectioned:
    case world_kind::paletted:
        return region_chunks(dimension_folder + "/region", region::extension::mca);
    default:
        return 0;
    }
}
