// The world's session lock: <world>/session.lock holds the big-endian
// millisecond time at which a program last opened the world, and whoever
// wrote it last owns the world. A game re-reads it before it saves and
// stops saving once it has changed, so writing our own time takes the
// world from it; re-reading it before each commit tells when another
// program took the world from us.
#ifndef LODECAST_SESSION_LOCK_H
#define LODECAST_SESSION_LOCK_H

#include "durable/durable.h"

#include <array>
#include <string>

class session_lock {
  public:
    explicit session_lock(const std::string &world);

    // Takes the lock when the world has the file (a world without it keeps
    // none). false with the reason in error when it could not be written or
    // is not a regular file (a link is never followed).
    bool take(const durable_policy &durability, std::string &error);
    // Whether the file still holds what take() left there (or is still
    // missing). Safe from any thread.
    bool still_ours() const;
    const std::string &path() const { return path_; }

  private:
    // The file's 8 bytes into out; false when it is missing or shorter.
    bool read(std::array<unsigned char, 8> &out, bool &exists) const;

    std::string path_;
    bool exists_ = false;
    std::array<unsigned char, 8> stamp_{};
};

#endif
