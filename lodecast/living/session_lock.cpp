#include "lodecast/living/session_lock.h"
#include "durable/durable.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

session_lock::session_lock(const std::string &world) : path_(world + "/session.lock") {}

bool session_lock::read(std::array<unsigned char, 8> &out, bool &exists) const {
    // Never through a link, nor from anything but a file (a FIFO would
    // block): either counts as a change.
    const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    exists = fd >= 0 || errno != ENOENT;
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    size_t have = 0;
    unsigned char more = 0;
    ssize_t n = 1;
    while (have < out.size() && (n = ::read(fd, out.data() + have, out.size() - have)) > 0) {
        have += static_cast<size_t>(n);
    }
    // A longer file is not one we wrote: it counts as a change.
    const bool exact = have == out.size() && ::read(fd, &more, 1) == 0;
    ::close(fd);
    return exact;
}

bool session_lock::take(const durable_policy &durability, std::string &error) {
    std::array<unsigned char, 8> old{};
    const bool whole = read(old, exists_);
    if (!exists_) {
        return true;
    }
    // Replacing a link would write where it leads, maybe outside the world.
    struct stat st {};
    if (::lstat(path_.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a regular file";
        return false;
    }
    auto ms = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count());
    uint64_t before = 0;
    for (unsigned char b : old) {
        before = before << 8 | b;
    }
    if (whole && ms == before) {
        ++ms; // the same millisecond must still read as a new owner
    }
    for (int i = 7; i >= 0; --i) {
        stamp_[static_cast<size_t>(i)] = static_cast<unsigned char>(ms & 0xFF);
        ms >>= 8;
    }
    if (durable_replace_file(path_.c_str(), stamp_.data(), stamp_.size(), &durability, nullptr) !=
        DURABLE_OK) {
        error = std::strerror(errno != 0 ? errno : EIO);
        return false;
    }
    return true;
}

bool session_lock::still_ours() const {
    std::array<unsigned char, 8> now{};
    bool exists = false;
    const bool whole = read(now, exists);
    return exists == exists_ && (!exists || (whole && now == stamp_));
}
