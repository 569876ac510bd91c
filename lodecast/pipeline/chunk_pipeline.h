// The chunk pipeline: takes the units of a world walk and runs every chunk
// they select through load, process, encode and commit, on a pool of
// threads or on none, with the same result either way.
//
// Loading (read, decompress, parse) and encoding (serialise, compress) run
// on `threads` compute threads, the walk's own among them (it takes such a
// task whenever it would otherwise wait), committing units (temporary file,
// sync, rename) on twice as many disk workers, which mostly wait for the
// disk. The processing stage (validation, veins) runs on the walk's thread in
// walk order, so the run's one random sequence reaches the chunks in the
// same order whatever the number of threads. Chunks retire in walk order
// through the handler, which prints their messages: standard error, the
// exit status and every file come out as in a run without workers, which
// is the same pipeline doing every step in place. At most
// 2 x (3 x threads) + 2 chunks are in flight.
#ifndef LODECAST_CHUNK_PIPELINE_H
#define LODECAST_CHUNK_PIPELINE_H

#include "durable/durable.h"
#include "lodecast/formats/world_format.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// What a run does with each chunk; called on the walk's thread.
class chunk_handler {
  public:
    virtual ~chunk_handler() = default;
    // Whether chunk i of unit takes part in the run (the filters).
    virtual bool select(const world_unit &unit, size_t i) = 0;
    // Chunk i was handed over: messages printed here come first.
    virtual void begin(const world_unit &unit, size_t i) = 0;
    // The ordered stage: validate and update the loaded document.
    virtual chunk_status process(nbt_file *doc, const world_unit &unit, size_t i) = 0;
    // Chunk i is finished, in walk order; status says why it was left
    // alone. Unit-level failures come as unit_done after its last chunk.
    virtual void retire(const world_unit &unit, size_t i, chunk_status status) = 0;
    // The unit was committed (or not: status), after its last chunk.
    virtual void unit_done(const world_unit &unit, chunk_status status) = 0;
};

// What a before_commit hook decides about a unit.
enum class commit_gate {
    go,     // commit it
    refuse, // keep its old content (write_failed); the run goes on
    stop,   // keep it and every unit not yet committed; the walk ends
};

struct pipeline_config {
    int threads = 1;             // below 2: every step in place, no worker
    bool stream_process = false; // print the ordered stage's lines as they come
    durable_policy durability{}; // how each commit reaches the disk
    std::string world;           // whose file system is synced at the end
    // Units that can be grouped are committed in groups of at most this
    // many: staged, made durable by one sync of the world's file system,
    // then put in place (0: each unit alone).
    size_t group = 0;
    // Dry: chunks are loaded, processed and encoded, but nothing is given to
    // the units, so no unit changes or is committed.
    bool dry = false;
    // Runs on the disk worker just before each commit, with the chunks
    // whose new content the unit holds; none: every unit is committed.
    // grouped: the unit is one of a group, and before_group_renames runs
    // once the whole group has passed, before any of it is renamed, so that
    // what the hook writes can be made durable once for the group.
    std::function<commit_gate(const world_unit &, const std::vector<size_t> &, bool grouped)>
        before_commit;
    // false: no unit of the group is renamed (each keeps its old content).
    std::function<bool()> before_group_renames;
    // Immediately before each unit's rename; false: that unit keeps its old
    // content and no later one is committed (as a before_commit stop).
    std::function<bool()> before_rename;
    // Asked before each unit is handed over: true ends the walk there; the
    // units in flight are still finished.
    std::function<bool()> interrupted;
    // Each loading thread's chunk_io::left_unfinished (a copy per thread,
    // called concurrently); none: every chunk is parsed whole.
    std::function<bool(nbt_tag *skeleton)> left_unfinished;
};

class chunk_pipeline : public walk_hooks {
  public:
    chunk_pipeline(chunk_handler &handler, pipeline_config config);
    // Finishes every chunk handed over (as finish()).
    ~chunk_pipeline() override;
    chunk_pipeline(const chunk_pipeline &) = delete;
    chunk_pipeline &operator=(const chunk_pipeline &) = delete;

    // Runs the walk of format to its end or its stop, handing over every
    // unit. false when the walk stopped, or a before_commit hook did.
    bool run(world_format &format);
    // Whether a before_commit hook stopped the run.
    bool stopped() const { return stopped_; }
    // Units whose new content took their place so far.
    uint64_t written() const { return written_units_; }

    // Waits until every chunk handed over has retired, then, if any unit
    // was committed since the last finish(), syncs the world's file system
    // once (each folder written into where that fails). Afterwards messages
    // print directly again.
    void finish();

    // walk_hooks: the walk's view of what is in flight.
    void settle_folder(dev_t dev, ino_t ino) override;
    bool settle_file(dev_t dev, ino_t ino) override;
    bool problem(walk_problem what, const std::string &path, int err, bool chunk_entry) override;
    void skipped(const std::string &path, const std::string &why) override;

    // Where a walk problem goes; by default the run prints it and stops.
    void
    set_problem_handler(std::function<bool(walk_problem, const std::string &, int, bool)> handler);

  private:
    struct job;
    struct unit_job;
    struct pool;
    struct task;
    void run_task(const task &t, chunk_io &io);
    void hand_over(std::unique_ptr<world_unit> unit);
    void drain();
    // Runs the ordered stage and retires what it can; with wait, blocks
    // until something moved on (or, for_room, until another chunk may be
    // handed over).
    void pump(bool wait, bool for_room = false);
    void process(job *j);
    void chunk_finished(job *j);
    void commit(unit_job *u);
    commit_gate gate(unit_job *u, bool grouped);
    void flush_group();
    void unit_committed(unit_job *u, chunk_status st);
    void sync_written();

    chunk_handler &handler_;
    pipeline_config config_;
    std::unique_ptr<pool> pool_;
    std::function<bool(walk_problem, const std::string &, int, bool)> problem_handler_;
    // Staged units waiting for their group's sync (under group_m_).
    std::mutex group_m_;
    std::vector<unit_job *> group_;
    bool flush_queued_ = false;
    std::mutex written_m_;
    std::map<std::string, dev_t> written_folders_;
    bool written_any_ = false;
    std::atomic<bool> stopped_{false};
    std::atomic<uint64_t> written_units_{0};
};

#endif
