#include "lodecast/census/chunk_map.h"

#include "lodecast/census/census_render.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

namespace {

std::string number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

// From near white (0) to dark blue (the largest count).
std::string shade(uint64_t count, uint64_t max) {
    const double t = max == 0 ? 0.0 : static_cast<double>(count) / static_cast<double>(max);
    const auto mix = [t](int from, int to) { return static_cast<int>(from + (to - from) * t); };
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", mix(0xf4, 0x08), mix(0xf4, 0x30),
                  mix(0xf4, 0x6b));
    return buf;
}

// At most this many cells across or down, each at least min_cell pixels:
// a wider world is drawn k x k chunks to a cell.
constexpr int64_t max_cells_across = 128;
constexpr double min_cell = 5, max_cell = 24, map_pixels = 640;
// Empty stretches longer than this many chunks are left out of an axis.
constexpr int64_t kept_gap = 8;
constexpr double title_char_width = text_char_width * 14 / 11; // the title's larger type

// One axis of the map: the runs of chunk coordinates it shows, in order,
// each starting at a cell; between two runs one cell marks what was left out.
class axis {
  public:
    axis(const std::set<int64_t> &coords, int64_t gap) {
        for (const int64_t c : coords) {
            if (runs_.empty() || c - runs_.back().last > gap) {
                runs_.push_back({c, c, 0});
            } else {
                runs_.back().last = c;
            }
        }
    }
    size_t run_count() const { return runs_.size(); }
    // The smallest chunks-per-cell that fits the axis into `most` cells.
    int64_t fitting_k(int64_t most) const {
        int64_t span = 0;
        for (const run &r : runs_) {
            span += r.last - r.first + 1;
        }
        // Each run's last cell may be partly filled, and each break takes one.
        const auto room = std::max<int64_t>(1, most - 2 * static_cast<int64_t>(runs_.size()));
        return std::max<int64_t>(1, (span + room - 1) / room);
    }
    void lay_out(int64_t k) {
        k_ = k;
        cells_ = 0;
        for (run &r : runs_) {
            cells_ += cells_ == 0 ? 0 : 1; // the break before it
            r.at = cells_;
            cells_ += (r.last - r.first) / k + 1;
        }
    }
    int64_t cells() const { return std::max<int64_t>(cells_, 1); }
    int64_t k() const { return k_; }
    int64_t cell_of(int64_t c) const {
        const auto r = std::upper_bound(runs_.begin(), runs_.end(), c,
                                        [](int64_t v, const run &x) { return v < x.first; });
        const run &in = *(r - 1);
        return in.at + (c - in.first) / k_;
    }
    // The first chunk coordinate of a cell, for labels and titles.
    int64_t chunk_at(int64_t cell) const {
        const auto r = std::upper_bound(runs_.begin(), runs_.end(), cell,
                                        [](int64_t v, const run &x) { return v < x.at; });
        const run &in = *(r - 1);
        return in.first + (cell - in.at) * k_;
    }
    // Label positions: the start of every run, then every `every` cells; a
    // run's start wins over the labels too close before it.
    std::vector<int64_t> labels(int64_t every) const {
        std::vector<int64_t> at;
        for (const run &r : runs_) {
            while (!at.empty() && r.at - at.back() < every) {
                at.pop_back();
            }
            const int64_t end = r.at + (r.last - r.first) / k_;
            for (int64_t c = r.at; c <= end; c += every) {
                at.push_back(c);
            }
        }
        return at;
    }
    // The cells that mark a break.
    std::vector<int64_t> breaks() const {
        std::vector<int64_t> at;
        for (size_t i = 1; i < runs_.size(); ++i) {
            at.push_back(runs_[i].at - 1);
        }
        return at;
    }

  private:
    struct run {
        int64_t first;
        int64_t last;
        int64_t at;
    };
    std::vector<run> runs_;
    int64_t k_ = 1;
    int64_t cells_ = 0;
};

// Axes of the chunks of both maps: gaps widen until the breaks alone fit.
std::pair<axis, axis> frame_of(const std::vector<map_cell> &a, const std::vector<map_cell> &b) {
    std::set<int64_t> xs, zs;
    for (const auto *cells : {&a, &b}) {
        for (const map_cell &c : *cells) {
            xs.insert(c.x);
            zs.insert(c.z);
        }
    }
    int64_t gap = kept_gap;
    for (;;) {
        axis x(xs, gap), z(zs, gap);
        const auto most = static_cast<size_t>(max_cells_across / 4);
        if ((x.run_count() <= most && z.run_count() <= most) || gap > (int64_t{1} << 33)) {
            const int64_t k =
                std::max(x.fitting_k(max_cells_across), z.fitting_k(max_cells_across));
            x.lay_out(k);
            z.lay_out(k);
            return {x, z};
        }
        gap *= 2;
    }
}

// Chunks sharing a cell add up; a cell is unreadable when any of them is.
using cell_map = std::map<std::pair<int64_t, int64_t>, map_cell>; // by (z, x) cell
cell_map merged(const std::vector<map_cell> &cells, const axis &ax, const axis &az) {
    cell_map out;
    for (const map_cell &c : cells) {
        map_cell &m = out[{az.cell_of(c.z), ax.cell_of(c.x)}];
        m.count += c.unreadable ? 0 : c.count;
        m.unreadable = m.unreadable || c.unreadable;
    }
    return out;
}

} // namespace

std::string render_chunk_map(const std::vector<map_cell> &chunks, const std::string &title,
                             const std::vector<std::string> &legend,
                             const std::vector<map_cell> &same_scale) {
    const auto [ax, az] = frame_of(chunks, same_scale);
    const int64_t k = ax.k();
    const cell_map own = merged(chunks, ax, az);
    uint64_t max = 0;
    for (const cell_map &cells : {own, merged(same_scale, ax, az)}) {
        for (const auto &[at, m] : cells) {
            max = m.unreadable ? max : std::max(max, m.count);
        }
    }
    const int64_t across = ax.cells(), down = az.cells();
    const double cell =
        std::clamp(map_pixels / static_cast<double>(std::max(across, down)), min_cell, max_cell);
    const double left = 60, top = 60;
    const double w = cell * static_cast<double>(across), h = cell * static_cast<double>(down);
    size_t longest = 16; // "could not be read"
    for (const std::string &line : legend) {
        longest = std::max(longest, line.size());
    }
    const double lx = left + w + 30;
    const double legend_w = 22 + text_char_width * static_cast<double>(longest);
    const double title_w = left + title_char_width * static_cast<double>(title.size()) + 20;
    const double width = std::max(lx + legend_w + 20, title_w);
    const double scale_top = top + 16 * static_cast<double>(legend.size());
    const double height = std::max(top + h + 30, scale_top + 22 * 6 + 30);
    // A label every `every` cells, at least 40 pixels apart.
    const int64_t every = std::max<int64_t>(1, static_cast<int64_t>(40.0 / cell + 0.999));
    std::string note = "chunks";
    note += k == 1 ? ""
                   : "; scaled to fit: each cell is " + std::to_string(k) + " x " +
                         std::to_string(k) + " chunks";
    note += ax.breaks().empty() && az.breaks().empty() ? ""
                                                       : "; dashed lines: empty stretches left out";

    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(width) + "\" height=\"" +
           number(height) + "\" font-family=\"sans-serif\" font-size=\"11\">\n";
    out += "<defs><pattern id=\"hatch\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\">"
           "<path d=\"M0,6 L6,0\" stroke=\"#c00\" stroke-width=\"1\"/></pattern></defs>\n";
    out += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    out += "<text x=\"" + number(left) + "\" y=\"20\" font-size=\"14\">" + xml_escape(title) +
           "</text>\n";
    out += "<text x=\"" + number(left) + "\" y=\"36\">x to the right, z downwards (" + note +
           ")</text>\n";
    for (const int64_t x : ax.labels(every)) {
        out += "<text x=\"" + number(left + cell * static_cast<double>(x) + cell / 2) + "\" y=\"" +
               number(top - 6) + "\" text-anchor=\"middle\">" + std::to_string(ax.chunk_at(x)) +
               "</text>\n";
    }
    for (const int64_t z : az.labels(every)) {
        out += "<text x=\"" + number(left - 6) + "\" y=\"" +
               number(top + cell * static_cast<double>(z) + cell / 2 + 4) +
               "\" text-anchor=\"end\">" + std::to_string(az.chunk_at(z)) + "</text>\n";
    }
    const std::string dashed = "\" stroke=\"#888\" stroke-dasharray=\"3,3\"/>\n";
    for (const int64_t x : ax.breaks()) {
        const std::string at = number(left + cell * (static_cast<double>(x) + 0.5));
        out += "<line class=\"break\" x1=\"" + at + "\" y1=\"" + number(top) + "\" x2=\"" + at +
               "\" y2=\"" + number(top + h) + dashed;
    }
    for (const int64_t z : az.breaks()) {
        const std::string at = number(top + cell * (static_cast<double>(z) + 0.5));
        out += "<line class=\"break\" x1=\"" + number(left) + "\" y1=\"" + at + "\" x2=\"" +
               number(left + w) + "\" y2=\"" + at + dashed;
    }
    for (const auto &[at, c] : own) {
        const auto [cz, cx] = at;
        const std::string where = "x=\"" + number(left + cell * static_cast<double>(cx)) +
                                  "\" y=\"" + number(top + cell * static_cast<double>(cz)) +
                                  "\" width=\"" + number(cell) + "\" height=\"" + number(cell) +
                                  "\"";
        const std::string what =
            "<title>chunk" + std::string(k == 1 ? " " : "s from ") +
            std::to_string(ax.chunk_at(cx)) + ", " + std::to_string(az.chunk_at(cz)) + ": " +
            (c.unreadable ? std::string("could not be read") : std::to_string(c.count)) +
            "</title>";
        out += c.unreadable ? "<rect class=\"chunk unreadable\" " + where +
                                  " fill=\"url(#hatch)\" stroke=\"#c00\">" + what + "</rect>\n"
                            : "<rect class=\"chunk\" " + where + " fill=\"" + shade(c.count, max) +
                                  "\">" + what + "</rect>\n";
    }
    // The legend: its lines, the scale from 0 to the largest count, and the
    // mark of a chunk that could not be read.
    for (size_t i = 0; i < legend.size(); ++i) {
        out += "<text x=\"" + number(lx) + "\" y=\"" + number(top + 16 * static_cast<double>(i)) +
               "\">" + xml_escape(legend[i]) + "</text>\n";
    }
    for (int i = 0; i <= 4; ++i) {
        const uint64_t v = max * static_cast<uint64_t>(i) / 4;
        const double y = scale_top + 22 * i;
        out += "<rect x=\"" + number(lx) + "\" y=\"" + number(y) +
               "\" width=\"16\" height=\"16\" fill=\"" + shade(v, max) +
               "\" stroke=\"#999\"/><text x=\"" + number(lx + 22) + "\" y=\"" + number(y + 12) +
               "\">" + std::to_string(v) + "</text>\n";
    }
    const double uy = scale_top + 22 * 5;
    out += "<rect x=\"" + number(lx) + "\" y=\"" + number(uy) +
           "\" width=\"16\" height=\"16\" fill=\"url(#hatch)\" stroke=\"#c00\"/><text x=\"" +
           number(lx + 22) + "\" y=\"" + number(uy + 12) + "\">could not be read</text>\n";
    out += "</svg>\n";
    return out;
}
