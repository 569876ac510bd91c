// Where a world keeps a dimension's chunks. Worlds up to 25.x keep the
// overworld at the top (region/), the nether in DIM-1/ and the end in DIM1/;
// from 26.1 every dimension lives in dimensions/minecraft/<name>/. Modded and
// data-pack dimensions live in dimensions/<namespace>/<name>/ in both. Each
// such folder's region/ holds its terrain; its entities/ and poi/ hold region
// files of other data, which are never walked as chunks.
#ifndef LODECAST_DIMENSION_H
#define LODECAST_DIMENSION_H

#include <string>

// The folder of the dimension that -dim's text names, below world: null for
// the overworld; a number (0 the overworld and -1 the nether and 1 the end
// in the 26.x layout, DIM<n> otherwise); or a name "namespace:name" (a name
// without a namespace is the game's). Empty when the text is neither.
std::string dimension_folder(const std::string &world, const char *dim);

// How the run's record names that dimension: "main", "DIM<n>", or the name;
// the game's three dimensions by their old folders, in both layouts.
// Empty when the text is neither a number nor a name.
std::string dimension_key(const char *dim);

#endif
