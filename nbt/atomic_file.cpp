#include "nbt/atomic_file.h"

#include "nbt/fd.h"
#include "nbt/nbt.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace nbt_detail {

namespace {

std::atomic<bool> folder_sync_on{true};
std::atomic<unsigned long> folder_sync_count{0};

// Removes the temporary file unless the rename took it over.
class TempFile {
  public:
    explicit TempFile(std::string path) : path_(std::move(path)) {}
    ~TempFile() {
        if (!path_.empty()) {
            ::unlink(path_.c_str());
        }
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    const std::string &path() const { return path_; }
    void keep() { path_.clear(); }

  private:
    std::string path_;
};

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

struct path_parts {
    std::string dir;  // "." when the path names no folder
    std::string name; // the part after the last slash
};

path_parts split_path(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return {std::string(1, '.'), path};
    }
    // A file right below the root keeps "/" as its folder.
    return {path.substr(0, slash == 0 ? 1 : slash), path.substr(slash + 1)};
}

} // namespace

void set_folder_sync(bool on) {
    folder_sync_on.store(on, std::memory_order_relaxed);
}

bool folder_sync_enabled() {
    return folder_sync_on.load(std::memory_order_relaxed);
}

unsigned long folder_syncs_attempted() {
    return folder_sync_count.load(std::memory_order_relaxed);
}

bool sync_folder(const char *dir) {
    folder_sync_count.fetch_add(1, std::memory_order_relaxed);
    Fd fd(::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.get() >= 0 && ::fsync(fd.get()) == 0;
}

int replace_file(const char *path, const unsigned char *data, size_t n) {
    std::string target = path;
    struct stat st {};
    bool exists = ::lstat(path, &st) == 0;
    if (exists && S_ISLNK(st.st_mode)) {
        // Writing through a link must replace what it points to, not the
        // link itself.
        char *real = ::realpath(path, nullptr);
        if (real == nullptr) {
            return NBT_EGZ;
        }
        target = real;
        std::free(real);
        exists = ::stat(target.c_str(), &st) == 0;
    }
    if (exists && (!S_ISREG(st.st_mode) || ::access(target.c_str(), W_OK) != 0)) {
        // Opening it for writing would have failed too; the rename must not
        // get round the permission bits.
        return NBT_EGZ;
    }

    const path_parts parts = split_path(target);
    const std::string &dir = parts.dir;
    const std::string &name = parts.name;
    // A caller that syncs folders itself syncs the folder of the path it
    // gave; a link may have led elsewhere.
    const bool other_folder = target != path && split_path(path).dir != dir;
    if (name.empty()) {
        return NBT_EGZ;
    }
    // The leading dot keeps the file out of every chunk-name match; the
    // name is shortened so the temporary name stays within NAME_MAX.
    std::string tmpl = dir + "/." + name.substr(0, 200) + ".XXXXXX";
    int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) {
        return NBT_EGZ;
    }
    Fd file(fd);
    TempFile temp(tmpl);

    if (!write_all(file.get(), data, n)) {
        return NBT_ERR;
    }
    if (exists) {
        // Keeps the owner when allowed (as root); otherwise the file
        // becomes the writer's, as any rewrite by another user would.
        (void)!::fchown(file.get(), st.st_uid, st.st_gid);
    }
    // After the owner change, which may clear set-id bits.
    if (::fchmod(file.get(), exists ? (st.st_mode & 07777) : new_file_mode()) != 0) {
        return NBT_ERR;
    }
    if (::fsync(file.get()) != 0 || !file.close()) {
        return NBT_ERR;
    }
    if (::rename(temp.path().c_str(), target.c_str()) != 0) {
        return NBT_ERR;
    }
    temp.keep();
    // The rename has already happened; a folder that cannot be synced (some
    // file systems refuse) does not undo it, so it is not a failure of the
    // replacement.
    if (folder_sync_enabled() || other_folder) {
        (void)sync_folder(dir.c_str());
    }
    return NBT_OK;
}

} // namespace nbt_detail
