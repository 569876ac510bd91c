// Which existing blocks an ore may replace: the one precedence rule for
// flat and sectioned chunks alike.
#ifndef LODECAST_PLACEMENT_RULE_H
#define LODECAST_PLACEMENT_RULE_H

#include <cstdint>

// The game's stone id; its data value tells the rock apart.
constexpr int stone_id = 1;

// Whether a stone block of this data value is a natural rock (stone,
// granite, diorite, andesite: 0, 1, 3, 5) rather than a polished one (2,
// 4, 6), which a player placed and the default rule leaves alone.
bool natural_rock(int data);

// Whether an ore of id may replace the block cur under the options in set
// (OPT_OVER_*). stone: cur counts as the stone the default rule replaces.
// id is the ore as a signed 16-bit number, so an id out of range never
// equals cur.
bool ore_may_replace(int cur, int id, uint32_t set, bool stone);

#endif
