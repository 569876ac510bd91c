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
// file is complete on disk before its rename whatever happens, so syncing
// folders during the run would only make renames durable early, which a
// run cut short cannot use (the world is partly updated either way). When
// the runner finishes it syncs the world's file system once, if a chunk
// was written, so that every rename is durable when the tool exits.
#ifndef LODECAST_CHUNK_RUNNER_H
#define LODECAST_CHUNK_RUNNER_H

#include "lodecast/options.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>

class chunk_runner {
  public:
    // threads below 2 give the plain sequential run (no thread is started;
    // messages go straight to standard error). If the workers cannot be
    // started the run is sequential as well. opt must outlive the runner.
    // world is the world directory, whose file system finish() syncs.
    chunk_runner(int16_t ore_id, const options *opt, int threads, std::string world);
    // Finishes every chunk handed over (as finish()).
    ~chunk_runner();
    chunk_runner(const chunk_runner &) = delete;
    chunk_runner &operator=(const chunk_runner &) = delete;

    // One accepted chunk file, in walk order: prints the verbose line
    // (rel_path is the path below the world directory), updates the chunk
    // (or queues it) and prints its failure. st is the file's status from
    // the walk.
    void chunk(const std::string &file, const std::string &rel_path, const struct stat &st);

    // Called before the walk lists a directory (path, st its status):
    // waits for pending writes into this same directory, so that the
    // listing sees no temporary file of this run, as on one thread. Chunks
    // handed over next belong to this directory.
    void entering_directory(const std::string &path, const struct stat &st);

    // Waits until every chunk handed over is written and its messages are
    // printed, then, if any chunk was written since the last finish(),
    // syncs the world's file system (syncfs); where that fails, each folder
    // written into is synced instead, and a folder on another file system
    // than the world gets a sync of its own. A failed sync fails no chunk:
    // the renames have happened. Called when the walk ends or stops.
    // Afterwards out_printf prints directly again, so the walk's closing
    // messages follow every chunk's.
    void finish();

  private:
    struct job;
    struct pool;
    // Waits for every chunk handed over.
    void drain();
    // Records that a chunk was written into the folder dir (on device
    // dev); called on any thread.
    void written(const std::string &dir, dev_t dev);
    // The sync at the end of a run, for what written() recorded.
    void sync_written();
    // Runs the ordered stage for every loaded chunk whose turn has come and
    // prints every finished chunk whose turn has come; with wait, blocks
    // until at least one of them was possible.
    void pump(bool wait);
    // The ordered stage of one loaded chunk, on the walk's thread.
    void process(job *j);
    int16_t ore_id_;
    const options *opt_;
    std::string world_;
    std::unique_ptr<pool> pool_;
    // The folder chunks are handed over from, and its device.
    std::string folder_path_;
    dev_t folder_dev_ = 0;
    // Folders written into since the last finish(), with their devices:
    // few (one per level-2 folder at most), kept for the fallback.
    std::mutex written_m_;
    std::map<std::string, dev_t> written_folders_;
    bool written_any_ = false;
};

// How many file-system syncs (successful or not) runners in this process
// have attempted: lets tests see what a run synced.
unsigned long file_system_syncs_attempted();

#endif
