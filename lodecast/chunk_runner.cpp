#include "lodecast/chunk_runner.h"

#include "lodecast/chunk.h"
#include "lodecast/chunk_update.h"
#include "lodecast/output.h"
#include "nbt/nbt_io.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int disk_workers_per_thread = 2;

// Where a chunk stands. Only the thread that owns the stage touches the
// job's tree and buffers: a worker while loading, encoding or syncing, the
// walk's thread while processing; the hand-over happens under the pool's
// lock.
enum class stage { loading, loaded, encoding, syncing, done };

} // namespace

struct chunk_runner::job {
    std::string file;
    std::string messages;
    dev_t dev;
    ino_t ino;
    dev_t dir_dev;
    ino_t dir_ino;
    std::string dir_path; // the folder it was found in
    stage at = stage::loading;
    chunk_status loaded = chunk_status::ok;
    chunk_status stored = chunk_status::ok;
    nbt_file_ptr nf;
    nbt::buffer bytes; // the file's new content
};

namespace {

std::atomic<unsigned long> fs_sync_count{0};

// Syncs the file system holding dir; st receives dir's status. true on
// success.
bool sync_file_system(const std::string &dir, struct stat *st) {
    fs_sync_count.fetch_add(1, std::memory_order_relaxed);
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::fstat(fd, st) == 0 && ::syncfs(fd) == 0;
    ::close(fd);
    return ok;
}

void print_failure(chunk_status status, const std::string &file, const options *opt) {
    report_chunk_status(status, file.c_str());
    if (opt->set & OPT_VERBOSE) {
        out_printf("Failed to update chunk.  Skipping...\n");
    }
}

} // namespace

// Two kinds of workers: compute workers load and encode chunks (reading and
// decompressing, compressing); disk workers write the encoded files and
// wait for them to reach the disk, which takes a compute worker's time of
// no core.
struct chunk_runner::pool {
    pool(chunk_runner *r, size_t window_size) : runner(r), cap(window_size) {}

    ~pool() {
        {
            std::lock_guard<std::mutex> lock(m);
            stopping = true;
        }
        work_cv.notify_all();
        disk_cv.notify_all();
        for (std::thread &t : workers) {
            t.join();
        }
    }

    void work(bool disk) {
        std::deque<job *> &queue = disk ? disk_tasks : tasks;
        std::condition_variable &cv = disk ? disk_cv : work_cv;
        for (;;) {
            job *j;
            {
                std::unique_lock<std::mutex> lock(m);
                cv.wait(lock, [&] { return stopping || !queue.empty(); });
                if (queue.empty()) {
                    return;
                }
                j = queue.front();
                queue.pop_front();
            }
            // The stage is only changed by its owner: this worker now.
            switch (j->at) {
            case stage::loading:
                j->loaded = load_chunk(j->file.c_str(), &j->nf);
                advance(j, stage::loaded);
                break;
            case stage::encoding:
                j->stored = encode_chunk(j->nf.get(), j->bytes);
                j->nf.reset(); // the tree is not needed any more
                if (j->stored == chunk_status::ok) {
                    advance(j, stage::syncing);
                } else {
                    complete(j, false);
                }
                break;
            case stage::syncing:
                j->stored = write_chunk(j->file.c_str(), j->bytes);
                j->bytes.release();
                complete(j, j->stored == chunk_status::ok);
                break;
            default:
                break;
            }
        }
    }

    // Moves j to its next stage: queues it for the workers of that stage,
    // or tells the walk's thread that it is ready.
    void advance(job *j, stage next) {
        {
            std::lock_guard<std::mutex> lock(m);
            j->at = next;
            if (next == stage::loading || next == stage::encoding) {
                tasks.push_back(j);
            } else if (next == stage::syncing) {
                disk_tasks.push_back(j);
            }
        }
        if (next == stage::loading || next == stage::encoding) {
            work_cv.notify_one();
        } else if (next == stage::syncing) {
            disk_cv.notify_one();
        } else {
            done_cv.notify_one();
        }
    }

    // j is finished (written: its file was replaced).
    void complete(job *j, bool written) {
        if (written) {
            runner->written(j->dir_path, j->dir_dev);
        }
        advance(j, stage::done);
    }

    // true when a chunk still on its way has the identity (dev, ino), as
    // file (dir false) or as the folder it lies in (dir true).
    bool pending(dev_t dev, ino_t ino, bool dir) {
        std::lock_guard<std::mutex> lock(m);
        for (const auto &j : window) {
            if (j->at != stage::done &&
                (dir ? j->dir_dev == dev && j->dir_ino == ino : j->dev == dev && j->ino == ino)) {
                return true;
            }
        }
        return false;
    }

    chunk_runner *const runner;
    std::mutex m;
    std::condition_variable work_cv; // a compute task was queued, or stopping
    std::condition_variable disk_cv; // a disk task was queued, or stopping
    std::condition_variable done_cv; // a chunk was loaded or finished
    std::deque<job *> tasks;
    std::deque<job *> disk_tasks;
    bool stopping = false;
    std::vector<std::thread> workers;

    // Chunks in walk order, from the oldest still unprinted; the first
    // next_process of them have been processed.
    std::deque<std::unique_ptr<job>> window;
    size_t next_process = 0;
    size_t cap;
    dev_t dir_dev = 0;
    ino_t dir_ino = 0;
};

unsigned long file_system_syncs_attempted() {
    return fs_sync_count.load(std::memory_order_relaxed);
}

chunk_runner::chunk_runner(int16_t ore_id, const options *opt, int threads, std::string world)
    : ore_id_(ore_id), opt_(opt), world_(std::move(world)) {
    // One sync of the file system at the end instead of one per chunk (chunk
    // writes sync only the file): a folder sync waits for the disk, and in
    // the usual layout most folders hold a single chunk.
    if (threads < 2) {
        return;
    }
    // Each compute worker has disk workers beside it: a sync keeps a disk
    // worker waiting for about as long as a compute worker needs for a
    // chunk, and the disk serves several syncs at once. The window holds
    // enough chunks to keep them all busy while the walk's thread works.
    const int workers = (1 + disk_workers_per_thread) * threads;
    pool_ = std::make_unique<pool>(this, 2 * static_cast<size_t>(workers) + 2);
    int started[2] = {0, 0};
    for (int i = 0; i < workers; ++i) {
        const bool disk = i % (1 + disk_workers_per_thread) != 0;
        try {
            pool_->workers.emplace_back([p = pool_.get(), disk] { p->work(disk); });
            ++started[disk ? 1 : 0];
        } catch (const std::system_error &) {
            break; // run with the workers that did start
        }
    }
    if (started[0] == 0 || started[1] == 0) {
        pool_.reset(); // needs one of each; stops any that did start
    }
}

chunk_runner::~chunk_runner() {
    finish();
}

void chunk_runner::chunk(const std::string &file, const std::string &rel_path,
                         const struct stat &st) {
    if (!pool_) {
        if (opt_->set & OPT_VERBOSE) {
            out_printf("Updating chunk %s...\n", rel_path.c_str());
        }
        if (update_chunk(file.c_str(), ore_id_, opt_) == 0) {
            written(folder_path_, folder_dev_);
        } else if (opt_->set & OPT_VERBOSE) {
            out_printf("Failed to update chunk.  Skipping...\n");
        }
        return;
    }
    // The same file reached a second time (through a linked folder) must be
    // read after the first update has written it.
    if (pool_->pending(st.st_dev, st.st_ino, false)) {
        drain();
    }
    while (pool_->window.size() >= pool_->cap) {
        pump(true);
    }
    auto j = std::make_unique<job>();
    j->file = file;
    j->dev = st.st_dev;
    j->ino = st.st_ino;
    j->dir_dev = pool_->dir_dev;
    j->dir_ino = pool_->dir_ino;
    j->dir_path = folder_path_;
    if (opt_->set & OPT_VERBOSE) {
        output_capture capture(&j->messages);
        out_printf("Updating chunk %s...\n", rel_path.c_str());
    }
    job *raw = j.get();
    {
        std::lock_guard<std::mutex> lock(pool_->m);
        pool_->window.push_back(std::move(j));
    }
    pool_->advance(raw, stage::loading);
    pump(false);
}

void chunk_runner::entering_directory(const std::string &path, const struct stat &st) {
    folder_path_ = path;
    folder_dev_ = st.st_dev;
    if (!pool_) {
        return;
    }
    if (pool_->pending(st.st_dev, st.st_ino, true)) {
        drain();
    }
    pool_->dir_dev = st.st_dev;
    pool_->dir_ino = st.st_ino;
}

void chunk_runner::finish() {
    drain();
    sync_written();
}

void chunk_runner::written(const std::string &dir, dev_t dev) {
    std::lock_guard<std::mutex> lock(written_m_);
    written_any_ = true;
    if (!dir.empty()) {
        written_folders_.emplace(dir, dev);
    }
}

void chunk_runner::sync_written() {
    std::map<std::string, dev_t> folders;
    {
        std::lock_guard<std::mutex> lock(written_m_);
        if (!written_any_) {
            return;
        }
        written_any_ = false;
        folders.swap(written_folders_);
    }
    // Devices whose file system was synced, and those where that failed
    // and each folder gets its own sync.
    std::set<dev_t> synced;
    std::set<dev_t> refused;
    const auto sync_fs_of = [&](const std::string &dir, dev_t known) {
        struct stat st {};
        const bool ok = sync_file_system(dir, &st);
        (ok ? synced : refused).insert(ok ? st.st_dev : known);
        return ok;
    };
    if (!world_.empty()) {
        struct stat st {};
        if (::stat(world_.c_str(), &st) == 0) {
            (void)sync_fs_of(world_, st.st_dev);
        }
    }
    for (const auto &[dir, dev] : folders) {
        if (synced.count(dev) != 0) {
            continue;
        }
        if (refused.count(dev) != 0 || !sync_fs_of(dir, dev)) {
            (void)nbt_sync_folder(dir.c_str(), 0, nullptr);
        }
    }
}

void chunk_runner::drain() {
    if (!pool_) {
        return;
    }
    while (!pool_->window.empty()) {
        pump(true);
    }
}

void chunk_runner::pump(bool wait) {
    pool &p = *pool_;
    std::unique_lock<std::mutex> lock(p.m);
    for (;;) {
        bool progress = false;
        // The ordered stage: validation and veins, strictly in walk order.
        while (p.next_process < p.window.size() && p.window[p.next_process]->at == stage::loaded) {
            job *j = p.window[p.next_process].get();
            ++p.next_process;
            lock.unlock();
            process(j);
            lock.lock();
            progress = true;
        }
        // Print finished chunks, oldest first, as soon as nothing before
        // them is pending.
        while (!p.window.empty() && p.window.front()->at == stage::done) {
            std::unique_ptr<job> j = std::move(p.window.front());
            p.window.pop_front();
            --p.next_process;
            lock.unlock();
            out_write(j->messages);
            if (j->stored != chunk_status::ok) {
                print_failure(j->stored, j->file, opt_);
            }
            j.reset();
            lock.lock();
            progress = true;
        }
        if (progress || !wait) {
            return;
        }
        p.done_cv.wait(lock);
    }
}

void chunk_runner::process(job *j) {
    output_capture capture(&j->messages);
    chunk_status status = j->loaded;
    if (status == chunk_status::ok) {
        status = process_chunk(j->nf.get(), ore_id_, opt_);
    }
    if (status == chunk_status::ok) {
        pool_->advance(j, stage::encoding);
        return;
    }
    j->nf.reset();
    print_failure(status, j->file, opt_);
    pool_->complete(j, false);
}
