#include "lodecast/census/census_render.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>

namespace {

// printf into a std::string.
__attribute__((format(printf, 2, 3))) void appendf(std::string &out, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list again;
    va_copy(again, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    if (n > 0) {
        size_t at = out.size();
        out.resize(at + static_cast<size_t>(n) + 1);
        std::vsnprintf(out.data() + at, static_cast<size_t>(n) + 1, fmt, again);
        out.resize(at + static_cast<size_t>(n));
    }
    va_end(again);
}

uint64_t band_count(const ore_tally &t, int band) {
    uint64_t sum = 0;
    for (int y = band * band_height; y < (band + 1) * band_height; ++y) {
        sum += t.per_y[static_cast<size_t>(y)];
    }
    return sum;
}

// Colours the known ores are usually pictured in; others take the palette.
const char *series_colour(int id, size_t index) {
    switch (id) {
    case 16:
        return "#222222";
    case 15:
        return "#b5835a";
    case 14:
        return "#e0b000";
    case 73:
        return "#d01010";
    case 56:
        return "#20b8c8";
    case 21:
        return "#2050c0";
    default:
        break;
    }
    static const char *const palette[] = {"#8e44ad", "#27ae60", "#e67e22", "#7f8c8d",
                                          "#c0392b", "#16a085", "#2c3e50", "#d35400"};
    return palette[index % (sizeof palette / sizeof palette[0])];
}

// The smallest 1, 2 or 5 times a power of ten that splits max into at most
// five steps.
uint64_t tick_step(uint64_t max) {
    for (uint64_t scale = 1;; scale *= 10) {
        for (uint64_t m : {1, 2, 5}) {
            if (max <= m * scale * 5) {
                return m * scale;
            }
        }
    }
}

} // namespace

std::string xml_escape(const std::string &text) {
    std::string out;
    for (char ch : text) {
        switch (ch) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            bool control = static_cast<unsigned char>(ch) < 0x20 && ch != '\t' && ch != '\n';
            out += control ? '?' : ch;
        }
    }
    return out;
}

std::string render_report(const census &c, const std::string &world) {
    std::string out;
    appendf(out, "World %s: %" PRIu64 " chunks counted, %zu skipped (unreadable or invalid)\n",
            world.c_str(), c.chunks_counted, c.skipped.size());
    if (!c.skipped_dirs.empty()) {
        appendf(out, "%zu directories could not be read\n", c.skipped_dirs.size());
    }
    for (const ore_tally &t : c.ores) {
        appendf(out, "\n%s: %" PRIu64 " blocks in %" PRIu64 " chunks\n", tally_label(t).c_str(),
                t.total, t.chunks);
        uint64_t max = 0;
        for (int b = 0; b < c.height / band_height; ++b) {
            max = std::max(max, band_count(t, b));
        }
        for (int b = c.height / band_height - 1; b >= 0; --b) {
            uint64_t n = band_count(t, b);
            // Round up so that any band holding blocks shows at least one mark.
            uint64_t len = max == 0 ? 0 : (n * bar_width + max - 1) / max;
            std::string bar(static_cast<size_t>(len), '#');
            bar.resize(bar_width, ' ');
            appendf(out, "  y %3d-%-3d |%s| %" PRIu64 "\n", c.bottom + b * band_height,
                    c.bottom + (b + 1) * band_height - 1, bar.c_str(), n);
        }
    }
    return out;
}

std::string render_csv(const census &c) {
    std::string out = "y";
    for (const ore_tally &t : c.ores) {
        out += ',';
        out += t.name;
    }
    out += '\n';
    for (int y = 0; y < c.height; ++y) {
        appendf(out, "%d", c.bottom + y);
        for (const ore_tally &t : c.ores) {
            appendf(out, ",%" PRIu64, t.per_y[static_cast<size_t>(y)]);
        }
        out += '\n';
    }
    return out;
}

std::vector<std::string> map_legend(const census &c) {
    std::vector<std::string> lines = {"Blocks per chunk of:"};
    for (const ore_tally &t : c.ores) {
        lines.push_back(t.name);
    }
    return lines;
}

std::string render_svg(const census &c, const std::string &world) {
    // Canvas and plot area, in pixels; the legend sits right of the plot,
    // the canvas as wide as its longest entry needs.
    const double left = 80, right = 620, top = 50, bottom = 490;
    size_t longest = 0;
    for (const ore_tally &t : c.ores) {
        longest = std::max(longest, tally_label(t).size() + 2 + std::to_string(t.total).size());
    }
    const double width =
        std::max(820.0, right + 50 + text_char_width * static_cast<double>(longest));
    const double height = std::max(560.0, top + 10 + 20 * static_cast<double>(c.ores.size()));

    uint64_t max = 0;
    for (const ore_tally &t : c.ores) {
        max = std::max(max, *std::max_element(t.per_y.begin(), t.per_y.end()));
    }
    const uint64_t step = tick_step(max);
    const uint64_t axis_max = std::max<uint64_t>(step, (max + step - 1) / step * step);
    auto px = [&](uint64_t count) {
        return left + (right - left) * static_cast<double>(count) / static_cast<double>(axis_max);
    };
    auto py = [&](int y) { return bottom - (bottom - top) * y / (c.height - 1); };

    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    appendf(out,
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
            "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" font-size=\"12\">\n",
            width, height, width, height);
    appendf(out, "<rect width=\"%.0f\" height=\"%.0f\" fill=\"white\"/>\n", width, height);
    out += "<text x=\"" + std::to_string(static_cast<int>(left)) +
           "\" y=\"28\" font-size=\"16\">Ore census of " + xml_escape(world) + "</text>\n";

    // Grid and tick labels.
    out += "<g stroke=\"#dddddd\">\n";
    for (uint64_t v = step; v <= axis_max; v += step) {
        appendf(out, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", px(v), top, px(v),
                bottom);
    }
    for (int y = 16; y < c.height; y += 16) {
        appendf(out, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", left, py(y),
                right, py(y));
    }
    out += "</g>\n<g text-anchor=\"end\">\n";
    for (int y = 0; y < c.height; y += 16) {
        appendf(out, "<text x=\"%.1f\" y=\"%.1f\">%d</text>\n", left - 6, py(y) + 4, c.bottom + y);
    }
    appendf(out, "<text x=\"%.1f\" y=\"%.1f\">%d</text>\n", left - 6, py(c.height - 1) + 4,
            c.bottom + c.height - 1);
    out += "</g>\n<g text-anchor=\"middle\">\n";
    for (uint64_t v = 0; v <= axis_max; v += step) {
        appendf(out, "<text x=\"%.1f\" y=\"%.1f\">%" PRIu64 "</text>\n", px(v), bottom + 18, v);
    }
    appendf(out, "<text x=\"%.1f\" y=\"%.1f\">blocks at that height</text>\n", (left + right) / 2,
            bottom + 42);
    appendf(out,
            "<text x=\"%.1f\" y=\"%.1f\" transform=\"rotate(-90 %.1f %.1f)\">height (y)</text>\n",
            left - 44, (top + bottom) / 2, left - 44, (top + bottom) / 2);
    out += "</g>\n";
    appendf(out, "<path d=\"M %.1f %.1f V %.1f H %.1f\" fill=\"none\" stroke=\"black\"/>\n", left,
            top, bottom, right);

    // One series and one legend entry per id.
    for (size_t i = 0; i < c.ores.size(); ++i) {
        const ore_tally &t = c.ores[i];
        const char *colour = series_colour(t.id, i);
        appendf(out, "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"1.5\" points=\"",
                colour);
        for (int y = 0; y < c.height; ++y) {
            appendf(out, "%s%.1f,%.1f", y == 0 ? "" : " ", px(t.per_y[static_cast<size_t>(y)]),
                    py(y));
        }
        out += "\"><title>" + xml_escape(t.name) + "</title></polyline>\n";
        double ly = top + 10 + 20 * static_cast<double>(i);
        appendf(out,
                "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" "
                "stroke-width=\"3\"/>\n",
                right + 20, ly, right + 44, ly, colour);
        appendf(out, "<text x=\"%.1f\" y=\"%.1f\">", right + 50, ly + 4);
        out += xml_escape(tally_label(t));
        appendf(out, ": %" PRIu64 "</text>\n", t.total);
    }
    out += "</svg>\n";
    return out;
}
