#include "lodecast/living/backup.h"

#include "durable/durable.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

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
    // Checked before anything is created: a refused folder is not made.
    std::string real;
    if (!outside_world(real, error)) {
        return false;
    }
    if ((!make_parents(dir_ + "/x") && errno != EEXIST)) {
        error = "cannot create backup folder " + dir_ + ": " + std::strerror(errno);
        return false;
    }
    // Again now that it exists: a link on the way may lead into the world.
    if (!outside_world(real, error)) {
        return false;
    }
    if (::access(real.c_str(), W_OK | X_OK) != 0) {
        error = "cannot write into backup folder " + dir_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool backup_folder::outside_world(std::string &real, std::string &error) const {
    char world[PATH_MAX];
    if (::realpath(world_.c_str(), world) == nullptr) {
        error = "cannot resolve backup folder " + dir_ + ": " + std::strerror(errno);
        return false;
    }
    // The folder's nearest existing ancestor resolved, the rest as spelt.
    fs::path rest;
    std::error_code ec;
    fs::path at = fs::absolute(dir_, ec).lexically_normal();
    char resolved[PATH_MAX];
    while (::realpath(at.c_str(), resolved) == nullptr) {
        if (errno != ENOENT || !at.has_relative_path()) {
            error = "cannot resolve backup folder " + dir_ + ": " + std::strerror(errno);
            return false;
        }
        rest = at.filename() / rest;
        at = at.parent_path();
    }
    real = (fs::path(resolved) / rest).lexically_normal().string();
    while (real.size() > 1 && real.back() == '/') {
        real.pop_back();
    }
    if ((real + "/").rfind(std::string(world) + "/", 0) == 0) {
        error = "backup folder " + dir_ + " lies inside the world; choose one outside it";
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
    if (durable_sync_folder(parent_of(dest).c_str(), 0, nullptr) != DURABLE_OK) {
        return failed("cannot sync the folder of");
    }
    return result::kept;
}
