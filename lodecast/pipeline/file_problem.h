// The one way the programs say why a file could not be read.
#ifndef LODECAST_FILE_PROBLEM_H
#define LODECAST_FILE_PROBLEM_H

#include <string>

// Why the file at path could not be read as an NBT document, in words, for
// the library's failed status: the system's reason when it cannot be
// opened, "out of memory", "Is a directory", or that it is damaged.
std::string unreadable_reason(const std::string &path, int nbt_status);

#endif
