// Deep comparison of two NBT trees, for round-trip checks in the tests and
// the fuzz target (no test framework needed).
#ifndef TESTS_SUPPORT_NBT_TREE_EQUAL_H
#define TESTS_SUPPORT_NBT_TREE_EQUAL_H

#include "nbt/nbt.h"

#include <string>

// "" when a and b hold the same types, names, values (floats bit for bit),
// counts and order; otherwise where they first differ, e.g.
// "/Level/Blocks: byte array content". Null tags compare equal to each
// other only. Values of payload-less types (0, 11..255) are not looked at.
std::string nbt_tree_difference(const nbt_tag *a, const nbt_tag *b);

#endif
