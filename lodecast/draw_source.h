// Test seam for the run's generator: lets a test script the exact draws that
// the vein generator sees. The program itself never installs a source.
#ifndef LODECAST_DRAW_SOURCE_H
#define LODECAST_DRAW_SOURCE_H

#include <functional>

// While a source is installed, ore_rand() returns what it returns (the caller
// keeps it within 0..32767) and the seeded sequence does not advance. An
// empty function is the same as reset_draw_source().
void set_draw_source(std::function<int()> source);

// Go back to the seeded sequence, which resumes where it stood.
void reset_draw_source();

#endif
