// Replacing a file so that it holds either its old content or the whole new
// one: the bytes go to a temporary file beside it, reach the disk as the
// caller's policy asks, and only then take its place by rename, keeping its
// mode, owner, group, ACLs and other extended attributes. In one step, or
// staged for group commits. Shared by the NBT library's writer and the
// programs (their chunk files, region files, session lock, backups and
// restores).
//
// Plain functions and records; failures are returned, nothing is thrown or
// printed, and nothing is allocated except with malloc.
#ifndef DURABLE_DURABLE_H
#define DURABLE_DURABLE_H

#include <cstddef>
#include <cstdint>

// Results. The values are those of the NBT library's statuses for the same
// failures, so its writer hands them on unchanged.
enum durable_status {
    DURABLE_OK = 0,
    DURABLE_ERR = -1,    // a write, sync, close or rename failed
    DURABLE_EMEM = -2,   // out of memory
    DURABLE_EDENIED = -3 // the target may not be written, or no file can be made beside it
};

// When the data of a replaced file reaches the disk. sync is how a file or
// folder is synced (null: fsync); tests hand in their own to count. A
// caller that turns sync_folder off syncs the folder of the path it gave;
// when that path is a link into another folder, the folder of the rename is
// synced with the file (sync_file) since only this code knows it.
struct durable_policy {
    int sync_file;                      // sync the new file before its rename
    int sync_folder;                    // sync the folder after the rename
    int (*sync)(int fd, void *context); // 0 on success
    void *context;
};

// What could not be carried from the old file to the new one. The new file
// always keeps the old permission bits, never wider (when the group could
// not be kept, the group bits and set-group-id are cleared; when the owner
// could not, set-user-id is); owner and group are kept where the system
// allows (the owner only for root), ACLs and other extended attributes are
// copied where the file system has them.
struct durable_report {
    int owner_changed;
    int group_changed;
    int attributes_lost;
};

// A new file being written beside its target, not yet in its place.
struct durable_staged;

// Creates the temporary file ".<name>.XXXXXX" in path's folder (following a
// symbolic link path to its target) with the old file's attributes.
// DURABLE_OK; DURABLE_EDENIED, with nothing created, when the target may not
// be written or the temporary file cannot be created; DURABLE_EMEM. report
// may be null.
int durable_stage_open(const char *path, durable_staged **out, durable_report *report);
// Appends n bytes, or writes them at offset (the file grows as needed).
// DURABLE_OK or DURABLE_ERR.
int durable_stage_write(durable_staged *s, const void *data, size_t n);
int durable_stage_pwrite(durable_staged *s, const void *data, size_t n, uint64_t offset);
// Syncs the staged content if d asks for it (a group commit stages many
// files, then syncs them). d null: sync. DURABLE_OK or DURABLE_ERR.
int durable_stage_sync(durable_staged *s, const durable_policy *d);
// Renames the staged file over the target, then syncs the folder if d asks
// for it (d null: it does). Frees s whatever happens; on failure the
// temporary file is gone and the target is as it was. DURABLE_OK or
// DURABLE_ERR.
int durable_stage_commit(durable_staged *s, const durable_policy *d);
// Removes the temporary file and frees s; a null s is left alone.
void durable_stage_discard(durable_staged *s);

// Stages, writes, syncs and commits n bytes as one call. d null: sync the
// file and the folder. Results as the staged steps.
int durable_replace_file(const char *path, const void *data, size_t n, const durable_policy *d,
                         durable_report *report);

// Syncs the folder dir, or the whole file system holding it (filesystem
// non-zero, syncfs), through d's sync when given. DURABLE_OK or DURABLE_ERR.
int durable_sync_folder(const char *dir, int filesystem, const durable_policy *d);

namespace durable {

// A staged replacement, discarded (temporary file removed) unless it was
// committed.
class staged {
  public:
    staged() = default;
    explicit staged(durable_staged *s) : s_(s) {}
    ~staged() { durable_stage_discard(s_); }
    staged(staged &&o) noexcept : s_(o.s_) { o.s_ = nullptr; }
    staged &operator=(staged &&o) noexcept {
        if (this != &o) {
            durable_stage_discard(s_);
            s_ = o.s_;
            o.s_ = nullptr;
        }
        return *this;
    }
    staged(const staged &) = delete;
    staged &operator=(const staged &) = delete;

    // durable_stage_open into this handle.
    int open(const char *path, durable_report *report = nullptr) {
        durable_stage_discard(s_);
        s_ = nullptr;
        return durable_stage_open(path, &s_, report);
    }
    durable_staged *get() const { return s_; }
    explicit operator bool() const { return s_ != nullptr; }
    // durable_stage_commit, which frees the staged file whatever happens.
    int commit(const durable_policy *d) {
        durable_staged *s = s_;
        s_ = nullptr;
        return durable_stage_commit(s, d);
    }

  private:
    durable_staged *s_ = nullptr;
};

} // namespace durable

#endif
