#include "tools/lodecast-census/census_walk.h"

#include "lodecast/chunk_name.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace {

struct dir_closer {
    void operator()(DIR *d) const { closedir(d); }
};

// The entry names of the directory at path, sorted so that reports do not
// depend on the order the file system lists them in. false with errno set
// when the directory cannot be opened.
bool list_dir(const std::string &path, std::vector<std::string> &names) {
    std::unique_ptr<DIR, dir_closer> dir(opendir(path.c_str()));
    if (!dir) {
        return false;
    }
    while (const dirent *e = readdir(dir.get())) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
            names.emplace_back(e->d_name);
        }
    }
    std::sort(names.begin(), names.end());
    return true;
}

enum class entry_kind { directory, regular, other, unknown };

entry_kind kind_of(const std::string &path, int &err) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        err = errno;
        return entry_kind::unknown;
    }
    if (S_ISDIR(st.st_mode)) {
        return entry_kind::directory;
    }
    return S_ISREG(st.st_mode) ? entry_kind::regular : entry_kind::other;
}

struct walker {
    census &c;
    const census_progress &progress;

    void skip_dir(const std::string &path, int err) {
        c.skipped_dirs.push_back(path + ": " + std::strerror(err));
    }

    // Walk the directory at path whose entries are of the given level
    // (1 for the world directory). false with errno set when it cannot be
    // opened.
    bool walk_dir(const std::string &path, int level) {
        std::vector<std::string> names;
        if (!list_dir(path, names)) {
            return false;
        }
        for (const std::string &name : names) {
            std::string sub = path + "/" + name;
            bool wanted =
                level < 3 ? check_base32(name.c_str()) == 1 : check_chunkname(name.c_str()) == 1;
            if (!wanted) {
                continue;
            }
            int err = 0;
            entry_kind kind = kind_of(sub, err);
            if (level < 3) {
                if (kind == entry_kind::directory && !walk_dir(sub, level + 1)) {
                    skip_dir(sub, errno);
                } else if (kind == entry_kind::unknown) {
                    skip_dir(sub, err);
                }
                continue;
            }
            if (kind == entry_kind::regular) {
                count_chunk_file(sub, c);
            } else if (kind == entry_kind::unknown) {
                c.skipped.push_back({sub, std::strerror(err)});
            } else {
                continue;
            }
            if (progress) {
                progress(c);
            }
        }
        return true;
    }
};

} // namespace

bool census_world(const std::string &path, census &c, std::string &error,
                  const census_progress &progress) {
    walker w{c, progress};
    if (!w.walk_dir(path, 1)) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}
