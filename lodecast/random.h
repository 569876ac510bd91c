// The run's one pseudo-random sequence: 15-bit draws (0..32767) from a fixed,
// portable algorithm, so that one seed gives the same veins everywhere.
#ifndef LODECAST_RANDOM_H
#define LODECAST_RANDOM_H

#include <cstdint>

void ore_srand(uint32_t seed);
int ore_rand();

#endif
