// An owned file descriptor, closed when it goes out of scope.
#ifndef DURABLE_FD_H
#define DURABLE_FD_H

#include <fcntl.h>
#include <unistd.h>

namespace durable {

// A descriptor the library opened, moved to 3 or above when it landed on
// 0, 1 or 2 (closed in this process): a new file there would receive what
// the program prints or reads. -1 stays -1, and so does a failed move.
inline int above_standard(int fd) {
    if (fd < 0 || fd > 2) {
        return fd;
    }
    int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    // Closes now, reporting the result: a failed close can mean lost data.
    bool close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

} // namespace durable

#endif
