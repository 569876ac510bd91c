// The command line: usage text and option parsing.
#ifndef LODECAST_CLI_H
#define LODECAST_CLI_H

#include "lodecast/options.h"

// Print the usage text on standard error.
void print_usage(const char *name);

// Examine every entry of argv as an option and fill opt (set is not
// cleared here; rounds, min_depth, max_depth and size are).
void parse_options(int argc, char **argv, options *opt);

#endif
