#include "lodecast/census/chunk_map.h"

#include "lodecast/census/census_render.h"

#include <algorithm>
#include <cstdio>
#include <map>

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

// At most this many cells across or down: a world wider than that (two
// regions millions of chunks apart) is scaled, k x k chunks to a cell, so
// the map's size is bounded whatever the coordinates.
constexpr int64_t max_cells_across = 256;

// The cells of k x k chunks, their counts summed, unreadable when any
// chunk of theirs is; coordinates are the cells' (chunk / k, rounded down).
std::vector<map_cell> scaled(const std::vector<map_cell> &cells, int64_t k, int64_t x0,
                             int64_t z0) {
    std::map<std::pair<int64_t, int64_t>, map_cell> merged;
    for (const map_cell &c : cells) {
        map_cell &m = merged[{(c.x - x0) / k, (c.z - z0) / k}];
        m.x = static_cast<int32_t>((c.x - x0) / k);
        m.z = static_cast<int32_t>((c.z - z0) / k);
        m.count += c.unreadable ? 0 : c.count;
        m.unreadable = m.unreadable || c.unreadable;
    }
    std::vector<map_cell> out;
    for (const auto &[at, m] : merged) {
        out.push_back(m);
    }
    return out;
}

} // namespace

std::string render_chunk_map(const std::vector<map_cell> &chunks, const std::string &title,
                             const std::string &legend) {
    int64_t x0 = 0, x1 = 0, z0 = 0, z1 = 0;
    for (size_t i = 0; i < chunks.size(); ++i) {
        const map_cell &c = chunks[i];
        x0 = i == 0 ? c.x : std::min<int64_t>(x0, c.x);
        x1 = i == 0 ? c.x : std::max<int64_t>(x1, c.x);
        z0 = i == 0 ? c.z : std::min<int64_t>(z0, c.z);
        z1 = i == 0 ? c.z : std::max<int64_t>(z1, c.z);
    }
    // k chunks to a cell side; cell coordinates below are in cells.
    const int64_t k = (std::max(x1 - x0, z1 - z0) + max_cells_across) / max_cells_across;
    const std::vector<map_cell> cells = k == 1 ? chunks : scaled(chunks, k, x0, z0);
    if (k > 1) {
        x1 = (x1 - x0) / k;
        z1 = (z1 - z0) / k;
    }
    const int64_t first_x = x0, first_z = z0; // the chunk at the top left
    x0 = k == 1 ? x0 : 0;
    z0 = k == 1 ? z0 : 0;
    uint64_t max = 0;
    for (const map_cell &c : cells) {
        max = c.unreadable ? max : std::max(max, c.count);
    }
    const auto chunk_x = [&](int64_t x) { return k == 1 ? x : first_x + x * k; };
    const auto chunk_z = [&](int64_t z) { return k == 1 ? z : first_z + z * k; };
    const int64_t span = std::max(x1 - x0, z1 - z0) + 1;
    // Cells shrink for large worlds so that the map stays about 640 wide.
    const double cell = std::clamp(640.0 / static_cast<double>(span), 1.0, 24.0);
    const double left = 60, top = 60;
    const double w = cell * static_cast<double>(x1 - x0 + 1);
    const double h = cell * static_cast<double>(z1 - z0 + 1);
    const double width = left + w + 200, height = std::max(top + h + 30, 260.0);
    // A label every `every` cells, at least 40 pixels apart.
    const int64_t every = std::max<int64_t>(1, static_cast<int64_t>(40.0 / cell + 0.999));
    const std::string scale = k == 1 ? ""
                                     : "; scaled to fit: each cell is " + std::to_string(k) +
                                           " x " + std::to_string(k) + " chunks";

    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(width) + "\" height=\"" +
           number(height) + "\" font-family=\"sans-serif\" font-size=\"11\">\n";
    out += "<defs><pattern id=\"hatch\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\">"
           "<path d=\"M0,6 L6,0\" stroke=\"#c00\" stroke-width=\"1\"/></pattern></defs>\n";
    out += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    out += "<text x=\"" + number(left) + "\" y=\"20\" font-size=\"14\">" + xml_escape(title) +
           "</text>\n";
    out += "<text x=\"" + number(left) + "\" y=\"36\">x to the right, z downwards (chunks" + scale +
           ")</text>\n";
    for (int64_t x = x0; x <= x1; ++x) {
        if ((x - x0) % every == 0) {
            out += "<text x=\"" + number(left + cell * static_cast<double>(x - x0) + cell / 2) +
                   "\" y=\"" + number(top - 6) + "\" text-anchor=\"middle\">" +
                   std::to_string(chunk_x(x)) + "</text>\n";
        }
    }
    for (int64_t z = z0; z <= z1; ++z) {
        if ((z - z0) % every == 0) {
            out += "<text x=\"" + number(left - 6) + "\" y=\"" +
                   number(top + cell * static_cast<double>(z - z0) + cell / 2 + 4) +
                   "\" text-anchor=\"end\">" + std::to_string(chunk_z(z)) + "</text>\n";
        }
    }
    for (const map_cell &c : cells) {
        const std::string at = "x=\"" + number(left + cell * static_cast<double>(c.x - x0)) +
                               "\" y=\"" + number(top + cell * static_cast<double>(c.z - z0)) +
                               "\" width=\"" + number(cell) + "\" height=\"" + number(cell) + "\"";
        const std::string what =
            "<title>chunk" + std::string(k == 1 ? " " : "s from ") + std::to_string(chunk_x(c.x)) +
            ", " + std::to_string(chunk_z(c.z)) + ": " +
            (c.unreadable ? std::string("could not be read") : std::to_string(c.count)) +
            "</title>";
        out += c.unreadable ? "<rect class=\"chunk unreadable\" " + at +
                                  " fill=\"url(#hatch)\" stroke=\"#c00\">" + what + "</rect>\n"
                            : "<rect class=\"chunk\" " + at + " fill=\"" + shade(c.count, max) +
                                  "\">" + what + "</rect>\n";
    }
    // The legend: the scale from 0 to the largest count, and the mark of a
    // chunk that could not be read.
    const double lx = left + w + 30;
    out += "<text x=\"" + number(lx) + "\" y=\"" + number(top) + "\">" + xml_escape(legend) +
           "</text>\n";
    for (int i = 0; i <= 4; ++i) {
        const uint64_t v = max * static_cast<uint64_t>(i) / 4;
        const double y = top + 10 + 22 * i;
        out += "<rect x=\"" + number(lx) + "\" y=\"" + number(y) +
               "\" width=\"16\" height=\"16\" fill=\"" + shade(v, max) +
               "\" stroke=\"#999\"/><text x=\"" + number(lx + 22) + "\" y=\"" + number(y + 12) +
               "\">" + std::to_string(v) + "</text>\n";
    }
    const double uy = top + 10 + 22 * 5;
    out += "<rect x=\"" + number(lx) + "\" y=\"" + number(uy) +
           "\" width=\"16\" height=\"16\" fill=\"url(#hatch)\" stroke=\"#c00\"/><text x=\"" +
           number(lx + 22) + "\" y=\"" + number(uy + 12) + "\">could not be read</text>\n";
    out += "</svg>\n";
    return out;
}
