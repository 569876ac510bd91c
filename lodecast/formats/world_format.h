// The one place where the tool meets a world on disk. A world format walks
// the world and hands out units: what is committed at once (a chunk file, or
// a region file holding many chunks). A unit lists its chunks with their
// coordinates and modification times, loads a chunk's document, encodes an
// updated one, and is rewritten atomically with the chunks given to it, or
// kept exactly as it was. The chunk pipeline, the census and the world maker
// all go through it; a new format is a new implementation of these classes.
#ifndef LODECAST_WORLD_FORMAT_H
#define LODECAST_WORLD_FORMAT_H

#include "durable/durable.h"
#include "nbt/nbt.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

// Why a chunk or a unit was left alone.
enum class chunk_status {
    ok,
    init_failed,  // the document could not be created
    parse_failed, // the file or record could not be read or decoded
    invalid,      // not a chunk the update can handle
    write_failed, // the new content did not replace the old
    too_large,    // the updated chunk no longer fits its container
    // Left alone by the run's own rules, not failures:
    unfinished, // the game has not finished generating the chunk
    unchanged,  // its veins changed no block (kept as it is where the unit can)
};

struct chunk_meta {
    int32_t x = 0;
    int32_t z = 0;
    uint32_t mtime = 0; // seconds: the file's or the record's last write
};

// What a walk stops or skips on: an entry it could not examine or a folder
// it could not open.
enum class walk_problem { stat_failed, open_failed };

// Callbacks from the walk into whoever drives it.
class walk_hooks {
  public:
    virtual ~walk_hooks() = default;
    // Before a folder is listed: units still being written into it are
    // finished first, so the listing is what a one-thread run would see.
    virtual void settle_folder(dev_t dev, ino_t ino) = 0;
    // Before a unit whose file is (dev, ino) is handed out: a unit of the
    // same file still in flight is finished first. true when it waited
    // (the walk then looks at the file again).
    virtual bool settle_file(dev_t dev, ino_t ino) = 0;
    // A problem at path (err the errno): true to stop the walk. The driver
    // prints or records it; chunk_entry tells a chunk file from a folder.
    virtual bool problem(walk_problem what, const std::string &path, int err, bool chunk_entry) = 0;
    // A file the walk leaves alone as a whole, and why, in walk order.
    virtual void skipped(const std::string &path, const std::string &why) = 0;
};

// Per-thread state for loading and encoding (compression buffers).
struct chunk_io {
    nbt::codec codec = nbt::make_codec();
    std::vector<unsigned char> raw; // a file's or record's compressed bytes
    // Asked about a chunk's skeleton (nbt_parse_skeleton) before its full
    // parse: true when the run leaves the chunk alone as unfinished, so the
    // load stops there (chunk_status::unfinished). None: every chunk is
    // parsed whole.
    std::function<bool(nbt_tag *skeleton)> left_unfinished;
};

class world_unit {
  public:
    virtual ~world_unit() = default;
    // The unit's file, and the folder its new content is written into
    // (where a link leads, not where it was found), with their identities.
    virtual const std::string &path() const = 0;
    virtual dev_t dev() const = 0;
    virtual ino_t ino() const = 0;
    virtual const std::string &folder() const = 0;
    virtual dev_t folder_dev() const = 0;
    virtual ino_t folder_ino() const = 0;

    virtual size_t chunk_count() const = 0;
    virtual const chunk_meta &meta(size_t i) const = 0;
    // How chunk i is named in "-v" lines, and in full in reports.
    virtual std::string label(size_t i) const = 0;
    virtual std::string describe(size_t i) const = 0;
    // In words, why the last load of chunk i failed, when the unit knows
    // more than the status says; empty otherwise.
    virtual std::string why(size_t i) const = 0;
    // Prints why chunk i (or, with i == whole_unit, the commit) was left
    // alone; status is not ok.
    static constexpr size_t whole_unit = static_cast<size_t>(-1);
    virtual void report(size_t i, chunk_status status) const = 0;

    // Load chunk i's document; any thread, any i concurrently.
    virtual chunk_status load(size_t i, nbt::document &out, chunk_io &io) const = 0;
    // Encode chunk i's updated document into out; any thread.
    virtual chunk_status encode(size_t i, const nbt_file *doc, nbt::buffer &out,
                                chunk_io &io) const = 0;
    // In chunk order, on one thread: chunk i's new bytes (empty: keep the
    // old content). Called for every chunk the run selected, before commit.
    virtual chunk_status accept(size_t i, nbt::buffer &&bytes) = 0;
    // Whether a chunk whose veins changed nothing is written back all the
    // same (a chunk file is; a record of a region is carried over as it is).
    virtual bool rewrites_unchanged() const { return false; }
    // Whether anything accepted changes the unit.
    virtual bool changed() const = 0;
    // Replace the unit on disk with what was accepted; on failure it keeps
    // its old content. Any thread.
    virtual chunk_status commit(const durable_policy &durability) = 0;
    // After a commit: the new file could not keep the old one's owner.
    virtual bool owner_changed() const = 0;

    // Group commit, for units that are one small file each: stage writes
    // the new content beside the unit without syncing it, the caller makes
    // a whole group of staged units durable at once (a sync of the file
    // system, or sync_staged on each where that fails), then publish puts
    // each in place. A unit that cannot be grouped is committed alone.
    virtual bool groupable() const { return false; }
    virtual chunk_status stage() { return chunk_status::write_failed; }
    virtual chunk_status sync_staged(const durable_policy &) { return chunk_status::write_failed; }
    virtual chunk_status publish(const durable_policy &) { return chunk_status::write_failed; }

    // Asked immediately before commit or publish renames the new content
    // into place (the run's session lock); false: the unit keeps its old
    // content (write_failed).
    void set_rename_check(std::function<bool()> check) { rename_check_ = std::move(check); }

  protected:
    bool may_rename() const { return !rename_check_ || rename_check_(); }

  private:
    std::function<bool()> rename_check_;
};

class world_format {
  public:
    virtual ~world_format() = default;
    enum class step { unit, end, stopped };
    // The next unit in walk order into out, or the end of the walk, or a
    // stop that hooks.problem asked for.
    virtual step next(std::unique_ptr<world_unit> &out, walk_hooks &hooks) = 0;
};

#endif
