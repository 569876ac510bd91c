// What keeps two lodecast runs off one world at the same time: an exclusive
// lock (flock) on <world>/lodecast-data/run.lock, held for the whole run.
// Without it, the later run's region file replaces the earlier one's and
// their record lines interleave. The session lock cannot do this: a world
// may have none, and each run would take it from the other.
#ifndef LODECAST_RUN_LOCK_H
#define LODECAST_RUN_LOCK_H

#include <string>

class run_lock {
  public:
    run_lock() = default;
    // Removes the file, and the folder when the lock made it, then lets go:
    // a run leaves no trace of its lock.
    ~run_lock();
    run_lock(const run_lock &) = delete;
    run_lock &operator=(const run_lock &) = delete;

    enum class result { held, busy, failed };
    // Takes the lock without waiting. A world whose folder lodecast may not
    // write into is locked by its folder instead; a world folder that
    // cannot be opened has nothing to lock (held: the walk reports it).
    // busy: another run holds it. failed: the reason in error.
    result take(const std::string &world, std::string &error);
    const std::string &path() const { return path_; }

  private:
    // One attempt on the file; false to try again (it was removed by the
    // run that held it while this one waited to lock it).
    bool attempt(result &r, std::string &error);

    std::string path_;
    std::string world_path_;
    int world_ = -1;
    int folder_ = -1; // lodecast-data
    int fd_ = -1;     // what is locked: the file, or the world's folder
    bool made_folder_ = false;
    bool held_ = false;
};

#endif
