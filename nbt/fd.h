// An owned file descriptor, closed when it goes out of scope.
#ifndef NBT_FD_H
#define NBT_FD_H

#include <unistd.h>

namespace nbt_detail {

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

} // namespace nbt_detail

#endif
