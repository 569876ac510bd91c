// The blocks of a chunk that hold a block entity (a chest's items, a
// spawner, a sign's text): an entry of the chunk's "TileEntities" (or
// "block_entities") list at their position. Such a block is never
// replaced, whatever the rule: its entry would be left behind.
#ifndef LODECAST_BLOCK_ENTITIES_H
#define LODECAST_BLOCK_ENTITIES_H

#include "nbt/nbt.h"

#include <cstdint>
#include <vector>

class block_entities {
  public:
    // Reads the positions of the list tag's compounds ({x, y, z} in world
    // coordinates); null or anything but such a list holds none.
    void bind(nbt_tag *list);
    // Whether chunk-local (x, z) at height y holds one.
    bool at(int x, int y, int z) const;

  private:
    static int64_t key(int x, int y, int z);
    std::vector<int64_t> keys_; // sorted
};

// The finished flag of chunks before palettes: "TerrainPopulated" 0 in
// "Level" says the game has not decorated the chunk yet (its ores come
// later); a chunk without the tag counts as finished.
bool terrain_populated(nbt_tag *root);

#endif
