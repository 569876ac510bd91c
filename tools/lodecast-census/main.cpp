// lodecast-census: counts ore blocks in a world by height and reports them
// as text, and on request as CSV and as an SVG chart.
#include "lodecast/census/census.h"

#include "lodecast/census/census_render.h"
#include "lodecast/census/chunk_map.h"
#include "lodecast/pipeline/output.h"
#include "tools/lodecast-census/census_args.h"
#include "tools/lodecast-census/census_walk.h"
#include "tools/lodecast-census/world_names.h"

#include "lodecast/formats/chunk_count.h"
#include "lodecast/formats/world_kind.h"
#include "lodecast/pipeline/progress_line.h"
#include "lodecast/run/std_fds.h"
#include "lodecast/storage/paletted_storage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {

struct file_closer {
    void operator()(FILE *f) const { std::fclose(f); }
};

// Write text to path. false with errno set when it could not be written.
bool write_text(const std::string &path, const std::string &text) {
    std::unique_ptr<FILE, file_closer> f(std::fopen(path.c_str(), "wb"));
    if (!f) {
        return false;
    }
    if (std::fwrite(text.data(), 1, text.size(), f.get()) != text.size()) {
        return false;
    }
    // Close here so that an error while flushing is seen.
    return std::fclose(f.release()) == 0;
}

// The map of c; with other, on the scale of both.
std::string census_map(const census &c, const std::string &world, const census *other) {
    return render_chunk_map(c.cells, "Ore per chunk in " + world, map_legend(c),
                            other != nullptr ? other->cells : std::vector<map_cell>{});
}

uint64_t chunks_seen(const census &c) {
    return c.chunks_counted + c.skipped.size();
}

} // namespace

int main(int argc, char **argv) {
    open_missing_std_fds();
    if (const int status = answer_help_or_version(argc, argv, "lodecast-census", census_usage);
        status >= 0) {
        return status;
    }
    if (argc == 3 && std::strcmp(argv[1], "--names") == 0) {
        for (const std::string &name : world_ore_names(argv[2])) {
            std::printf("%s\n", shown(name).c_str());
        }
        return close_stdout() ? 0 : 1;
    }
    census_args args;
    std::string error;
    if (!parse_census_args(argc, argv, args, error)) {
        std::fprintf(stderr, "lodecast-census: %s\n%s", error.c_str(), census_usage);
        return 2; // the tools' one status for a usage error
    }
    if (args.help) {
        std::fputs(census_usage, stdout);
        return 0;
    }

    const census empty = args.states.empty()
                             ? make_census(args.ids, args.names)
                             : make_state_census(args.states, paletted_bottom, paletted_height);
    census c = empty;
    // The progress line rewrites itself, so it only makes sense on a terminal.
    std::optional<progress_line> line;
    census_progress progress;
    uint64_t total = 0;
    if (isatty(2) == 1) {
        line.emplace("scanned", "skipped");
        total = count_chunks(identify_world(args.world, args.world), args.world);
        progress = [&line, total](const census &now) {
            line->update(chunks_seen(now), total, now.skipped.size());
        };
    }
    if (!census_world(args.world, c, error, progress)) {
        if (line) {
            line->clear();
        }
        std::fprintf(stderr, "lodecast-census: cannot open world directory %s: %s\n",
                     args.world.c_str(), error.c_str());
        return 1;
    }
    if (line) {
        line->update(chunks_seen(c), total, c.skipped.size());
        line->finish();
    }
    for (const skipped_chunk &s : c.skipped) {
        std::fprintf(stderr, "lodecast-census: skipped chunk %s: %s\n", shown(s.path).c_str(),
                     s.reason.c_str());
    }
    for (const std::string &d : c.skipped_dirs) {
        std::fprintf(stderr, "lodecast-census: skipped directory %s\n", shown(d).c_str());
    }

    // The second world of -map-also, counted for its map alone.
    std::optional<census> also;
    if (!args.also_world.empty()) {
        also = empty;
        if (!census_world(args.also_world, *also, error)) {
            std::fprintf(stderr, "lodecast-census: cannot open world directory %s: %s\n",
                         args.also_world.c_str(), error.c_str());
            return 1;
        }
    }

    std::fputs(render_report(c, args.world).c_str(), stdout);
    int status = 0;
    // A report cut short must not look like a complete one.
    if (!close_stdout()) {
        std::fprintf(stderr, "lodecast-census: cannot write the report to standard output: %s\n",
                     std::strerror(errno));
        status = 1;
    }
    const std::pair<const std::string &, std::string> outputs[] = {
        {args.csv_path, args.csv_path.empty() ? "" : render_csv(c)},
        {args.svg_path, args.svg_path.empty() ? "" : render_svg(c, args.world)},
        {args.map_path,
         args.map_path.empty() ? "" : census_map(c, args.world, also ? &*also : nullptr)},
        {args.also_map_path, also ? census_map(*also, args.also_world, &c) : ""}};
    for (const auto &[path, text] : outputs) {
        if (!path.empty() && !write_text(path, text)) {
            std::fprintf(stderr, "lodecast-census: cannot write %s: %s\n", path.c_str(),
                         std::strerror(errno));
            status = 1;
        }
    }
    return status;
}
