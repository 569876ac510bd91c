#include "lodecast/living/backup.h"

#include "nbt/nbt_io.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string parent_of(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// A name beside dest that no walk takes for a file of the world.
std::string temp_beside(const std::string &dest) {
    static std::atomic<unsigned> counter{0};
    const size_t slash = dest.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : dest.substr(0, slash);
    const std::string name = slash == std::string::npos ? dest : dest.substr(slash + 1);
    return dir + "/." + name + ".lodecast-" + std::to_string(::getpid()) + "-" +
           std::to_string(counter++);
}

// Copies src into the new file temp and syncs it.
bool copy_synced(const std::string &src, const std::string &temp) {
    const int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return false;
    }
    struct stat st {};
    const int out =
        ::fstat(in, &st) == 0
            ? ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777)
            : -1;
    bool ok = out >= 0;
    char buf[65536];
    while (ok) {
        const ssize_t n = ::read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t w = ::write(out, buf + done, static_cast<size_t>(n - done));
            ok = w > 0 || (w < 0 && errno == EINTR);
            done += w > 0 ? w : 0;
        }
    }
    const int saved = errno;
    ok = ok && ::fsync(out) == 0;
    if (out >= 0 && ::close(out) != 0) {
        ok = false;
    }
    ::close(in);
    if (!ok && out >= 0) {
        ::unlink(temp.c_str());
    }
    errno = ok ? 0 : (saved != 0 ? saved : EIO);
    return ok;
}

// src's content under the new name temp: linked, or copied across devices.
bool new_name(const std::string &src, const std::string &temp) {
    if (::linkat(AT_FDCWD, src.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return true;
    }
    return errno == EXDEV && copy_synced(src, temp);
}

} // namespace

bool make_parents(const std::string &path) {
    const std::string dir = parent_of(path);
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode) || (errno = ENOTDIR, false);
    }
    return make_parents(dir) && (::mkdir(dir.c_str(), 0777) == 0 || errno == EEXIST);
}

backup_folder::backup_folder(std::string world, std::string dir)
    : world_(std::move(world)), dir_(std::move(dir)) {}

bool backup_folder::open(std::string &error) {
    if (dir_.empty()) {
        error = "-backup needs a folder";
        return false;
    }
    if ((!make_parents(dir_ + "/x") && errno != EEXIST)) {
        error = "cannot create backup folder " + dir_ + ": " + std::strerror(errno);
        return false;
    }
    char world[PATH_MAX];
    char dir[PATH_MAX];
    if (::realpath(world_.c_str(), world) == nullptr || ::realpath(dir_.c_str(), dir) == nullptr) {
        error = "cannot resolve backup folder " + dir_ + ": " + std::strerror(errno);
        return false;
    }
    const std::string w = std::string(world) + "/";
    if ((std::string(dir) + "/").rfind(w, 0) == 0) {
        error = "backup folder " + dir_ + " lies inside the world; choose one outside it";
        return false;
    }
    if (::access(dir, W_OK | X_OK) != 0) {
        error = "cannot write into backup folder " + dir_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

backup_folder::result backup_folder::keep(const std::string &path, std::string &dest,
                                          std::string &error) {
    if (path.rfind(world_, 0) != 0) {
        error = path + " is not below " + world_;
        return result::failed;
    }
    std::string rel = path.substr(world_.size());
    rel.erase(0, rel.find_first_not_of('/'));
    dest = dir_ + "/" + rel;
    const auto failed = [&](const char *what) {
        error = std::string(what) + " " + dest + ": " + std::strerror(errno);
        return result::failed;
    };
    if (!make_parents(dest)) {
        return failed("cannot create the folder of");
    }
    if (::linkat(AT_FDCWD, path.c_str(), AT_FDCWD, dest.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return result::kept;
    }
    if (errno == EEXIST) {
        return result::exists;
    }
    if (errno != EXDEV) {
        return failed("cannot link");
    }
    // Another file system: a whole copy under a temporary name first, so
    // the backup never holds half a file.
    const std::string temp = temp_beside(dest);
    if (!copy_synced(path, temp)) {
        return failed("cannot copy into");
    }
    const bool linked = ::link(temp.c_str(), dest.c_str()) == 0;
    const int err = errno;
    ::unlink(temp.c_str());
    if (!linked) {
        errno = err;
        return err == EEXIST ? result::exists : failed("cannot copy into");
    }
    if (nbt_sync_folder(parent_of(dest).c_str(), 0, nullptr) != NBT_OK) {
        return failed("cannot sync the folder of");
    }
    return result::kept;
}

bool put_in_place(const std::string &src, const std::string &dest, std::string &error) {
    const std::string temp = temp_beside(dest);
    if (!new_name(src, temp)) {
        error = std::strerror(errno);
        return false;
    }
    if (::rename(temp.c_str(), dest.c_str()) != 0) {
        error = std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}
