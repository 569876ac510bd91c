#include "lodecast/living/run_lock.h"

#include "lodecast/living/chunk_record.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char lock_name[] = "run.lock";

// No write access: the lock cannot be made, yet files below may be writable.
bool read_only(int err) {
    return err == EACCES || err == EPERM || err == EROFS;
}

void close_fd(int &fd) {
    if (fd >= 0) {
        ::close(fd);
    }
    fd = -1;
}

} // namespace

run_lock::~run_lock() {
    // Removed while still locked: a run that opened it meanwhile finds, once
    // it has the lock, that the name is gone, and makes a new one.
    if (held_ && fd_ != world_) {
        (void)::unlinkat(folder_, lock_name, 0);
        if (made_folder_) {
            (void)::unlinkat(world_, record_folder, AT_REMOVEDIR); // unless the record is there
        }
    }
    if (fd_ != world_) {
        close_fd(fd_);
    }
    close_fd(folder_);
    close_fd(world_);
}

run_lock::result run_lock::take(const std::string &world, std::string &error) {
    world_ = ::open(world.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (world_ < 0) {
        return result::held;
    }
    world_path_ = world;
    const std::string folder = world + "/" + record_folder;
    path_ = folder + "/" + lock_name;
    // Never through a link: the lock and the record stay inside the world.
    const int made = ::mkdirat(world_, record_folder, 0777) == 0 ? 0 : errno;
    made_folder_ = made == 0;
    if (made != 0 && made != EEXIST && !read_only(made)) {
        error = "cannot create " + folder + ": " + std::strerror(made);
        return result::failed;
    }
    folder_ = ::openat(world_, record_folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder_ < 0 && !(errno == ENOENT && read_only(made))) {
        error = folder + " is not a folder: " + std::strerror(errno == ELOOP ? ENOTDIR : errno);
        return result::failed;
    }
    result r = result::failed;
    while (!attempt(r, error)) {
    }
    return r;
}

bool run_lock::attempt(result &r, std::string &error) {
    r = result::failed;
    fd_ = folder_ < 0 ? -1
                      : ::openat(folder_, lock_name,
                                 O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    struct stat st {};
    if (fd_ < 0 && (folder_ < 0 || read_only(errno))) {
        fd_ = world_; // the world's folder itself, where nothing can be made
        path_ = world_path_;
    } else if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = fd_ < 0 && errno != ELOOP ? "cannot open " + path_ + ": " + std::strerror(errno)
                                          : path_ + " is not a regular file";
        return true;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        r = err == EWOULDBLOCK ? result::busy : result::failed;
        error = "cannot lock " + path_ + ": " + std::strerror(err);
        return true;
    }
    struct stat now {};
    if (fd_ != world_ && (::fstatat(folder_, lock_name, &now, AT_SYMLINK_NOFOLLOW) != 0 ||
                          now.st_ino != st.st_ino || now.st_dev != st.st_dev)) {
        close_fd(fd_);
        return false;
    }
    held_ = true;
    r = result::held;
    return true;
}
