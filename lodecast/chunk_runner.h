// Updates the chunk files that the world walk hands over, on one thread or
// on a pool of them, with the same result either way.
//
// With several threads, loading (read, decompress, parse) and encoding
// (serialise, compress) run on `threads` compute workers and writing the
// file (temporary file, sync, rename) on twice as many disk workers, which
// mostly wait for the disk, while validation and the veins run on the
// walk's thread in walk order, so the one random sequence reaches the
// chunks in the same order as on one thread. Every message is held in its
// chunk's buffer and printed when all chunks before it have finished:
// standard error, the exit status and every file come out as in a
// one-thread run. At most 2 x (3 x threads) + 2 chunks are in flight.
//
// While a runner exists, chunk writes leave the folder sync to it: each
// folder the walk enters is synced once, after the last of its chunks has
// been renamed into it and the walk has left it (or finished), and only
// when at least one chunk was written there. On one thread that happens
// before the walk lists the next folder; on several, the write that
// completes a folder syncs it, so the walk never waits for the disk.
#ifndef LODECAST_CHUNK_RUNNER_H
#define LODECAST_CHUNK_RUNNER_H

#include "lodecast/options.h"

#include <cstdint>
#include <memory>
#include <string>
#include <sys/stat.h>

class chunk_runner {
  public:
    // threads below 2 give the plain sequential run (no thread is started;
    // messages go straight to standard error). If the workers cannot be
    // started the run is sequential as well. opt must outlive the runner.
    // Turns the library's per-write folder sync off until it is destroyed.
    chunk_runner(int16_t ore_id, const options *opt, int threads);
    // Finishes every chunk handed over (as finish()) and turns the
    // per-write folder sync back to what it was.
    ~chunk_runner();
    chunk_runner(const chunk_runner &) = delete;
    chunk_runner &operator=(const chunk_runner &) = delete;

    // One accepted chunk file, in walk order: prints the verbose line
    // (rel_path is the path below the world directory), updates the chunk
    // (or queues it) and prints its failure. st is the file's status from
    // the walk.
    void chunk(const std::string &file, const std::string &rel_path, const struct stat &st);

    // Called before the walk lists a directory (path, st its status): the
    // directory entered before is done with, so it is synced once its
    // chunks are written; then waits for pending writes into this same
    // directory, so that the listing sees no temporary file of this run,
    // as on one thread. Chunks handed over next belong to this directory.
    void entering_directory(const std::string &path, const struct stat &st);

    // Waits until every chunk handed over is written, every folder they
    // were written into is synced and their messages are printed. Called
    // when the walk ends or stops. Afterwards out_printf prints directly
    // again, so the walk's closing messages follow every chunk's.
    void finish();

  private:
    struct job;
    struct pool;
    struct folder;
    // Waits for every chunk handed over, without letting go of the current
    // folder.
    void drain();
    // The walk is done with the current folder: syncs it now if its
    // written chunks are all in place, else leaves that to its last write.
    void leave_folder();
    // Runs the ordered stage for every loaded chunk whose turn has come and
    // prints every finished chunk whose turn has come; with wait, blocks
    // until at least one of them was possible.
    void pump(bool wait);
    // The ordered stage of one loaded chunk, on the walk's thread.
    void process(job *j);
    int16_t ore_id_;
    const options *opt_;
    bool folder_sync_before_;
    std::unique_ptr<pool> pool_;
    // The folder chunks are handed over from: on one thread its path and
    // whether a chunk was written into it, with several its shared record.
    std::string folder_path_;
    bool folder_written_ = false;
    std::shared_ptr<folder> folder_;
};

#endif
