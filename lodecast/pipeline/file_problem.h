// The one way the programs say why a file could not be read.
#ifndef LODECAST_FILE_PROBLEM_H
#define LODECAST_FILE_PROBLEM_H

#include <string>

// Why nbt_parse could not read a file, in words, from its failed status and
// the errno it left: the system's reason when the file cannot be opened
// ("Is a directory" for a folder), "out of memory", or that it is damaged.
std::string unreadable_reason(int nbt_status, int err);

// The same for a file read by other means, which leave no errno: the file
// at path is opened again to ask the system.
std::string unreadable_reason(const std::string &path, int nbt_status);

#endif
