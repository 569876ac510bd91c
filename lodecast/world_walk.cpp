#include "lodecast/world.h"

#include "lodecast/chunk.h"
#include "lodecast/chunk_name.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

struct dir_closer {
    void operator()(DIR *d) const { closedir(d); }
};
using dir_ptr = std::unique_ptr<DIR, dir_closer>;

bool is_directory(const struct stat &st) {
    return (st.st_mode & S_IFMT) == S_IFDIR;
}
bool is_regular(const struct stat &st) {
    return (st.st_mode & S_IFMT) == S_IFREG;
}

// The whole listing of a directory, in the order the stream returns it.
// Rewriting a chunk replaces its file through a new directory entry; with
// the names taken first, that entry can neither be visited twice nor hide
// another chunk from the walk.
std::vector<std::string> list_names(DIR *d) {
    std::vector<std::string> names;
    while (const dirent *e = readdir(d)) {
        names.emplace_back(e->d_name);
    }
    return names;
}

bool passes_time_filter(const struct stat &st, const options *opt) {
    if (!(opt->set & OPT_MTIME)) {
        return true;
    }
    // Both sides as unsigned 32-bit numbers, both bounds inclusive.
    const auto mtime = static_cast<uint32_t>(st.st_mtime);
    if (opt->set & OPT_MTIME_AFTER) {
        return mtime >= opt->m_time;
    }
    return mtime <= opt->m_time;
}

bool passes_bbox_filter(const char *name, const options *opt) {
    if (!(opt->set & OPT_BBOX)) {
        return true;
    }
    chunk_coords cc;
    chunk_to_coords(name, &cc);
    return cc.x >= opt->x1 && cc.x <= opt->x2 && cc.y >= opt->y1 && cc.y <= opt->y2;
}

// Walk one level-2 directory. false when an entry could not be examined
// (reported); the caller then closes its own streams and stops.
bool update_chunk_dir(const std::string &dir_path, const std::string &rel_dir, int16_t ore_id,
                      const options *opt) {
    std::vector<std::string> names;
    {
        dir_ptr fld(opendir(dir_path.c_str()));
        if (!fld) {
            std::fprintf(stderr, "Could not open directory %s\n", dir_path.c_str());
            return false;
        }
        names = list_names(fld.get());
    }
    for (const std::string &name : names) {
        const std::string file = dir_path + "/" + name;
        struct stat st;
        if (stat(file.c_str(), &st) != 0) {
            std::fprintf(stderr, "Stat failed on %s\n", file.c_str());
            return false;
        }
        if (!is_regular(st) || !check_chunkname(name.c_str())) {
            continue;
        }
        if (!passes_time_filter(st, opt) || !passes_bbox_filter(name.c_str(), opt)) {
            continue;
        }
        if (opt->set & OPT_VERBOSE) {
            std::fprintf(stderr, "Updating chunk %s/%s...\n", rel_dir.c_str(), name.c_str());
        }
        if (update_chunk(file.c_str(), ore_id, opt) != 0 && (opt->set & OPT_VERBOSE)) {
            std::fprintf(stderr, "Failed to update chunk.  Skipping...\n");
        }
    }
    return true;
}

} // namespace

int update_all_chunks(const char *path, int16_t ore_id, const options *opt) {
    std::fprintf(stderr, "Processing...\n");
    dir_ptr tld(opendir(path));
    if (!tld) {
        std::fprintf(stderr, "Could not open directory %s - %s\n", path, std::strerror(errno));
        return 1;
    }
    const std::string root = path;
    while (const dirent *e1 = readdir(tld.get())) {
        const std::string name1 = e1->d_name;
        const std::string path1 = root + "/" + name1;
        struct stat st;
        if (stat(path1.c_str(), &st) != 0) {
            std::fprintf(stderr, "Stat failed on %s\n", path1.c_str());
            return 1;
        }
        if (!is_directory(st) || !check_base32(name1.c_str())) {
            continue;
        }
        dir_ptr sld(opendir(path1.c_str()));
        if (!sld) {
            std::fprintf(stderr, "Could not open directory %s\n", path1.c_str());
            return 1;
        }
        while (const dirent *e2 = readdir(sld.get())) {
            const std::string name2 = e2->d_name;
            const std::string path2 = path1 + "/" + name2;
            if (stat(path2.c_str(), &st) != 0) {
                std::fprintf(stderr, "Stat failed on %s\n", path2.c_str());
                return 1;
            }
            if (!is_directory(st) || !check_base32(name2.c_str())) {
                continue;
            }
            if (!update_chunk_dir(path2, name1 + "/" + name2, ore_id, opt)) {
                return 1;
            }
        }
    }
    // Streams close innermost first: sld went out of scope with its loop.
    tld.reset();
    std::fprintf(stderr, "World updated\n");
    return 0;
}
