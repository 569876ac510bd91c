#include "lodecast/living/living_world.h"

#include "lodecast/pipeline/output.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

living_world::living_world(std::string world, const std::vector<ore_plan> &ores, const options *opt)
    : world_(std::move(world)), opt_(opt) {
    if ((opt->set & OPT_RECORD) && !ores.empty()) {
        const ore_block &b = ores.front().block;
        record_ = std::make_unique<chunk_record>(
            world_, record_dimension(opt),
            record_settings(b.name.empty() ? std::to_string(b.id) : b.name, &ores.front().opt));
    }
    if (opt->set & OPT_DRY_RUN) {
        dry_ = std::make_unique<dry_run>(ores);
    } else {
        run_lock_ = std::make_unique<run_lock>();
        lock_ = std::make_unique<session_lock>(world_);
        if (opt->set & OPT_BACKUP) {
            backup_ = std::make_unique<backup_folder>(
                world_, opt->backup_dir != nullptr ? opt->backup_dir : "");
        }
    }
}

bool living_world::claim() {
    std::string error;
    switch (run_lock_ ? run_lock_->take(world_, error) : run_lock::result::held) {
    case run_lock::result::held:
        return true;
    case run_lock::result::busy:
        out_printf("another lodecast run is updating %s (it holds %s) - nothing changed\n",
                   shown(world_).c_str(), shown(run_lock_->path()).c_str());
        return false;
    case run_lock::result::failed:
        break;
    }
    out_printf("%s - nothing changed\n", shown(error).c_str());
    return false;
}

bool living_world::start(const durable_policy &durability) {
    std::string error;
    const auto refuse = [&](const std::string &why) {
        out_printf("%s - nothing changed\n", shown(why).c_str());
        return false;
    };
    if ((opt_->set & OPT_MAP) && (!dry_ || opt_->map_path == nullptr)) {
        return refuse(dry_ ? "-map needs a file name"
                           : "-map draws what a dry run would add: use it with -n");
    }
    if ((opt_->set & OPT_MAP) && dry_) {
        // Checked before the walk, so that a long dry run cannot end in vain.
        const int fd = ::open(opt_->map_path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            return refuse(std::string("cannot write map ") + opt_->map_path + ": " +
                          std::strerror(errno));
        }
        ::close(fd);
    }
    if (backup_ && !backup_->open(error)) {
        return refuse(error);
    }
    if (record_ && !record_->open(false, (opt_->set & OPT_ADOPT_RECORD) != 0, durability, error)) {
        return refuse(error);
    }
    if (lock_) {
        // The lock is taken before anything is written: a world in use is
        // the game's until we own it.
        durable_policy d = durability;
        d.sync_file = 1;
        d.sync_folder = 1;
        if (!lock_->take(d, error)) {
            return refuse("cannot take the session lock " + lock_->path() + ": " + error);
        }
        if (record_ &&
            !record_->open(true, (opt_->set & OPT_ADOPT_RECORD) != 0, durability, error)) {
            return refuse(error);
        }
    }
    return true;
}

void living_world::configure(pipeline_config &config) {
    config.dry = dry_ != nullptr;
    if (lock_ && !config.dry) {
        config.before_commit = [this](const world_unit &unit, const std::vector<size_t> &chunks,
                                      bool grouped) {
            return before_commit(unit, chunks, grouped);
        };
        // A group's record lines reach the disk in one sync, before any of
        // its files is renamed.
        config.before_group_renames = [this] { return !record_ || record_->sync(); };
        // Immediately before every rename: nothing takes its place once
        // another program opened the world.
        config.before_rename = [this] { return lock_held(); };
    }
}

bool living_world::recorded(const world_unit &unit, size_t i) {
    if (record_ && record_->has(unit.meta(i).x, unit.meta(i).z)) {
        ++skipped_;
        return true;
    }
    return false;
}

void living_world::processed(const world_unit &unit, size_t i,
                             const std::vector<placement_count> &placed) {
    if (dry_) {
        placed_[{&unit, i}] = placed;
    }
}

void living_world::retired(const world_unit &unit, size_t i, chunk_status status) {
    if (!dry_ || status == chunk_status::unfinished) {
        return; // an unfinished chunk is neither counted nor a failure
    }
    if (status == chunk_status::unchanged) {
        status = chunk_status::ok;
    }
    // A chunk counts once it is through: encoding may still refuse it.
    const auto it = placed_.find({&unit, i});
    if (status == chunk_status::ok && it != placed_.end()) {
        dry_->add(unit.meta(i), it->second);
    } else {
        dry_->failed(unit.meta(i), unit.describe(i));
    }
    if (it != placed_.end()) {
        placed_.erase(it);
    }
}

void living_world::note(const world_unit &unit, std::string text) {
    std::lock_guard<std::mutex> lock(m_);
    notes_[&unit] = std::move(text);
}

bool living_world::lock_held() {
    if (lock_->still_ours()) {
        return true;
    }
    std::lock_guard<std::mutex> lock(m_);
    lock_changed_ = true;
    return false;
}

// On a disk worker, just before the unit's commit: the lock first (a
// world taken over is left alone), then the backup, then the record. The
// lock is read once more immediately before the rename itself.
commit_gate living_world::before_commit(const world_unit &unit, const std::vector<size_t> &chunks,
                                        bool grouped) {
    if (!lock_held()) {
        return commit_gate::stop;
    }
    std::string kept;
    if (backup_) {
        std::string error;
        switch (backup_->keep(unit.path(), kept, error)) {
        case backup_folder::result::kept:
            break;
        case backup_folder::result::exists:
            note(unit, shown(unit.path()) + ": the backup folder " + shown(backup_->dir()) +
                           " already holds a file for it - left unchanged");
            return commit_gate::refuse;
        case backup_folder::result::failed:
            note(unit, "cannot back up " + shown(unit.path()) + ": " + shown(error) +
                           " - left unchanged");
            return commit_gate::refuse;
        }
    }
    coords cs;
    for (size_t i : chunks) {
        cs.emplace_back(unit.meta(i).x, unit.meta(i).z);
    }
    if (record_ && !record_->add(cs, !grouped)) {
        note(unit, "cannot write the record of " + shown(unit.path()) + ": " +
                       std::strerror(errno) + " - left unchanged");
        if (!kept.empty()) {
            ::unlink(kept.c_str());
        }
        return commit_gate::refuse;
    }
    std::lock_guard<std::mutex> lock(m_);
    if (record_) {
        recorded_[&unit] = std::move(cs);
    }
    if (!kept.empty()) {
        kept_[&unit] = std::move(kept);
    }
    return commit_gate::go;
}

bool living_world::unit_done(const world_unit &unit, chunk_status status) {
    std::string text;
    coords cs;
    std::string kept;
    bool stopped = false;
    {
        std::lock_guard<std::mutex> lock(m_);
        text = notes_[&unit];
        notes_.erase(&unit);
        cs = std::move(recorded_[&unit]);
        recorded_.erase(&unit);
        kept = std::move(kept_[&unit]);
        kept_.erase(&unit);
        stopped = lock_changed_;
    }
    if (status != chunk_status::ok) {
        // Not committed after all: the record must not claim its ore, and
        // the backup would only hold what the world still holds.
        if (!cs.empty() && !record_->retract(cs)) {
            out_printf("cannot write to the record of %s - its chunks are recorded without "
                       "their ore\n",
                       shown(unit.path()).c_str());
        }
        if (!kept.empty()) {
            ::unlink(kept.c_str());
        }
    }
    if (!text.empty()) {
        out_printf("%s\n", text.c_str());
        return true;
    }
    return stopped && status != chunk_status::ok; // said once at the end
}

bool living_world::finish() {
    bool ok = true;
    if (lock_changed_) {
        out_printf("%s changed during the run: another program opened the world. lodecast "
                   "stopped; the files it rewrote before keep their ore, the rest are "
                   "unchanged\n",
                   shown(lock_->path()).c_str());
        ok = false;
    }
    if (record_) {
        out_printf("Skipped %" PRIu64 " chunks that already have this ore\n", skipped_);
    }
    if (dry_) {
        out_write(dry_->report(world_));
        if (opt_->set & OPT_MAP) {
            const std::string svg = dry_->map(world_);
            const int fd = ::open(opt_->map_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            bool written =
                fd >= 0 && ::write(fd, svg.data(), svg.size()) == static_cast<ssize_t>(svg.size());
            written = fd >= 0 && ::close(fd) == 0 && written;
            if (!written) {
                out_printf("cannot write map %s\n", shown(opt_->map_path).c_str());
                ok = false;
            }
        }
    }
    return ok;
}
