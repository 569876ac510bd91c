// The one way the programs say why a file could not be read.
#ifndef LODECAST_FILE_PROBLEM_H
#define LODECAST_FILE_PROBLEM_H

#include <string>

// Why a file could not be read as an NBT document, in words, from the
// library's failed status and the errno left by the open that failed (0
// when it did not): the system's reason when the file cannot be opened
// ("Is a directory" for a folder), "out of memory", or that it is damaged.
std::string unreadable_reason(int nbt_status, int err);

#endif
