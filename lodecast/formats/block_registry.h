// The block names of a world saved with a mod loader: level.dat > "FML" >
// "Registries" > "minecraft:blocks" > "ids", or for the older loader "FML"
// > "ItemData" (names with a leading \x01 byte are blocks), each a list of
// {K: name, V: id}.
#ifndef LODECAST_BLOCK_REGISTRY_H
#define LODECAST_BLOCK_REGISTRY_H

#include <string>
#include <vector>

class block_registry {
  public:
    // Reads the registry of the world's level.dat; false when there is
    // none (no level.dat, or no loader's registry in it).
    bool load(const std::string &world);

    // The id of name, or -1.
    int id_of(const std::string &name) const;
    // The name of id, or "".
    std::string name_of(int id) const;
    // Up to most names like name: those containing it or contained in it,
    // then the fewest edits away, nearest first.
    std::vector<std::string> close_matches(const std::string &name, size_t most = 5) const;

  private:
    struct entry {
        std::string name;
        int id;
    };
    std::vector<entry> entries_;
};

#endif
