// The census as a text report, as CSV and as an SVG chart.
#ifndef LODECAST_CENSUS_CENSUS_RENDER_H
#define LODECAST_CENSUS_CENSUS_RENDER_H

#include "lodecast/census/census.h"

#include <string>
#include <vector>

// Heights are grouped into bands of this many levels in the text report.
constexpr int band_height = 8;
// Width in characters of the longest bar of the text report.
constexpr int bar_width = 40;

// The text report: a summary line, then per id its total, the number of
// chunks holding it and a bar per height band, highest band first (the way
// the world stands).
std::string render_report(const census &c, const std::string &world);

// One header line "y,<name>,<name>..." (names as in ore_tally::name, in
// the census's order), then one line per height 0..c.height-1: the height and
// the number of blocks of each id at it. Lines end in "\n".
std::string render_csv(const census &c);

// A standalone SVG chart: one polyline per id through its count at each
// height, height on the vertical axis (0 at the bottom), count on the
// horizontal axis, with axis labels and a legend. world is shown in the
// title.
std::string render_svg(const census &c, const std::string &world);

// The legend of a chunk map of c: what a cell counts, then each ore by its
// name, one to a line.
std::vector<std::string> map_legend(const census &c);

// Pixels a character of 11 or 12 pixel sans-serif text takes at most, with
// room to spare: legends and titles are given that much room, so that long
// registry and block-state names fit the canvas.
constexpr double text_char_width = 7.5;

// text with the characters XML gives meaning to replaced by entities, and
// control characters XML forbids replaced by '?'.
std::string xml_escape(const std::string &text);

#endif
