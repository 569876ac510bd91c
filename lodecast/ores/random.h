// The run's one pseudo-random sequence: 15-bit draws (0..32767) from a fixed,
// portable algorithm, so that one seed gives the same veins everywhere.
#ifndef LODECAST_RANDOM_H
#define LODECAST_RANDOM_H

#include <cstdint>
#include <functional>

// Restart the sequence from seed. Any value is valid.
void ore_srand(uint32_t seed);

// Next draw, an integer in 0..32767. The algorithm is the portable example
// generator of the C standard (32-bit state, multiplier 1103515245,
// increment 12345, bits 16..30 of the new state), so a seed gives the same
// draws on every platform. Before any ore_srand the state is 1.
int ore_rand();

// Test seam for the run's generator: lets a test script the exact draws
// that the vein generator sees. The program itself never installs a source.

// While a source is installed, ore_rand() returns what it returns (the caller
// keeps it within 0..32767) and the seeded sequence does not advance. An
// empty function is the same as reset_draw_source().
void set_draw_source(std::function<int()> source);

// Go back to the seeded sequence, which resumes where it stood.
void reset_draw_source();

#endif
