// The run's one pseudo-random sequence: 15-bit draws (0..32767) from a fixed,
// portable algorithm, so that one seed gives the same veins everywhere.
#ifndef LODECAST_RANDOM_H
#define LODECAST_RANDOM_H

#include <cstdint>

// Restart the sequence from seed. Any value is valid.
void ore_srand(uint32_t seed);

// Next draw, an integer in 0..32767. The algorithm is the portable example
// generator of the C standard (32-bit state, multiplier 1103515245,
// increment 12345, bits 16..30 of the new state), so a seed gives the same
// draws on every platform. Before any ore_srand the state is 1.
int ore_rand();

#endif
