// What keeps a run safe on a world that is in use: the session lock, the
// record of chunks already given this ore, backups of replaced files, and
// the dry run. The update's handler and the pipeline's commit hook call in
// here; without any of its options a run only takes the lock.
#ifndef LODECAST_LIVING_WORLD_H
#define LODECAST_LIVING_WORLD_H

#include "durable/durable.h"
#include "lodecast/living/backup.h"
#include "lodecast/living/chunk_record.h"
#include "lodecast/living/dry_run.h"
#include "lodecast/living/run_lock.h"
#include "lodecast/living/session_lock.h"
#include "lodecast/pipeline/chunk_pipeline.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class living_world {
  public:
    // ores: the run's; the record keeps the first (a recorded run has one).
    living_world(std::string world, const std::vector<ore_plan> &ores, const options *opt);

    // Takes the run's own lock on the world before anything of it is read
    // (a dry run takes none). false after saying why; nothing changed.
    bool claim();
    // Checks the options, reads the record and takes the lock (a dry run
    // takes nothing). false after saying why; the world is unchanged.
    bool start(const durable_policy &durability);
    // The commit hook and dry mode for the pipeline.
    void configure(pipeline_config &config);

    // On the walk's thread, in walk order.
    bool recorded(const world_unit &unit, size_t i); // counted: skipped
    // What each ore of the run placed in chunk i.
    void processed(const world_unit &unit, size_t i, const std::vector<placement_count> &placed);
    void retired(const world_unit &unit, size_t i, chunk_status status);
    // The unit's commit ended with status; true when a message was printed
    // here, so that the generic one is not.
    bool unit_done(const world_unit &unit, chunk_status status);
    // The closing messages; false when the run must end with status 1.
    bool finish();
    bool dry() const { return dry_ != nullptr; }

  private:
    using coords = std::vector<std::pair<int32_t, int32_t>>;
    // grouped: the record's lines are synced for the whole group, later.
    commit_gate before_commit(const world_unit &unit, const std::vector<size_t> &chunks,
                              bool grouped);
    void note(const world_unit &unit, std::string text);
    // Whether the session lock is still ours; notes the change otherwise.
    bool lock_held();

    std::string world_;
    const options *opt_;
    std::unique_ptr<run_lock> run_lock_;
    std::unique_ptr<session_lock> lock_;
    std::unique_ptr<chunk_record> record_;
    std::unique_ptr<backup_folder> backup_;
    std::unique_ptr<dry_run> dry_;
    uint64_t skipped_ = 0;
    // A dry run's chunks between processing and retiring.
    std::map<std::pair<const world_unit *, size_t>, std::vector<placement_count>> placed_;
    bool lock_changed_ = false; // under m_

    // What the commit hook did for units still in flight, by unit.
    std::mutex m_;
    std::map<const world_unit *, std::string> notes_;
    std::map<const world_unit *, coords> recorded_;
    std::map<const world_unit *, std::string> kept_;
};

#endif
