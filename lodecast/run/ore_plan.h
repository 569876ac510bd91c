// The ores of a run, however the command line gives them: one ore (an id
// or a name), a list of them ("16,15,Gold"), each with the command line's
// options and its own defaults, or "@<file>", a profile: one ore per line,
// "<ore> [generation options]", where "#" starts a comment and a line's
// options (-r -mn -mx -s -d -oo -ob -oa) override the command line's for
// that ore. Every ore is read by the world's storage kind, the same way
// wherever it stands. Each chunk is read and written once and gets the
// veins of every ore in the order given, all drawn from the run's one
// generator.
#ifndef LODECAST_ORE_PLAN_H
#define LODECAST_ORE_PLAN_H

#include "lodecast/run/options.h"
#include "lodecast/storage/storage_kind.h"

#include <string>
#include <vector>

// The ores named by arg into out. base holds the command line's options
// (heights already taken modulo the kind's). false with the message to
// print in error when arg cannot be read.
bool read_ore_plan(const std::string &arg, const options &base, const storage_kind &kind,
                   std::vector<ore_plan> &out, std::string &error);

#endif
