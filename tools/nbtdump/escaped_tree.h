// A world's names and strings may hold any bytes, escape sequences among
// them; nbtdump prints them to a terminal, so control characters are
// escaped first (\x1b), as lodecast shows names.
#ifndef NBTDUMP_ESCAPED_TREE_H
#define NBTDUMP_ESCAPED_TREE_H

#include "nbt/nbt.h"

namespace nbtdump {

// Rewrites every name and string below tag (itself included) with its
// control characters escaped. false when out of memory.
bool escape_controls(nbt_tag *tag);

} // namespace nbtdump

#endif
