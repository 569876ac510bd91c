// The tool's program flow, apart from main so that it can be tested.
#ifndef LODECAST_PROGRAM_H
#define LODECAST_PROGRAM_H

// Seed the generator from the clock, check the arguments, read the ore id,
// parse the options (re-seeding with -seed's value when given), apply the
// ore's defaults and walk the world at argv[1] with -j's number of threads
// (one per core by default).
// Returns the exit status: the walk's result (update_world), or 1 for a
// usage error or an ore id without a number. Writes only to standard error.
int run_lodecast(int argc, char **argv);

#endif
