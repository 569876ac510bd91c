// Several ores in one pass over the world: each chunk is read and written
// once, and gets the veins of every ore in the order given, all drawn from
// the run's one generator.
#ifndef LODECAST_ORE_PLAN_H
#define LODECAST_ORE_PLAN_H

#include "lodecast/run/options.h"

#include <cstdint>
#include <string>
#include <vector>

// One ore of a run and its generation options.
struct ore_pass {
    int16_t ore_id;
    options opt;
};

// The ores named by arg, the ore argument of the command line: a list of
// ids or known ore names separated by commas ("16,15,Gold"), each with the
// command line's options and its own defaults, or "@<file>", a profile: one
// ore per line, "<id or name> [generation options]", where "#" starts a
// comment; a line's options (-r -mn -mx -s -d -oo -ob -oa) override the
// command line's for that ore. base holds the command line's options.
// false with a message in error when arg cannot be read.
// In a sectioned world (sectioned), ids run up to 4095 and heights to 255.
bool read_ore_plan(const std::string &arg, const options &base, std::vector<ore_pass> &out,
                   std::string &error, bool sectioned = false);

// Whether arg names several ores (a list or a profile) rather than one id.
bool is_ore_plan(const char *arg);

#endif
