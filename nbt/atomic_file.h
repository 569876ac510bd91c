// Replacing a file so that it is either left exactly as it was or holds
// the whole new content: the bytes go to a temporary file beside it, reach
// the disk, and only then take the target's place by rename.
#ifndef NBT_ATOMIC_FILE_H
#define NBT_ATOMIC_FILE_H

#include <cstddef>

namespace nbt_detail {

// Writes the n bytes at data to path (following a symbolic link to its
// target). The temporary file is named with a leading dot, ".<name>.XXXXXX"
// in the target's folder, and gets the target's permission bits (0644 less
// the umask for a new file). NBT_OK; NBT_EGZ, with nothing touched, when
// the target may not be written or the temporary file cannot be created;
// NBT_ERR when writing, syncing or renaming fails, after removing the
// temporary file and leaving the target as it was.
int replace_file(const char *path, const unsigned char *data, size_t n);

} // namespace nbt_detail

#endif
