#include "lodecast/world.h"

#include "lodecast/chunk_name.h"
#include "lodecast/chunk_runner.h"
#include "lodecast/output.h"

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

// Walk one level-2 directory (st is its status). false when an entry could
// not be examined (reported); the caller then closes its own streams and
// stops.
bool update_chunk_dir(const std::string &dir_path, const struct stat &dir_st,
                      const std::string &rel_dir, chunk_runner &runner, const options *opt) {
    std::vector<std::string> names;
    {
        runner.entering_directory(dir_path, dir_st);
        dir_ptr fld(opendir(dir_path.c_str()));
        if (!fld) {
            runner.finish(); // chunks before the failure come first
            out_printf("Could not open directory %s\n", dir_path.c_str());
            return false;
        }
        names = list_names(fld.get());
    }
    for (const std::string &name : names) {
        const std::string file = dir_path + "/" + name;
        struct stat st;
        if (stat(file.c_str(), &st) != 0) {
            runner.finish(); // chunks before the failure come first
            out_printf("Stat failed on %s\n", file.c_str());
            return false;
        }
        if (!is_regular(st) || !check_chunkname(name.c_str())) {
            continue;
        }
        if (!passes_time_filter(st, opt) || !passes_bbox_filter(name.c_str(), opt)) {
            continue;
        }
        runner.chunk(file, rel_dir + "/" + name, st);
    }
    return true;
}

// Levels 1 and 2 below the open world directory tld. 0, or 1 after a
// reported failure.
int walk(DIR *tld, const std::string &root, chunk_runner &runner, const options *opt) {
    while (const dirent *e1 = readdir(tld)) {
        const std::string name1 = e1->d_name;
        const std::string path1 = root + "/" + name1;
        struct stat st;
        if (stat(path1.c_str(), &st) != 0) {
            runner.finish(); // chunks before the failure come first
            out_printf("Stat failed on %s\n", path1.c_str());
            return 1;
        }
        if (!is_directory(st) || !check_base32(name1.c_str())) {
            continue;
        }
        runner.entering_directory(path1, st);
        dir_ptr sld(opendir(path1.c_str()));
        if (!sld) {
            runner.finish(); // chunks before the failure come first
            out_printf("Could not open directory %s\n", path1.c_str());
            return 1;
        }
        while (const dirent *e2 = readdir(sld.get())) {
            const std::string name2 = e2->d_name;
            const std::string path2 = path1 + "/" + name2;
            if (stat(path2.c_str(), &st) != 0) {
                runner.finish(); // chunks before the failure come first
                out_printf("Stat failed on %s\n", path2.c_str());
                return 1;
            }
            if (!is_directory(st) || !check_base32(name2.c_str())) {
                continue;
            }
            if (!update_chunk_dir(path2, st, name1 + "/" + name2, runner, opt)) {
                return 1;
            }
        }
    }
    return 0;
}

} // namespace

int update_all_chunks(const char *path, int16_t ore_id, const options *opt) {
    out_printf("Processing...\n");
    dir_ptr tld(opendir(path));
    if (!tld) {
        out_printf("Could not open directory %s - %s\n", path, std::strerror(errno));
        return 1;
    }
    // Chunk files are loaded and written by opt->threads threads; the walk,
    // the veins and every message stay in walk order on this one.
    chunk_runner runner(ore_id, opt, opt->threads, path);
    if (walk(tld.get(), path, runner, opt) != 0) {
        return 1;
    }
    // Streams close innermost first: sld went out of scope with its loop.
    tld.reset();
    runner.finish();
    out_printf("World updated\n");
    return 0;
}
