#include "lodecast/formats/chunk_files.h"
#include "durable/durable.h"

#include "lodecast/formats/chunk_document.h"
#include "lodecast/formats/chunk_name.h"
#include "lodecast/storage/chunk_update.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool is_directory(const struct stat &st) {
    return S_ISDIR(st.st_mode);
}
bool is_regular(const struct stat &st) {
    return S_ISREG(st.st_mode);
}

// The status of path, following links. 1 when examined; 0 when the entry
// has gone since it was listed (nothing by that name any more: a temporary
// file of another program renamed away); -1 when it cannot be examined.
int examine(const std::string &path, struct stat &st, int &err) {
    if (::stat(path.c_str(), &st) == 0) {
        return 1;
    }
    err = errno;
    struct stat link {};
    if (err == ENOENT && ::lstat(path.c_str(), &link) != 0 && errno == ENOENT) {
        return 0;
    }
    return -1;
}

std::string parent_of(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// One chunk file.
class chunk_file_unit : public world_unit {
  public:
    chunk_file_unit(std::string path, std::string rel, const struct stat &st, std::string folder,
                    const struct stat &folder_st)
        : path_(std::move(path)), rel_(std::move(rel)), folder_(std::move(folder)), st_(st),
          folder_dev_(folder_st.st_dev), folder_ino_(folder_st.st_ino) {
        chunk_coords cc{};
        const std::string name = path_.substr(path_.find_last_of('/') + 1);
        chunk_to_coords(name.c_str(), &cc);
        meta_.x = cc.x;
        meta_.z = cc.y;
        meta_.mtime = static_cast<uint32_t>(st.st_mtime);
        follow_link();
    }

    const std::string &path() const override { return path_; }
    dev_t dev() const override { return st_.st_dev; }
    ino_t ino() const override { return st_.st_ino; }
    const std::string &folder() const override { return folder_; }
    dev_t folder_dev() const override { return folder_dev_; }
    ino_t folder_ino() const override { return folder_ino_; }
    size_t chunk_count() const override { return 1; }
    const chunk_meta &meta(size_t) const override { return meta_; }
    std::string label(size_t) const override { return rel_; }
    std::string describe(size_t) const override { return path_; }
    std::string why(size_t) const override {
        return open_errno_ != 0 ? std::strerror(open_errno_) : std::string();
    }
    void report(size_t, chunk_status status) const override {
        report_chunk_status(status, path_.c_str(),
                            write_errno_ != 0 ? std::strerror(write_errno_) : nullptr);
    }

    chunk_status load(size_t, nbt::document &out, chunk_io &io) const override {
        // Never blocks on a special file put in the chunk's place, and reads
        // only the file the walk saw.
        const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        open_errno_ = fd < 0 ? errno : 0;
        if (fd < 0) {
            return chunk_status::parse_failed;
        }
        struct stat st {};
        chunk_status status = chunk_status::ok;
        if (::fstat(fd, &st) != 0 || !is_regular(st) || st.st_dev != st_.st_dev ||
            st.st_ino != st_.st_ino) {
            open_errno_ = S_ISDIR(st.st_mode) ? EISDIR : 0; // opens, but is no file
            status = chunk_status::parse_failed;
        } else if (static_cast<uint64_t>(st.st_size) > max_chunk_file_bytes) {
            status = chunk_status::invalid;
        } else {
            status = read_all(fd, static_cast<size_t>(st.st_size), io.raw)
                         ? chunk_status::ok
                         : chunk_status::parse_failed;
        }
        ::close(fd);
        if (status != chunk_status::ok) {
            return status;
        }
        return parse_chunk(io.raw.data(), io.raw.size(), NBT_GZIP, out, io);
    }

    chunk_status encode(size_t, const nbt_file *doc, nbt::buffer &out,
                        chunk_io &io) const override {
        return nbt_encode(doc, NBT_GZIP, out.get(), io.codec.get()) < 0 ? chunk_status::write_failed
                                                                        : chunk_status::ok;
    }

    chunk_status accept(size_t, nbt::buffer &&bytes) override {
        bytes_ = std::move(bytes);
        return chunk_status::ok;
    }
    bool changed() const override { return bytes_.size() > 0; }

    chunk_status commit(const durable_policy &durability) override {
        // The writer replaces the file only once the whole content is on
        // disk, and refuses a file the user may not write.
        if (stage() != chunk_status::ok || sync_staged(durability) != chunk_status::ok) {
            durable_stage_discard(staged_);
            staged_ = nullptr;
            return chunk_status::write_failed;
        }
        return publish(durability);
    }

    bool owner_changed() const override { return report_.owner_changed != 0; }

    bool groupable() const override { return true; }
    bool rewrites_unchanged() const override { return true; }
    chunk_status stage() override {
        errno = 0;
        if (durable_stage_open(path_.c_str(), &staged_, &report_) != DURABLE_OK) {
            staged_ = nullptr;
            return written(DURABLE_ERR);
        }
        const int r = durable_stage_write(staged_, bytes_.data(), bytes_.size());
        bytes_.release();
        return written(r);
    }
    chunk_status sync_staged(const durable_policy &d) override {
        return written(durable_stage_sync(staged_, &d));
    }
    chunk_status publish(const durable_policy &d) override {
        durable_staged *s = staged_;
        staged_ = nullptr;
        if (!may_rename()) {
            durable_stage_discard(s);
            errno = 0; // the run stops: the lock says why
            return written(DURABLE_ERR);
        }
        return written(durable_stage_commit(s, &d));
    }
    ~chunk_file_unit() override { durable_stage_discard(staged_); }

  private:
    // A write's result; a failure keeps its errno for the report.
    chunk_status written(int r) {
        write_errno_ = r == DURABLE_OK ? 0 : errno;
        return r == DURABLE_OK ? chunk_status::ok : chunk_status::write_failed;
    }

    // The whole file into out: size bytes as examined, and no more than the
    // limit should it have grown since.
    static bool read_all(int fd, size_t size, std::vector<unsigned char> &out) {
        try {
            out.resize(size + 1);
        } catch (const std::bad_alloc &) {
            return false;
        }
        size_t have = 0;
        for (;;) {
            const ssize_t n = ::read(fd, out.data() + have, out.size() - have);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                out.resize(have);
                return n == 0;
            }
            have += static_cast<size_t>(n);
            if (have == out.size()) {
                return false; // grew since it was examined
            }
        }
    }

    // A chunk file reached through a link is written where the link leads.
    void follow_link() {
        struct stat link {};
        if (::lstat(path_.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
            return;
        }
        char resolved[PATH_MAX];
        struct stat st {};
        if (::realpath(path_.c_str(), resolved) != nullptr) {
            const std::string dir = parent_of(resolved);
            if (::stat(dir.c_str(), &st) == 0) {
                folder_ = dir;
                folder_dev_ = st.st_dev;
                folder_ino_ = st.st_ino;
            }
        }
    }

    std::string path_;
    std::string rel_;
    std::string folder_;
    struct stat st_;
    dev_t folder_dev_;
    ino_t folder_ino_;
    chunk_meta meta_;
    nbt::buffer bytes_;
    durable_report report_{};
    durable_staged *staged_ = nullptr;
    mutable int open_errno_ = 0; // the unit's one chunk is loaded by one thread
    int write_errno_ = 0;        // why its last write failed
};

} // namespace

chunk_files_format::chunk_files_format(std::string root, bool sorted)
    : root_(std::move(root)), sorted_(sorted) {}

chunk_files_format::~chunk_files_format() {
    // Innermost first.
    for (int i = 2; i >= 0; --i) {
        levels_[i].close();
    }
}

void chunk_files_format::folder::close() {
    // st stays: it describes the folder while its chunks are in flight.
    if (stream != nullptr) {
        ::closedir(stream);
        stream = nullptr;
    }
    names.clear();
    at = 0;
    listed = false;
}

bool chunk_files_format::folder::next_name(std::string &name) {
    if (listed) {
        if (at >= names.size()) {
            return false;
        }
        name = names[at++];
        return true;
    }
    const dirent *e = stream != nullptr ? ::readdir(stream) : nullptr;
    if (e == nullptr) {
        return false;
    }
    name = e->d_name;
    return true;
}

bool chunk_files_format::open() {
    levels_[0].path = root_;
    levels_[0].stream = ::opendir(root_.c_str());
    if (levels_[0].stream == nullptr) {
        return false;
    }
    if (sorted_) {
        std::string name;
        while (levels_[0].next_name(name)) {
            levels_[0].names.push_back(name);
        }
        std::sort(levels_[0].names.begin(), levels_[0].names.end());
        levels_[0].listed = true;
    }
    depth_ = 1;
    return true;
}

// Opens the folder at path as f. whole: read its whole listing now. false
// when it cannot be opened (stop says whether the walk ends there).
bool chunk_files_format::enter(folder &f, const std::string &path, const std::string &rel,
                               bool whole, walk_hooks &hooks, bool &stop) {
    f.close();
    f.path = path;
    f.rel = rel;
    f.stream = ::opendir(path.c_str());
    if (f.stream == nullptr) {
        stop = hooks.problem(walk_problem::open_failed, path, errno, false);
        return false;
    }
    if (whole || sorted_) {
        // Rewriting a chunk replaces its file through a new entry; with the
        // names taken first, that entry can neither be visited twice nor
        // hide another chunk from the walk.
        std::string name;
        while (f.next_name(name)) {
            f.names.push_back(name);
        }
        ::closedir(f.stream);
        f.stream = nullptr;
        if (sorted_) {
            std::sort(f.names.begin(), f.names.end());
        }
        f.listed = true;
    }
    return true;
}

world_format::step chunk_files_format::next(std::unique_ptr<world_unit> &out, walk_hooks &hooks) {
    while (depth_ > 0) {
        folder &f = levels_[depth_ - 1];
        std::string name;
        if (!f.next_name(name)) {
            f.close();
            --depth_;
            continue;
        }
        if (name[0] == '.') {
            continue; // ".", ".." and temporary files: never chunks or folders
        }
        const std::string path = f.path + "/" + name;
        const bool chunk_level = depth_ == 3;
        struct stat st {};
        int err = 0;
        const int seen = examine(path, st, err);
        if (seen == 0) {
            continue; // gone since the listing
        }
        if (seen < 0) {
            if (hooks.problem(walk_problem::stat_failed, path, err, chunk_level)) {
                return step::stopped;
            }
            continue;
        }
        if (!chunk_level) {
            if (!is_directory(st) || !check_base32(name.c_str())) {
                continue;
            }
            hooks.settle_folder(st.st_dev, st.st_ino);
            bool stop = false;
            const std::string rel = depth_ == 1 ? name : f.rel + "/" + name;
            levels_[depth_].st = st;
            if (enter(levels_[depth_], path, rel, depth_ == 2, hooks, stop)) {
                ++depth_;
            } else if (stop) {
                return step::stopped;
            }
            continue;
        }
        if (!is_regular(st) || !check_chunkname(name.c_str())) {
            continue;
        }
        // The same file reached a second time (through a linked folder) is
        // read after the first update has written it.
        if (hooks.settle_file(st.st_dev, st.st_ino) && examine(path, st, err) != 1) {
            continue;
        }
        out = std::make_unique<chunk_file_unit>(path, f.rel + "/" + name, st, f.path, f.st);
        return step::unit;
    }
    return step::end;
}
