#include "lodecast/pipeline/chunk_pipeline.h"
#include "durable/durable.h"

#include "lodecast/pipeline/output.h"

#include <condition_variable>
#include <deque>
#include <set>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr int disk_workers_per_thread = 2;

// Where a chunk stands. Only the thread that owns the stage touches the
// job's document and bytes: a worker while loading or encoding, the walk's
// thread while processing; hand-overs happen under the pool's lock.
enum class stage { loading, loaded, encoding, ready, done };

enum class task_kind { load, encode, commit, flush };

} // namespace

struct chunk_pipeline::unit_job {
    std::unique_ptr<world_unit> unit;
    size_t total = 0; // chunks the run selected
    // Guards jobs and next_accept: chunks are accepted in their order by
    // whichever thread finishes the one whose turn it is.
    std::mutex m;
    std::vector<job *> jobs;
    size_t next_accept = 0;
    std::vector<size_t> accepted_ok; // chunks whose new content the unit holds
    bool committed = false;          // under the pool's lock
    chunk_status commit_status = chunk_status::ok;
};

struct chunk_pipeline::job {
    unit_job *unit = nullptr;
    size_t index = 0; // the chunk's index in its unit
    bool last = false;
    std::string messages;
    stage at = stage::loading;
    chunk_status status = chunk_status::ok;
    nbt::document doc;
    nbt::buffer bytes;
    bool ready = false; // under unit->m: finished, may be accepted
};

struct chunk_pipeline::task {
    task_kind kind;
    void *what; // job or unit_job
};

// The workers, the queues between them and the window of chunks in flight.
// Without workers every task runs in place on the walk's thread.
struct chunk_pipeline::pool {
    explicit pool(chunk_pipeline *p) : owner(p) {
        inline_io.left_unfinished = p->config_.left_unfinished;
    }

    ~pool() { stop_workers(); }

    // Lets every worker finish its task, then ends and joins it.
    void stop_workers() {
        {
            std::lock_guard<std::mutex> lock(m);
            stopping = true;
        }
        work_cv.notify_all();
        disk_cv.notify_all();
        for (std::thread &t : workers) {
            t.join();
        }
        workers.clear();
        stopping = false;
    }

    // The walk's thread is one of the compute threads: it takes compute
    // tasks whenever the ordered stage has nothing for it, so a run on n
    // threads keeps n busy without a thread waking for every chunk.
    void start(int threads) {
        const int count = (1 + disk_workers_per_thread) * threads;
        int started[2] = {0, 0};
        for (int i = 1; i < count; ++i) {
            const bool disk = i % (1 + disk_workers_per_thread) != 0;
            try {
                workers.emplace_back([this, disk] { work(disk); });
                ++started[disk ? 1 : 0];
            } catch (const std::system_error &) {
                break; // run with the workers that did start
            }
        }
        if (started[0] == 0 || started[1] == 0) {
            stop_workers(); // needs one of each: run in place
            return;
        }
        cap = 2 * static_cast<size_t>(count) + 2;
    }

    void work(bool disk) {
        chunk_io io;
        io.left_unfinished = owner->config_.left_unfinished;
        std::deque<task> &queue = disk ? disk_tasks : tasks;
        std::condition_variable &cv = disk ? disk_cv : work_cv;
        for (;;) {
            task t;
            {
                std::unique_lock<std::mutex> lock(m);
                cv.wait(lock, [&] { return stopping || !queue.empty(); });
                if (queue.empty()) {
                    return;
                }
                t = queue.front();
                queue.pop_front();
            }
            owner->run_task(t, io);
        }
    }

    void schedule(task t) {
        if (workers.empty()) {
            owner->run_task(t, inline_io);
            return;
        }
        const bool disk = t.kind == task_kind::commit || t.kind == task_kind::flush;
        {
            std::lock_guard<std::mutex> lock(m);
            (disk ? disk_tasks : tasks).push_back(t);
        }
        (disk ? disk_cv : work_cv).notify_one();
    }

    // Sets a job's stage under the lock and wakes the walk's thread.
    void set_stage(job *j, stage s) {
        {
            std::lock_guard<std::mutex> lock(m);
            j->at = s;
        }
        done_cv.notify_one();
    }

    chunk_pipeline *const owner;
    std::vector<std::thread> workers;
    chunk_io inline_io;
    std::mutex m;
    std::condition_variable work_cv; // a compute task was queued, or stopping
    std::condition_variable disk_cv; // a disk task was queued, or stopping
    std::condition_variable done_cv; // a chunk was loaded or finished
    std::deque<task> tasks;
    std::deque<task> disk_tasks;
    bool stopping = false;

    // Chunks in walk order, from the oldest not yet retired; the first
    // next_process of them have been processed. Units live until their
    // last chunk retires.
    std::deque<std::unique_ptr<job>> window;
    std::deque<std::unique_ptr<unit_job>> units;
    size_t next_process = 0;
    size_t cap = 1;      // chunks in the window
    size_t work_cap = 1; // of them, chunks still holding a tree or bytes

    // Whether the walk may hand over one more chunk (under m).
    bool room() const {
        size_t working = 0;
        for (const auto &j : window) {
            working += j->at != stage::done ? 1 : 0;
        }
        return window.size() < cap && working < work_cap;
    }
};

chunk_pipeline::chunk_pipeline(chunk_handler &handler, pipeline_config config)
    : handler_(handler), config_(std::move(config)), pool_(std::make_unique<pool>(this)) {
    if (config_.threads >= 2) {
        pool_->start(config_.threads);
    }
    // A group fills with chunks that have finished all but their rename;
    // those hold no tree and no bytes, so only the others are bounded by
    // what the workers can keep busy with.
    pool_->work_cap = pool_->cap;
    pool_->cap += config_.group;
}

chunk_pipeline::~chunk_pipeline() {
    finish();
}

void chunk_pipeline::set_problem_handler(
    std::function<bool(walk_problem, const std::string &, int, bool)> handler) {
    problem_handler_ = std::move(handler);
}

bool chunk_pipeline::run(world_format &format) {
    for (;;) {
        if (config_.interrupted && config_.interrupted()) {
            return false;
        }
        std::unique_ptr<world_unit> unit;
        switch (format.next(unit, *this)) {
        case world_format::step::unit:
            hand_over(std::move(unit));
            if (stopped_) {
                return false;
            }
            break;
        case world_format::step::end:
            return true;
        case world_format::step::stopped:
            return false;
        }
    }
}

void chunk_pipeline::hand_over(std::unique_ptr<world_unit> unit) {
    std::vector<size_t> selected;
    for (size_t i = 0; i < unit->chunk_count(); ++i) {
        if (handler_.select(*unit, i)) {
            selected.push_back(i);
        }
    }
    if (selected.empty()) {
        return; // nothing of it takes part: it stays as it is
    }
    if (config_.before_rename) {
        unit->set_rename_check([this] {
            if (!stopped_ && !config_.before_rename()) {
                stopped_ = true;
            }
            return !stopped_;
        });
    }
    auto owned = std::make_unique<unit_job>();
    unit_job *u = owned.get();
    u->unit = std::move(unit);
    u->total = selected.size();
    {
        std::lock_guard<std::mutex> lock(pool_->m);
        pool_->units.push_back(std::move(owned));
    }
    for (size_t k = 0; k < selected.size(); ++k) {
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(pool_->m);
                if (pool_->room()) {
                    break;
                }
            }
            pump(true, true);
        }
        auto j = std::make_unique<job>();
        j->unit = u;
        j->index = selected[k];
        j->last = k + 1 == selected.size();
        {
            output_capture capture(&j->messages);
            handler_.begin(*u->unit, j->index);
        }
        job *raw = j.get();
        {
            std::lock_guard<std::mutex> lock(u->m);
            u->jobs.push_back(raw);
        }
        {
            std::lock_guard<std::mutex> lock(pool_->m);
            pool_->window.push_back(std::move(j));
        }
        pool_->schedule({task_kind::load, raw});
        pump(false);
    }
}

void chunk_pipeline::run_task(const task &t, chunk_io &io) {
    switch (t.kind) {
    case task_kind::load: {
        job *j = static_cast<job *>(t.what);
        j->status = j->unit->unit->load(j->index, j->doc, io);
        pool_->set_stage(j, stage::loaded);
        break;
    }
    case task_kind::encode: {
        job *j = static_cast<job *>(t.what);
        j->status = j->unit->unit->encode(j->index, j->doc.get(), j->bytes, io);
        j->doc.reset(); // the tree is not needed any more
        if (j->status != chunk_status::ok) {
            j->bytes.clear();
        }
        chunk_finished(j);
        break;
    }
    case task_kind::commit:
        commit(static_cast<unit_job *>(t.what));
        break;
    case task_kind::flush:
        flush_group();
        break;
    }
}

// A chunk's own work is over: it is accepted into its unit once every
// chunk before it in the unit is, and the unit is committed after its last.
void chunk_pipeline::chunk_finished(job *j) {
    unit_job *u = j->unit;
    std::vector<job *> accepted;
    bool complete = false;
    {
        std::lock_guard<std::mutex> lock(u->m);
        j->ready = true;
        while (u->next_accept < u->jobs.size() && u->jobs[u->next_accept]->ready) {
            job *k = u->jobs[u->next_accept++];
            const chunk_status st =
                u->unit->accept(k->index, config_.dry ? nbt::buffer() : std::move(k->bytes));
            if (k->status == chunk_status::ok) {
                k->status = st;
            }
            if (k->status == chunk_status::ok) {
                u->accepted_ok.push_back(k->index);
            }
            accepted.push_back(k);
        }
        complete = !accepted.empty() && u->next_accept == u->total;
    }
    const bool commit_now = complete && u->unit->changed();
    {
        std::lock_guard<std::mutex> lock(pool_->m);
        for (job *k : accepted) {
            k->at = stage::done;
        }
        if (complete && !commit_now) {
            u->committed = true;
        }
    }
    pool_->done_cv.notify_one();
    if (commit_now) {
        pool_->schedule({task_kind::commit, u});
    }
}

void chunk_pipeline::commit(unit_job *u) {
    if (config_.group == 0 || !u->unit->groupable()) {
        unit_committed(u, gate(u, false) == commit_gate::go ? u->unit->commit(config_.durability)
                                                            : chunk_status::write_failed);
        return;
    }
    const chunk_status st = u->unit->stage();
    if (st != chunk_status::ok) {
        unit_committed(u, st);
        return;
    }
    bool full;
    {
        std::lock_guard<std::mutex> lock(group_m_);
        group_.push_back(u);
        full = group_.size() >= config_.group;
    }
    if (full) {
        flush_group();
    }
    // The walk's thread may be waiting for this group: it flushes it. It
    // looks at the group and goes to sleep under the pool's lock, so taking
    // that lock first keeps the wake-up from falling between the two.
    { std::lock_guard<std::mutex> lock(pool_->m); }
    pool_->done_cv.notify_one();
}

// The group's renames come only after all of its files are on disk: one
// sync of the file system, or a sync of each file where that is refused.
void chunk_pipeline::flush_group() {
    std::vector<unit_job *> units;
    {
        std::lock_guard<std::mutex> lock(group_m_);
        units.swap(group_);
        flush_queued_ = false;
    }
    if (units.empty()) {
        return;
    }
    const bool synced = durable_sync_folder(units.front()->unit->folder().c_str(), 1,
                                            &config_.durability) == DURABLE_OK;
    durable_policy in_place = config_.durability;
    in_place.sync_file = 0; // done above
    in_place.sync_folder = 0;
    // Every unit passes the run's checks first; what they write is made
    // durable once for the group; only then is anything renamed.
    std::vector<chunk_status> status(units.size());
    for (size_t k = 0; k < units.size(); ++k) {
        status[k] = synced ? chunk_status::ok : units[k]->unit->sync_staged(config_.durability);
        if (status[k] == chunk_status::ok && gate(units[k], true) != commit_gate::go) {
            status[k] = chunk_status::write_failed;
        }
    }
    const bool renames = !config_.before_group_renames || config_.before_group_renames();
    for (size_t k = 0; k < units.size(); ++k) {
        if (status[k] == chunk_status::ok) {
            status[k] = renames ? units[k]->unit->publish(in_place) : chunk_status::write_failed;
        }
        unit_committed(units[k], status[k]);
    }
}

// The run's own checks just before a unit's new content takes its place
// (the session lock, backups, the record): they may refuse the unit or stop
// every commit after it.
commit_gate chunk_pipeline::gate(unit_job *u, bool grouped) {
    commit_gate gate = stopped_ ? commit_gate::stop : commit_gate::go;
    if (gate == commit_gate::go && config_.before_commit) {
        // Every chunk is accepted by now; the unit's earlier jobs may be gone.
        gate = config_.before_commit(*u->unit, u->accepted_ok, grouped);
        if (gate == commit_gate::stop) {
            stopped_ = true;
        }
    }
    return gate;
}

void chunk_pipeline::unit_committed(unit_job *u, chunk_status st) {
    if (st == chunk_status::ok) {
        ++written_units_;
        std::lock_guard<std::mutex> lock(written_m_);
        written_any_ = true;
        written_folders_.emplace(u->unit->folder(), u->unit->folder_dev());
    }
    {
        std::lock_guard<std::mutex> lock(pool_->m);
        u->commit_status = st;
        u->committed = true;
    }
    pool_->done_cv.notify_one();
}

void chunk_pipeline::process(job *j) {
    std::string *target = &j->messages;
    if (config_.stream_process) {
        // Every chunk before this one has retired: its lines go straight out.
        out_write(j->messages);
        j->messages.clear();
        target = nullptr;
    }
    chunk_status status = j->status;
    if (status == chunk_status::ok) {
        output_capture capture(target);
        status = handler_.process(j->doc.get(), *j->unit->unit, j->index);
        if (status == chunk_status::unchanged && j->unit->unit->rewrites_unchanged()) {
            status = chunk_status::ok;
        }
    }
    j->status = status;
    if (status == chunk_status::ok) {
        pool_->set_stage(j, stage::encoding);
        pool_->schedule({task_kind::encode, j});
        return;
    }
    j->doc.reset();
    chunk_finished(j);
}

void chunk_pipeline::pump(bool wait, bool for_room) {
    pool &p = *pool_;
    std::unique_lock<std::mutex> lock(p.m);
    for (;;) {
        bool progress = false;
        // The ordered stage, strictly in walk order; a streaming run takes a
        // chunk only once everything before it has retired.
        while (p.next_process < p.window.size() && p.window[p.next_process]->at == stage::loaded &&
               (!config_.stream_process || p.next_process == 0)) {
            job *j = p.window[p.next_process].get();
            ++p.next_process;
            lock.unlock();
            process(j);
            lock.lock();
            progress = true;
        }
        // Retire finished chunks, oldest first; a unit's last chunk waits
        // for the unit's commit.
        while (!p.window.empty() && p.window.front()->at == stage::done &&
               (!p.window.front()->last || p.window.front()->unit->committed)) {
            std::unique_ptr<job> j = std::move(p.window.front());
            p.window.pop_front();
            --p.next_process;
            lock.unlock();
            out_write(j->messages);
            unit_job *u = j->unit;
            const bool last = j->last;
            handler_.retire(*u->unit, j->index, j->status);
            if (last) {
                handler_.unit_done(*u->unit, u->commit_status);
            }
            j.reset();
            lock.lock();
            if (last) {
                p.units.pop_front(); // units retire in order: this is u
            }
            progress = true;
        }
        if (progress || !wait || (for_room && p.room())) {
            return;
        }
        // Nothing can move on: a group waiting to fill is flushed now.
        bool flush = false;
        {
            std::lock_guard<std::mutex> group_lock(group_m_);
            flush = !group_.empty() && !flush_queued_;
            flush_queued_ = flush_queued_ || flush;
        }
        if (flush) {
            lock.unlock();
            p.schedule({task_kind::flush, nullptr});
            lock.lock();
            continue;
        }
        if (!p.tasks.empty()) {
            const task t = p.tasks.front();
            p.tasks.pop_front();
            lock.unlock();
            run_task(t, p.inline_io);
            lock.lock();
            continue;
        }
        p.done_cv.wait(lock);
    }
}

void chunk_pipeline::drain() {
    while (!pool_->window.empty()) {
        pump(true);
    }
}

void chunk_pipeline::finish() {
    drain();
    sync_written();
}

void chunk_pipeline::settle_folder(dev_t dev, ino_t ino) {
    bool pending = false;
    {
        std::lock_guard<std::mutex> lock(pool_->m);
        for (const auto &u : pool_->units) {
            pending = pending || (!u->committed && u->unit->folder_dev() == dev &&
                                  u->unit->folder_ino() == ino);
        }
    }
    if (pending) {
        drain();
    }
}

bool chunk_pipeline::settle_file(dev_t dev, ino_t ino) {
    bool pending = false;
    {
        std::lock_guard<std::mutex> lock(pool_->m);
        for (const auto &u : pool_->units) {
            pending = pending || (!u->committed && u->unit->dev() == dev && u->unit->ino() == ino);
        }
    }
    if (pending) {
        drain();
    }
    return pending;
}

bool chunk_pipeline::problem(walk_problem what, const std::string &path, int err,
                             bool chunk_entry) {
    if (problem_handler_) {
        return problem_handler_(what, path, err, chunk_entry);
    }
    finish(); // the chunks before the problem come first
    out_printf(what == walk_problem::stat_failed ? "Stat failed on %s\n"
                                                 : "Could not open directory %s\n",
               shown(path).c_str());
    return true;
}

void chunk_pipeline::skipped(const std::string &path, const std::string &why) {
    drain(); // in walk order, after the chunks before it
    out_printf("%s: %s - left alone\n", shown(path).c_str(), why.c_str());
}

void chunk_pipeline::sync_written() {
    std::map<std::string, dev_t> folders;
    {
        std::lock_guard<std::mutex> lock(written_m_);
        if (!written_any_) {
            return;
        }
        written_any_ = false;
        folders.swap(written_folders_);
    }
    // One sync of each file system written to; where that is refused,
    // every folder written into on it gets a sync of its own.
    std::set<dev_t> synced;
    std::set<dev_t> refused;
    const auto sync_fs_of = [&](const std::string &dir, dev_t dev) {
        const bool ok = durable_sync_folder(dir.c_str(), 1, &config_.durability) == DURABLE_OK;
        (ok ? synced : refused).insert(dev);
        return ok;
    };
    if (!config_.world.empty()) {
        struct stat st {};
        if (::stat(config_.world.c_str(), &st) == 0) {
            (void)sync_fs_of(config_.world, st.st_dev);
        }
    }
    for (const auto &[dir, dev] : folders) {
        if (synced.count(dev) != 0) {
            continue;
        }
        if (refused.count(dev) != 0 || !sync_fs_of(dir, dev)) {
            (void)durable_sync_folder(dir.c_str(), 0, &config_.durability);
        }
    }
}
