// lodecast-restore: puts every file of a backup folder (lodecast -backup)
// back at its place in the world, one file at a time, each atomically.
//
// A backup folder is input like any other: every path is opened one
// component at a time below the backup's and the world's folder
// descriptors, never through a link, so nothing outside the world is read
// into it or written. Each file is copied (never linked: the game's
// in-place writes to the world must not reach the backup) into a temporary
// file that takes over the world file's owner and mode, then renamed.
#include "durable/durable.h"
#include "lodecast/pipeline/output.h"
#include "lodecast/run/std_fds.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char restore_usage[] =
    "Usage: lodecast-restore <backup dir> <world dir>\n"
    "Puts every file that lodecast -backup kept in <backup dir> back into the world,\n"
    "at the same relative path, each one replaced atomically. Stop the game first:\n"
    "the restore takes no session lock. The backup folder is left as it is.\n"
    "  --help, --version  this text; the version and the compression library\n"
    "Exit status: 0 when every file was restored, 1 when one could not be or a\n"
    "folder cannot be read, 2 on a usage error.\n";

// An open descriptor, closed when it goes.
struct fd_holder {
    int fd = -1;
    explicit fd_holder(int f = -1) : fd(f) {}
    ~fd_holder() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    fd_holder(const fd_holder &) = delete;
    fd_holder &operator=(const fd_holder &) = delete;
};

// An entry of the backup: its path's components, and why it cannot be
// restored (empty for a regular file).
struct entry {
    std::vector<std::string> parts;
    std::string problem;
    std::string rel() const {
        std::string r;
        for (const std::string &p : parts) {
            r += (r.empty() ? "" : "/") + p;
        }
        return r;
    }
};

// Every entry below dir (a descriptor it takes over). Names beginning with
// a dot are left out: temporary files of a copy cut short, never the
// world's (and never "." or "..").
bool list_backup(int dir, std::vector<std::string> &prefix, std::vector<entry> &out) {
    DIR *d = ::fdopendir(dir);
    if (d == nullptr) {
        ::close(dir);
        return false;
    }
    std::vector<std::string> names;
    while (const dirent *e = ::readdir(d)) {
        if (e->d_name[0] != '.') {
            names.emplace_back(e->d_name);
        }
    }
    bool ok = true;
    for (const std::string &name : names) {
        struct stat st {};
        prefix.push_back(name);
        if (::fstatat(::dirfd(d), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            out.push_back({prefix, std::strerror(errno)});
        } else if (S_ISDIR(st.st_mode)) {
            const int sub =
                ::openat(::dirfd(d), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            ok = sub >= 0 && list_backup(sub, prefix, out) && ok;
        } else if (S_ISLNK(st.st_mode)) {
            out.push_back({prefix, "a symbolic link in the backup, not a kept file"});
        } else if (!S_ISREG(st.st_mode)) {
            out.push_back({prefix, "not a regular file in the backup"});
        } else {
            out.push_back({prefix, ""});
        }
        prefix.pop_back();
    }
    ::closedir(d);
    return ok;
}

// The folder of parts[0..n) below root, opened component by component
// without following a link; missing ones are created when create is set.
// -1 with the reason in error.
int open_below(int root, const std::vector<std::string> &parts, size_t n, bool create,
               const std::string &root_name, std::string &error) {
    int fd = ::dup(root);
    std::string at = root_name;
    for (size_t i = 0; i < n && fd >= 0; ++i) {
        at += "/" + parts[i];
        const char *name = parts[i].c_str();
        int next = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && create &&
            (::mkdirat(fd, name, 0777) == 0 || errno == EEXIST)) {
            next = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        struct stat st {};
        if (next < 0) {
            const bool link =
                ::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
            error = at + (link ? " is a symbolic link" : ": " + std::string(std::strerror(errno)));
        }
        ::close(fd);
        fd = next;
    }
    return fd;
}

// Copies src into the world's file name in the folder dir (path), replacing
// it atomically with its owner and mode kept. false with the reason in
// error; no temporary file is left either way.
bool copy_into(int src, int dir, const char *name, const std::string &path, std::string &error) {
    struct stat st {};
    if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
        // The tool writes where a world's link leads; a restore from a
        // folder anyone could have filled does not.
        error = path + (S_ISLNK(st.st_mode) ? " is a symbolic link" : " is not a regular file");
        return false;
    }
    // The library stages beside a path: the folder, reached safely, is made
    // the current one, and the name alone is that path.
    durable_staged *s = nullptr;
    if (::fchdir(dir) != 0 || durable_stage_open(name, &s, nullptr) != DURABLE_OK) {
        error = std::strerror(errno);
        return false;
    }
    durable_policy d{};
    d.sync_file = 1; // the folders: one sync of the file system at the end
    char buf[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(src, buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (durable_stage_write(s, buf, static_cast<size_t>(n)) != DURABLE_OK) {
            ok = false;
            break;
        }
    }
    if (!ok || durable_stage_sync(s, &d) != DURABLE_OK) {
        error = std::strerror(errno != 0 ? errno : EIO);
        durable_stage_discard(s);
        return false;
    }
    if (durable_stage_commit(s, &d) != DURABLE_OK) {
        error = std::strerror(errno != 0 ? errno : EIO);
        return false;
    }
    return true;
}

// Restores the backup's entry e into the world; false with the reason in
// error.
bool restore(int backup, const std::string &backup_name, int world, const std::string &world_name,
             const entry &e, std::string &error) {
    if (!e.problem.empty()) {
        error = e.problem;
        return false;
    }
    const size_t last = e.parts.size() - 1;
    fd_holder src_dir(open_below(backup, e.parts, last, false, backup_name, error));
    fd_holder dest_dir(src_dir.fd < 0 ? -1
                                      : open_below(world, e.parts, last, true, world_name, error));
    if (dest_dir.fd < 0) {
        return false;
    }
    const char *name = e.parts[last].c_str();
    fd_holder src(::openat(src_dir.fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (src.fd < 0 || ::fstat(src.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = src.fd < 0 ? std::strerror(errno) : "not a regular file in the backup";
        return false;
    }
    return copy_into(src.fd, dest_dir.fd, name, world_name + "/" + e.rel(), error);
}

} // namespace

int main(int argc, char **argv) {
    open_missing_std_fds();
    if (const int status = answer_help_or_version(argc, argv, "lodecast-restore", restore_usage);
        status >= 0) {
        return status;
    }
    if (argc != 3) {
        std::fputs(restore_usage, stderr);
        return 2; // the tools' one status for a usage error
    }
    const std::string backup_name = argv[1];
    const std::string world_name = argv[2];
    fd_holder world(::open(argv[2], O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (world.fd < 0) {
        std::fprintf(stderr, "lodecast-restore: %s is not a world folder\n",
                     shown(world_name).c_str());
        return 1;
    }
    fd_holder backup(::open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::vector<entry> entries;
    std::vector<std::string> prefix;
    if (backup.fd < 0 || !list_backup(::dup(backup.fd), prefix, entries)) {
        std::fprintf(stderr, "lodecast-restore: cannot read backup folder %s: %s\n",
                     shown(backup_name).c_str(), std::strerror(errno));
        return 1;
    }
    std::sort(entries.begin(), entries.end(),
              [](const entry &a, const entry &b) { return a.rel() < b.rel(); });
    int status = 0;
    size_t restored = 0;
    for (const entry &e : entries) {
        std::string error;
        if (!restore(backup.fd, backup_name, world.fd, world_name, e, error)) {
            std::fprintf(stderr, "lodecast-restore: cannot restore %s: %s - skipped\n",
                         shown(e.rel()).c_str(), shown(error).c_str());
            status = 1;
            continue;
        }
        std::printf("restored %s\n", shown(e.rel()).c_str());
        ++restored;
    }
    // Each rename is atomic; one sync of the file system makes them last.
    (void)::syncfs(world.fd);
    std::printf("%zu of %zu files restored into %s\n", restored, entries.size(),
                shown(world_name).c_str());
    return close_stdout() ? status : 1;
}
