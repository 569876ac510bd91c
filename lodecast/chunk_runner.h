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
    chunk_runner(int16_t ore_id, const options *opt, int threads);
    // Finishes every chunk handed over (as finish()).
    ~chunk_runner();
    chunk_runner(const chunk_runner &) = delete;
    chunk_runner &operator=(const chunk_runner &) = delete;

    // One accepted chunk file, in walk order: prints the verbose line
    // (rel_path is the path below the world directory), updates the chunk
    // (or queues it) and prints its failure. st is the file's status from
    // the walk.
    void chunk(const std::string &file, const std::string &rel_path, const struct stat &st);

    // Called before the walk lists a directory (st is its status): waits
    // for pending writes into that same directory, so that the listing
    // sees no temporary file of this run, as on one thread.
    void entering_directory(const struct stat &st);

    // Waits until every chunk handed over is written and its messages are
    // printed. Afterwards out_printf prints directly again, so the walk's
    // closing messages follow every chunk's.
    void finish();

  private:
    struct job;
    struct pool;
    // Runs the ordered stage for every loaded chunk whose turn has come and
    // prints every finished chunk whose turn has come; with wait, blocks
    // until at least one of them was possible.
    void pump(bool wait);
    // The ordered stage of one loaded chunk, on the walk's thread.
    void process(job *j);
    int16_t ore_id_;
    const options *opt_;
    std::unique_ptr<pool> pool_;
};

#endif
