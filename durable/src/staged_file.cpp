// Replacing a file so that it is either left exactly as it was or holds
// the whole new content: the bytes go to a temporary file beside it, reach
// the disk when the caller asks, and only then take the target's place by
// rename. Everything happens through a descriptor of the target's folder,
// so a folder renamed meanwhile still gets its temporary file removed, and
// nothing here allocates except with malloc (no exception can escape).

#include "durable/durable.h"
#include "durable/fd.h"
#include "file_attributes.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct durable_staged {
    int dir;                 // the target's folder
    int fd;                  // the temporary file, -1 once closed
    char *dir_path;          // malloc'd: the folder as the resolved path names it
    const char *name;        // the target's name, inside dir_path's block
    char temp[NAME_MAX + 1]; // the temporary file's name in dir
    bool other_folder;       // reached through a link into another folder
    mode_t mode;             // the permission bits, set once writing is done
    bool mode_set;
};

namespace {

using durable::above_standard;

const durable_policy full_durability{1, 1, nullptr, nullptr};

const durable_policy &or_full(const durable_policy *d) {
    return d != nullptr ? *d : full_durability;
}

int run_sync(const durable_policy &d, int fd) {
    return d.sync != nullptr ? d.sync(fd, d.context) : ::fsync(fd);
}

// The folder part of path (".", or "/" for a file right below the root) in
// a malloc'd block whose tail holds the name; *name points at it. null
// when out of memory.
char *split_path(const char *path, const char **name) {
    const size_t len = std::strlen(path);
    const char *slash = std::strrchr(path, '/');
    char *block = static_cast<char *>(std::malloc(len + 3));
    if (block == nullptr) {
        return nullptr;
    }
    if (slash == nullptr) {
        std::memcpy(block, ".", 2);
        std::memcpy(block + 2, path, len + 1);
        *name = block + 2;
        return block;
    }
    const size_t dir_len = slash == path ? 1 : static_cast<size_t>(slash - path);
    std::memcpy(block, path, dir_len);
    block[dir_len] = '\0';
    std::memcpy(block + dir_len + 1, slash + 1, std::strlen(slash + 1) + 1);
    *name = block + dir_len + 1;
    return block;
}

// Whether the folders of a and b are spelt the same.
bool same_folder(const char *a, const char *b) {
    const char *sa = std::strrchr(a, '/');
    const char *sb = std::strrchr(b, '/');
    if (sa == nullptr || sb == nullptr) {
        return sa == sb;
    }
    return sa - a == sb - b && std::strncmp(a, b, static_cast<size_t>(sa - a)) == 0;
}

bool write_all(int fd, const unsigned char *p, size_t n) {
    while (n > 0) {
        size_t step = n < (size_t{1} << 30) ? n : (size_t{1} << 30);
        ssize_t w = ::write(fd, p, step);
        if (w < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// A fresh temporary name: ".<name>.XXXXXX" with six letters or digits,
// mixed from a process-wide counter, the clock and the process id.
void temp_name(char *out, const char *name, unsigned attempt) {
    static std::atomic<uint64_t> counter{0};
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    uint64_t x = counter.fetch_add(1, std::memory_order_relaxed) ^
                 static_cast<uint64_t>(ts.tv_nsec) ^ static_cast<uint64_t>(ts.tv_sec) << 30 ^
                 static_cast<uint64_t>(::getpid()) << 40 ^ attempt;
    // splitmix64's finaliser spreads every input bit over the letters.
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
    x ^= x >> 31;
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    // The name is shortened so that the temporary name stays within
    // NAME_MAX; the leading dot keeps it out of every chunk-name match.
    const size_t keep = std::strlen(name) < 200 ? std::strlen(name) : 200;
    char *p = out;
    *p++ = '.';
    std::memcpy(p, name, keep);
    p += keep;
    *p++ = '.';
    for (int i = 0; i < 6; ++i) {
        *p++ = letters[x % 62];
        x /= 62;
    }
    *p = '\0';
}

// Frees s and whatever it holds, removing the temporary file unless it was
// renamed. The caller's errno (why the write failed) survives the clean-up.
void release(durable_staged *s, bool remove_temp) {
    const int err = errno;
    if (s->fd >= 0) {
        ::close(s->fd);
    }
    if (remove_temp && s->temp[0] != '\0') {
        ::unlinkat(s->dir, s->temp, 0);
    }
    if (s->dir >= 0) {
        ::close(s->dir);
    }
    std::free(s->dir_path);
    std::free(s);
    errno = err;
}

int open_folder(const char *dir) {
    int fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) {
        // A folder that may be written but not listed: renames work, only
        // its sync will fail.
        fd = ::open(dir, O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    return above_standard(fd);
}

// Fills s for path: its folder, the temporary file and its attributes.
int stage(durable_staged *s, const char *path, durable_report &report) {
    struct stat st {};
    char *real = nullptr;
    const char *target = path;
    if (::lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
        // Writing through a link must replace what it points to, not the
        // link itself.
        real = ::realpath(path, nullptr);
        if (real == nullptr) {
            return errno == ENOMEM ? DURABLE_EMEM : DURABLE_EDENIED;
        }
        target = real;
    }
    s->other_folder = real != nullptr && !same_folder(path, real);
    s->dir_path = split_path(target, &s->name);
    std::free(real);
    if (s->dir_path == nullptr) {
        return DURABLE_EMEM;
    }
    if (s->name[0] == '\0') {
        return DURABLE_EDENIED;
    }
    s->dir = open_folder(s->dir_path);
    if (s->dir < 0) {
        return DURABLE_EDENIED;
    }
    const bool exists = ::fstatat(s->dir, s->name, &st, 0) == 0;
    if (exists && (!S_ISREG(st.st_mode) || ::faccessat(s->dir, s->name, W_OK, 0) != 0)) {
        // Opening it for writing would have failed too; the rename must not
        // get round the permission bits.
        return DURABLE_EDENIED;
    }
    for (unsigned attempt = 0; s->fd < 0; ++attempt) {
        temp_name(s->temp, s->name, attempt);
        s->fd = above_standard(
            ::openat(s->dir, s->temp, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (s->fd < 0) {
            const bool taken = errno == EEXIST;
            s->temp[0] = '\0'; // nothing of ours to remove
            if (!taken || attempt >= 100) {
                return DURABLE_EDENIED;
            }
        }
    }
    s->mode = exists ? durable::carry_attributes(s->fd, s->dir, s->name, st, report)
                     : durable::new_file_mode();
    return DURABLE_OK;
}

// Sets the permission bits after the last write, which clears set-id bits.
int finish_mode(durable_staged *s) {
    if (!s->mode_set) {
        if (::fchmod(s->fd, s->mode) != 0) {
            return DURABLE_ERR;
        }
        s->mode_set = true;
    }
    return DURABLE_OK;
}

} // namespace

int durable_stage_open(const char *path, durable_staged **out, durable_report *report) {
    *out = nullptr;
    durable_report ignored{};
    durable_report &rep = report != nullptr ? *report : ignored;
    rep = durable_report{};
    auto *s = static_cast<durable_staged *>(std::calloc(1, sizeof(durable_staged)));
    if (s == nullptr) {
        return DURABLE_EMEM;
    }
    s->dir = -1;
    s->fd = -1;
    int r = stage(s, path, rep);
    if (r != DURABLE_OK) {
        release(s, true);
        rep = durable_report{};
        return r;
    }
    *out = s;
    return DURABLE_OK;
}

int durable_stage_write(durable_staged *s, const void *data, size_t n) {
    s->mode_set = false;
    return write_all(s->fd, static_cast<const unsigned char *>(data), n) ? DURABLE_OK : DURABLE_ERR;
}

int durable_stage_pwrite(durable_staged *s, const void *data, size_t n, uint64_t offset) {
    s->mode_set = false;
    const auto *p = static_cast<const unsigned char *>(data);
    while (n > 0) {
        if (offset > static_cast<uint64_t>(INT64_MAX) - n) {
            return DURABLE_ERR;
        }
        size_t step = n < (size_t{1} << 30) ? n : (size_t{1} << 30);
        ssize_t w = ::pwrite(s->fd, p, step, static_cast<off_t>(offset));
        if (w < 0) {
            if (errno == EINTR) {
                continue;
            }
            return DURABLE_ERR;
        }
        p += w;
        n -= static_cast<size_t>(w);
        offset += static_cast<uint64_t>(w);
    }
    return DURABLE_OK;
}

int durable_stage_sync(durable_staged *s, const durable_policy *d) {
    if (finish_mode(s) != DURABLE_OK) {
        return DURABLE_ERR;
    }
    return or_full(d).sync_file && run_sync(or_full(d), s->fd) != 0 ? DURABLE_ERR : DURABLE_OK;
}

int durable_stage_commit(durable_staged *s, const durable_policy *d) {
    const durable_policy &dur = or_full(d);
    // A failed close can mean lost data.
    bool ok = finish_mode(s) == DURABLE_OK;
    ok = ::close(s->fd) == 0 && ok;
    s->fd = -1;
    if (!ok || ::renameat(s->dir, s->temp, s->dir, s->name) != 0) {
        release(s, true);
        return DURABLE_ERR;
    }
    // The rename has happened; a folder that cannot be synced (some file
    // systems refuse) does not undo it. A caller that syncs folders itself
    // knows only the folder of the path it gave, so a link into another
    // folder gets that one synced here whenever the file itself was.
    if (dur.sync_folder || (s->other_folder && dur.sync_file)) {
        (void)run_sync(dur, s->dir);
    }
    release(s, false);
    return DURABLE_OK;
}

void durable_stage_discard(durable_staged *s) {
    if (s != nullptr) {
        release(s, true);
    }
}

int durable_replace_file(const char *path, const void *data, size_t n, const durable_policy *d,
                         durable_report *report) {
    durable_staged *s = nullptr;
    int r = durable_stage_open(path, &s, report);
    if (r != DURABLE_OK) {
        return r;
    }
    if (durable_stage_write(s, data, n) != DURABLE_OK || durable_stage_sync(s, d) != DURABLE_OK) {
        durable_stage_discard(s);
        return DURABLE_ERR;
    }
    return durable_stage_commit(s, d);
}

int durable_sync_folder(const char *dir, int filesystem, const durable_policy *d) {
    durable::Fd fd(above_standard(::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    if (fd.get() < 0) {
        return DURABLE_ERR;
    }
    int r;
    if (d != nullptr && d->sync != nullptr) {
        r = d->sync(fd.get(), d->context);
    } else {
        r = filesystem ? ::syncfs(fd.get()) : ::fsync(fd.get());
    }
    return r == 0 ? DURABLE_OK : DURABLE_ERR;
}
