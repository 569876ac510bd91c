#include "file_attributes.h"

#include "durable/fd.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace durable {

namespace {

// The old file, read through a descriptor; one it may not be opened for
// reading (write-only bits) is reached through /proc by an O_PATH one.
class XattrSource {
  public:
    XattrSource(int dir, const char *name)
        : fd_(above_standard(
              ::openat(dir, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC))) {
        if (fd_.get() < 0) {
            path_fd_ = above_standard(::openat(dir, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
            std::snprintf(proc_, sizeof proc_, "/proc/self/fd/%d", path_fd_);
        }
    }
    ~XattrSource() {
        if (path_fd_ >= 0) {
            ::close(path_fd_);
        }
    }
    XattrSource(const XattrSource &) = delete;
    XattrSource &operator=(const XattrSource &) = delete;

    bool usable() const { return fd_.get() >= 0 || path_fd_ >= 0; }
    ssize_t list(char *buf, size_t n) const {
        return fd_.get() >= 0 ? ::flistxattr(fd_.get(), buf, n) : ::listxattr(proc_, buf, n);
    }
    ssize_t get(const char *key, void *buf, size_t n) const {
        return fd_.get() >= 0 ? ::fgetxattr(fd_.get(), key, buf, n)
                              : ::getxattr(proc_, key, buf, n);
    }

  private:
    Fd fd_;
    int path_fd_ = -1;
    char proc_[40] = {};
};

// A malloc'd block freed on every way out.
struct Block {
    ~Block() { std::free(p); }
    bool resize(size_t n) {
        void *q = std::realloc(p, n > 0 ? n : 1);
        if (q == nullptr) {
            return false;
        }
        p = static_cast<char *>(q);
        return true;
    }
    char *p = nullptr;
};

// Reads a list or a value of unknown size into block: its size, or -1.
template <class Read> ssize_t read_sized(Block &block, Read read) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        ssize_t size = read(nullptr, 0);
        if (size <= 0) {
            return size; // nothing to read (most files have no attributes), or -1
        }
        if (!block.resize(static_cast<size_t>(size))) {
            return -1;
        }
        ssize_t got = read(block.p, static_cast<size_t>(size));
        if (got >= 0 || errno != ERANGE) {
            return got; // ERANGE: it grew meanwhile
        }
    }
    return -1;
}

// Copies every extended attribute (system.posix_acl_access among them) of
// the old file to fd. true when one could not be carried over; a file
// system without extended attributes has none to lose.
bool copy_xattrs(int fd, int dir, const char *name) {
    XattrSource src(dir, name);
    if (!src.usable()) {
        return true;
    }
    Block names;
    ssize_t size = read_sized(names, [&](char *b, size_t n) { return src.list(b, n); });
    if (size < 0) {
        return errno != ENOTSUP;
    }
    bool lost = false;
    Block value;
    for (ssize_t at = 0; at < size;) {
        const char *key = names.p + at;
        size_t len = ::strnlen(key, static_cast<size_t>(size - at));
        at += static_cast<ssize_t>(len) + 1;
        ssize_t n = read_sized(value, [&](char *b, size_t m) { return src.get(key, b, m); });
        if (n < 0 || ::fsetxattr(fd, key, value.p, static_cast<size_t>(n), 0) != 0) {
            lost = true;
        }
    }
    return lost;
}

// The process's umask as the kernel reports it, or -1 where it does not.
long umask_from_proc() {
    std::FILE *f = std::fopen("/proc/self/status", "re");
    if (f == nullptr) {
        return -1;
    }
    long mask = -1;
    char line[256];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        unsigned int value;
        if (std::sscanf(line, "Umask: %o", &value) == 1) {
            mask = static_cast<long>(value & 0777);
            break;
        }
    }
    std::fclose(f);
    return mask;
}

} // namespace

mode_t new_file_mode() {
    // umask() can only be read by setting it, for the whole process: done
    // per call it would let files that other threads create meanwhile get
    // the wrong mode. The kernel's report reads it without a change; where
    // there is none it is read once (thread-safe static initialisation).
    long mask = umask_from_proc();
    if (mask < 0) {
        static const mode_t first = [] {
            mode_t m = ::umask(0);
            ::umask(m);
            return m;
        }();
        mask = first;
    }
    return 0644 & ~static_cast<mode_t>(mask);
}

mode_t carry_attributes(int fd, int dir, const char *name, const struct stat &old,
                        durable_report &report) {
    // Group and owner separately: a member of the file's group may keep the
    // group though it may not keep the owner. A new file usually has both
    // already (its writer owns the old one): then nothing is changed.
    struct stat now {};
    const bool known = ::fstat(fd, &now) == 0;
    bool asked = false;
    if (!known || now.st_gid != old.st_gid) {
        (void)!::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
        asked = true;
    }
    if ((!known || now.st_uid != old.st_uid) && ::geteuid() == 0) {
        (void)!::fchown(fd, old.st_uid, static_cast<gid_t>(-1));
        asked = true;
    }
    if (asked && ::fstat(fd, &now) != 0) {
        now.st_uid = static_cast<uid_t>(-1);
        now.st_gid = static_cast<gid_t>(-1);
    }
    report.owner_changed = now.st_uid != old.st_uid;
    report.group_changed = now.st_gid != old.st_gid;
    report.attributes_lost = copy_xattrs(fd, dir, name);
    mode_t mode = old.st_mode & 07777;
    // Bits meant for the old group must not go to another one, nor set-id
    // bits to another owner or group.
    if (report.group_changed) {
        mode &= ~static_cast<mode_t>(070 | S_ISGID);
    }
    if (report.owner_changed) {
        mode &= ~static_cast<mode_t>(S_ISUID);
    }
    return mode;
}

} // namespace durable
