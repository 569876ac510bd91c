#include "lodecast/pipeline/world_update.h"

#include "lodecast/formats/chunk_count.h"
#include "lodecast/formats/dimension.h"
#include "lodecast/formats/world_kind.h"
#include "lodecast/living/living_world.h"
#include "lodecast/ores/vein.h"
#include "lodecast/pipeline/chunk_pipeline.h"
#include "lodecast/pipeline/output.h"
#include "lodecast/pipeline/progress_line.h"
#include "lodecast/pipeline/run_summary.h"
#include "lodecast/pipeline/stop_signal.h"
#include "lodecast/storage/paletted_storage.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstring>
#include <map>
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
    update_handler(const storage_kind &storage, const std::vector<ore_plan> &ores,
                   const options *opt, living_world &living, progress_line *progress,
                   uint64_t total)
        : storage_(storage), ores_(ores), opt_(opt), living_(living), progress_(progress),
          total_(total) {
        for (const ore_plan &ore : ores) {
            prepared_.push_back(storage.prepare(ore));
            summary_.ores.push_back(ore.block.name.empty() ? ore.block.label : ore.block.name);
        }
        summary_.placed.resize(ores.size());
    }

    bool select(const world_unit &unit, size_t i) override {
        ++summary_.seen;
        uint64_t *alone = nullptr;
        if (!passes_time_filter(unit.meta(i), opt_) || !passes_bbox_filter(unit.meta(i), opt_)) {
            alone = &summary_.filtered;
        } else if (living_.recorded(unit, i)) {
            alone = &summary_.recorded;
        }
        if (alone != nullptr) {
            ++*alone;
            ++done_; // counted towards the total, which holds every chunk
            show_progress(chunk_status::ok);
        }
        return alone == nullptr;
    }
    void begin(const world_unit &unit, size_t i) override {
        if (verbose()) {
            out_printf("Updating chunk %s...\n", shown(unit.label(i)).c_str());
        }
    }
    chunk_status process(nbt_file *doc, const world_unit &unit, size_t i) override {
        std::vector<placement_count> placed(ores_.size());
        std::unique_ptr<block_grid> grid;
        chunk_status status = storage_.bind(doc, grid);
        if (status == chunk_status::ok && !grid->finished() && !(opt_->set & OPT_UNFINISHED)) {
            return chunk_status::unfinished; // the game's own generation comes first
        }
        // Each ore in turn, each after the one before it.
        uint64_t total = 0;
        for (size_t k = 0; k < ores_.size() && status == chunk_status::ok; ++k) {
            placed[k].bottom = grid->bottom();
            status = carve(*grid, k, placed[k]);
            total += placed[k].total;
        }
        if (status == chunk_status::ok) {
            status = grid->finish();
        }
        living_.processed(unit, i, placed);
        if (status == chunk_status::ok && total > 0) {
            std::vector<uint64_t> &mine = placed_[{&unit, i}];
            for (const placement_count &p : placed) {
                mine.push_back(p.total);
            }
        }
        return status == chunk_status::ok && total == 0 ? chunk_status::unchanged : status;
    }
    void retire(const world_unit &unit, size_t i, chunk_status status) override {
        living_.retired(unit, i, status);
        tally(unit, i, status);
        if (status == chunk_status::unfinished) {
            ++unfinished_;
            status = chunk_status::ok; // left alone by rule, not a failure
        } else if (status == chunk_status::unchanged) {
            status = chunk_status::ok;
        }
        failed(unit, i, status);
        ++done_;
        show_progress(status);
    }
    void unit_done(const world_unit &unit, chunk_status status) override {
        unwritten_ += status == chunk_status::ok ? 0 : 1;
        // The unit's chunks count as updated once its new content is in place.
        const auto pending = pending_.find(&unit);
        if (pending != pending_.end()) {
            (status == chunk_status::ok ? summary_.updated : summary_.failed) +=
                pending->second.chunks;
            for (size_t k = 0; status == chunk_status::ok && k < summary_.placed.size(); ++k) {
                summary_.placed[k] += pending->second.placed[k];
            }
            pending_.erase(pending);
        }
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

    uint64_t unwritten() const { return unwritten_; }
    const run_summary &summary() const { return summary_; }

  private:
    chunk_status carve(block_grid &grid, size_t k, placement_count &placed) const {
        if (!grid.begin(*prepared_[k])) {
            return chunk_status::invalid;
        }
        const ore_plan &ore = ores_[k];
        const options *opt = &ore.opt;
        const bool trace = (opt->set & OPT_VERY_VERBOSE) != 0;
        if (trace) {
            out_printf("Generating %s (rounds %d, min %d, max %d, size %d)\n",
                       ore.block.name.empty() ? std::to_string(ore.block.id).c_str()
                                              : shown(ore.block.name).c_str(),
                       opt->rounds, opt->min_depth, opt->max_depth, opt->size);
        }
        if ((opt->set & OPT_SAVED_BEFORE) && grid.data_version() >= opt->saved_before) {
            return chunk_status::ok; // saved by a game that made this ore itself
        }
        if (!round_happens(opt)) {
            return chunk_status::ok;
        }
        for (int32_t r = 0; r < opt->rounds; ++r) {
            if (trace) {
                out_printf("Generating round %d...\n", r);
            }
            gen_ore(grid, opt, &placed, &ore.biomes);
        }
        return chunk_status::ok;
    }
    bool verbose() const { return (opt_->set & OPT_VERBOSE) != 0; }
    // The status line comes back after the chunk's messages.
    void show_progress(chunk_status status) {
        failures_ += status == chunk_status::ok ? 0 : 1;
        if (progress_ != nullptr) {
            // A chunk file added since the count must not make it read 101%.
            progress_->update(done_, total_ == 0 ? 0 : std::max(done_, total_), failures_);
        }
    }
    void tally(const world_unit &unit, size_t i, chunk_status status) {
        const auto found = placed_.find({&unit, i});
        switch (status) {
        case chunk_status::ok: {
            unit_tally &u = pending_[&unit];
            u.placed.resize(summary_.placed.size());
            ++u.chunks;
            for (size_t k = 0; found != placed_.end() && k < found->second.size(); ++k) {
                u.placed[k] += found->second[k];
            }
            break;
        }
        case chunk_status::unfinished:
            ++summary_.unfinished;
            break;
        case chunk_status::unchanged:
            ++summary_.unchanged;
            break;
        default:
            ++summary_.failed;
        }
        if (found != placed_.end()) {
            placed_.erase(found);
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

    const storage_kind &storage_;
    const std::vector<ore_plan> &ores_;
    std::vector<std::unique_ptr<prepared_ore>> prepared_;
    const options *opt_;
    living_world &living_;
    bool owner_said_ = false;
    progress_line *progress_;
    uint64_t done_ = 0;
    uint64_t failures_ = 0;
    uint64_t unwritten_ = 0; // units whose new content could not replace the old
    uint64_t total_;         // the chunks counted ahead of the walk (0: not counted)
    run_summary summary_;
    // Blocks each ore placed in a chunk, from its processing to its retiring,
    // then in its unit's tally until the unit's commit.
    std::map<std::pair<const world_unit *, size_t>, std::vector<uint64_t>> placed_;
    struct unit_tally {
        uint64_t chunks = 0;
        std::vector<uint64_t> placed;
    };
    std::map<const world_unit *, unit_tally> pending_;

  public:
    uint64_t unfinished_ = 0; // chunks the game has not finished generating
};

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

// Chunk files committed together: one sync of the file system makes a
// group durable instead of one sync per file. Large enough that the sync's
// cost spreads thin, small enough that a crash undoes little (the group's
// files stay old, their temporary files are left) and its open files and
// names cost nothing to speak of.
constexpr size_t commit_group = 64;

durable_policy run_durability() {
    durable_policy d{};
    d.sync_file = 1;
    d.sync_folder = 0;
    return d;
}

int update_world(const char *path, const options &run, const std::vector<ore_plan> &ores,
                 const durable_policy &durability) {
    const options *opt = &run;
    const auto started = std::chrono::steady_clock::now();
    out_printf("Processing...\n");
    living_world living(path, ores, opt);
    if (!living.claim()) {
        return 1;
    }
    const std::string folder =
        dimension_folder(path, (opt->set & OPT_DIMENSION) != 0 ? opt->dimension : nullptr);
    if (folder.empty()) {
        out_printf("%s is neither a dimension's number nor its name - nothing changed\n",
                   shown(opt->dimension).c_str());
        return 1;
    }
    const world_kind kind = identify_world(path, folder);
    if (kind == world_kind::unreadable_level) {
        out_printf("%s/level.dat cannot be read (damaged, or far bigger than any real one), and "
                   "without it the world's region files cannot be told apart - nothing changed\n",
                   shown(path).c_str());
        return 1;
    }
    const std::unique_ptr<storage_kind> storage = make_storage_kind(kind, path);
    if (!storage || ores.empty()) {
        out_printf("%s was saved by a newer game than lodecast knows (DataVersion above %d) - "
                   "nothing changed\n",
                   shown(path).c_str(), static_cast<int>(newest_known_data_version));
        return 1;
    }
    storage->take_options(run);
    std::unique_ptr<world_format> format = open_world_format(kind, path, folder, false);
    if (!format) {
        const std::string where = kind == world_kind::chunk_files ? folder : folder + "/region";
        const int err = errno;
        out_printf("Could not open directory %s - %s\n", shown(where).c_str(), std::strerror(err));
        return 1;
    }
    if (!living.start(durability)) {
        return 1;
    }
    // A status line only where someone watches it and no chunk lines scroll
    // by; it steps aside for every message, so the messages read as without it.
    const bool terminal = isatty(STDERR_FILENO) == 1;
    std::optional<progress_line> progress;
    uint64_t total = 0;
    if (terminal && (opt->set & (OPT_VERBOSE | OPT_VERY_VERBOSE)) == 0) {
        total = count_chunks(kind, folder);      // names and headers only: quick beside the run
        progress.emplace("processed", "failed"); // its rate starts after the count
    }
    output_interlude interlude([&progress] {
        if (progress) {
            progress->clear();
        }
    });
    update_handler handler(*storage, ores, opt, living, progress ? &*progress : nullptr, total);
    pipeline_config config;
    config.threads = opt->threads;
    config.stream_process = (opt->set & OPT_VERY_VERBOSE) != 0;
    config.durability = durability;
    config.world = path;
    config.group = commit_group;
    config.interrupted = [] { return stop_signal() != 0; };
    if ((opt->set & OPT_UNFINISHED) == 0) {
        // Told from the chunk's own markers, before its blocks are parsed.
        config.left_unfinished = [kind = storage.get()](nbt_tag *skeleton) {
            return kind->unfinished(skeleton);
        };
    }
    living.configure(config);
    chunk_pipeline pipeline(handler, config);
    const bool walked = pipeline.run(*format); // a stopped walk printed why
    pipeline.finish();
    if (handler.unfinished_ > 0) {
        out_printf("Skipped %" PRIu64 " chunks the game has not finished generating\n",
                   handler.unfinished_);
    }
    const bool living_ok = living.finish();
    if (const int sig = stop_signal(); sig != 0) {
        out_write(
            stopped_report(sig, pipeline.written(), living.dry(), (opt->set & OPT_RECORD) != 0));
        return 128 + sig;
    }
    if (!living_ok || !walked) {
        return 1;
    }
    if (handler.unwritten() > 0) {
        const bool one = handler.unwritten() == 1;
        out_printf("World partly updated: %" PRIu64 " %s could not be written and %s\n",
                   handler.unwritten(), one ? "file" : "files",
                   one ? "keeps its old content" : "keep their old content");
        if (terminal) {
            out_write(summary_text(handler.summary(), seconds_since(started), living.dry()));
        }
        return 2;
    }
    if (handler.summary().seen == 0) {
        // Most likely the folder above a world, which must not pass for success.
        out_write(no_chunk_line(path));
    }
    out_printf(living.dry() ? "Dry run finished - nothing written\n" : "World updated\n");
    if (terminal) {
        out_write(summary_text(handler.summary(), seconds_since(started), living.dry()));
    }
    return 0;
}
