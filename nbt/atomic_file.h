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
//
// After the rename the target's folder is synced, so that the new name is
// durable when the call returns, unless folder syncs are turned off (see
// set_folder_sync). A write through a link into another folder syncs that
// folder in any case: the caller cannot know it. A folder that cannot be
// synced does not fail the call (the rename has happened).
int replace_file(const char *path, const unsigned char *data, size_t n);

// Process-wide switch for replace_file's folder sync; on by default. A
// caller that writes many files may turn it off and sync each folder once,
// after its last rename, with sync_folder: the files are complete either
// way (each is synced before its rename), only the moment at which the new
// names are durable moves. Safe to call from any thread.
void set_folder_sync(bool on);
bool folder_sync_enabled();

// Syncs the folder dir, making the renames done in it durable. true on
// success; false when it cannot be opened or the file system refuses.
bool sync_folder(const char *dir);

// How many folder syncs (successful or not) this process has attempted,
// through replace_file or sync_folder: lets tests see who syncs what.
unsigned long folder_syncs_attempted();

} // namespace nbt_detail

#endif
