// The command line: usage text and option parsing.
#ifndef LODECAST_CLI_H
#define LODECAST_CLI_H

#include "lodecast/run/options.h"
#include "lodecast/storage/block.h"

// Print the usage text on standard error.
void print_usage(const char *name);

// The short summary that --help prints on standard output.
extern const char lodecast_help[];

// Most threads a run starts (-j beyond it is capped).
constexpr int32_t max_threads = 256;

// Examine every entry of argv as an option and fill opt (set is not
// cleared here; rounds, min_depth, max_depth and size are). Besides the
// options of the usage text: -j <n> (threads, clamped into 1..max_threads)
// and -seed <n> (read as -mb's value is). threads and seed keep the values
// the caller put there when their option is missing or unreadable.
// Heights (-mn, -mx) are taken % heights: 128 in flat chunks, 256 in
// sectioned ones.
void parse_options(int argc, char **argv, options *opt, int32_t heights = chunk_height);

// The number of threads a run uses without -j: one per core, at least 1
// and at most max_threads.
int32_t default_threads();

#endif
