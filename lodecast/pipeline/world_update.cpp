#include "lodecast/pipeline/world_update.h"

#include "lodecast/formats/dimension.h"
#include "lodecast/formats/world_kind.h"
#include "lodecast/living/living_world.h"
#include "lodecast/pipeline/chunk_pipeline.h"
#include "lodecast/pipeline/output.h"
#include "lodecast/pipeline/progress_line.h"
#include "lodecast/storage/chunk_update.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <unistd.h>

namespace {

bool passes_time_filter(const chunk_meta &m, const options *opt) {
    if (!(opt->set & OPT_MTIME)) {
        return true;
    }
    // Both sides as unsigned 32-bit numbers, both bounds inclusive.
    if (opt->set & OPT_MTIME_AFTER) {
        return m.mtime >= opt->m_time;
    }
    return m.mtime <= opt->m_time;
}

bool passes_bbox_filter(const chunk_meta &m, const options *opt) {
    if (!(opt->set & OPT_BBOX)) {
        return true;
    }
    return m.x >= opt->x1 && m.x <= opt->x2 && m.z >= opt->y1 && m.z <= opt->y2;
}

// The run's messages and veins for each chunk.
class update_handler : public chunk_handler {
  public:
    update_handler(int16_t ore_id, const options *opt, const std::vector<ore_pass> &also,
                   living_world &living, progress_line *progress, bool sectioned)
        : ore_id_(ore_id), opt_(opt), also_(also), living_(living), progress_(progress),
          sectioned_(sectioned) {}

    bool select(const world_unit &unit, size_t i) override {
        return passes_time_filter(unit.meta(i), opt_) && passes_bbox_filter(unit.meta(i), opt_) &&
               !living_.recorded(unit, i);
    }
    void begin(const world_unit &unit, size_t i) override {
        if (verbose()) {
            out_printf("Updating chunk %s...\n", shown(unit.label(i)).c_str());
        }
    }
    chunk_status process(nbt_file *doc, const world_unit &unit, size_t i) override {
        placement_count placed;
        chunk_status status = carve(doc, ore_id_, opt_, &placed);
        // Further ores in the same chunk, each after the one before it.
        for (size_t k = 0; k < also_.size() && status == chunk_status::ok; ++k) {
            status = carve(doc, also_[k].ore_id, &also_[k].opt, &placed);
        }
        living_.processed(unit, i, placed);
        return status;
    }
    void retire(const world_unit &unit, size_t i, chunk_status status) override {
        living_.retired(unit, i, status);
        failed(unit, i, status);
        ++done_;
        show_progress(status);
    }
    void unit_done(const world_unit &unit, chunk_status status) override {
        if (!living_.unit_done(unit, status)) {
            failed(unit, world_unit::whole_unit, status);
        }
        if (status == chunk_status::ok && unit.owner_changed() && !owner_said_) {
            // Only root can give a file away; said once, not for every file.
            owner_said_ = true;
            out_printf("%s and every file rewritten after it now belong to the user running "
                       "lodecast (their group and permissions are kept where allowed)\n",
                       shown(unit.path()).c_str());
        }
        show_progress(status);
    }

  private:
    chunk_status carve(nbt_file *doc, int16_t ore_id, const options *opt,
                       placement_count *placed) const {
        return sectioned_ ? process_sectioned_chunk(doc, ore_id, opt, placed)
                          : process_chunk(doc, ore_id, opt, placed);
    }
    bool verbose() const { return (opt_->set & OPT_VERBOSE) != 0; }
    // The status line comes back after the chunk's messages.
    void show_progress(chunk_status status) {
        failures_ += status == chunk_status::ok ? 0 : 1;
        if (progress_ != nullptr) {
            progress_->update(done_, 0, failures_); // the total is not known ahead of the walk
        }
    }
    void failed(const world_unit &unit, size_t i, chunk_status status) {
        if (status == chunk_status::ok) {
            return;
        }
        unit.report(i, status);
        if (verbose()) {
            out_printf("Failed to update chunk.  Skipping...\n");
        }
    }

    int16_t ore_id_;
    const options *opt_;
    const std::vector<ore_pass> &also_;
    living_world &living_;
    bool owner_said_ = false;
    progress_line *progress_;
    uint64_t done_ = 0;
    uint64_t failures_ = 0;
    bool sectioned_;
};

} // namespace

// Chunk files committed together: one sync of the file system makes a
// group durable instead of one sync per file. Large enough that the sync's
// cost spreads thin, small enough that a crash undoes little (the group's
// files stay old, their temporary files are left) and its open files and
// names cost nothing to speak of.
constexpr size_t commit_group = 64;

nbt_durability run_durability() {
    nbt_durability d{};
    d.sync_file = 1;
    d.sync_folder = 0;
    return d;
}

int update_world(const char *path, int16_t ore_id, const options *opt,
                 const nbt_durability &durability, const std::vector<ore_pass> &also) {
    out_printf("Processing...\n");
    const std::string folder =
        dimension_folder(path, (opt->set & OPT_DIMENSION) != 0 ? opt->dimension : nullptr);
    if (folder.empty()) {
        out_printf("%s is neither a dimension's number nor its name - nothing changed\n",
                   shown(opt->dimension).c_str());
        return 1;
    }
    const world_kind kind = identify_world(path, folder);
    if (kind == world_kind::paletted) {
        out_printf("%s stores blocks in palettes, which lodecast cannot update - nothing changed\n",
                   shown(path).c_str());
        return 1;
    }
    std::unique_ptr<world_format> format = open_world_format(kind, path, folder, false);
    if (!format) {
        const std::string where = kind == world_kind::chunk_files ? folder : folder + "/region";
        const int err = errno;
        out_printf("Could not open directory %s - %s\n", shown(where).c_str(), std::strerror(err));
        return 1;
    }
    living_world living(path, ore_id, opt);
    if (!living.start(durability)) {
        return 1;
    }
    // A status line only where someone watches it and no chunk lines scroll
    // by; it steps aside for every message, so the messages read as without it.
    std::optional<progress_line> progress;
    if (isatty(STDERR_FILENO) == 1 && (opt->set & (OPT_VERBOSE | OPT_VERY_VERBOSE)) == 0) {
        progress.emplace("processed", "failed");
    }
    output_interlude interlude([&progress] {
        if (progress) {
            progress->clear();
        }
    });
    update_handler handler(ore_id, opt, also, living, progress ? &*progress : nullptr,
                           kind == world_kind::sectioned);
    pipeline_config config;
    config.threads = opt->threads;
    config.stream_process = (opt->set & OPT_VERY_VERBOSE) != 0;
    config.durability = durability;
    config.world = path;
    config.group = commit_group;
    living.configure(config);
    chunk_pipeline pipeline(handler, config);
    const bool walked = pipeline.run(*format); // a stopped walk printed why
    pipeline.finish();
    if (!living.finish() || !walked) {
        return 1;
    }
    out_printf(living.dry() ? "Dry run finished - nothing written\n" : "World updated\n");
    return 0;
}
