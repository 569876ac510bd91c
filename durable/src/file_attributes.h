// What a replacement file takes over from the file it replaces: group,
// owner (only root may give a file away), extended attributes with the
// ACLs among them, and permission bits that never grant more than before.
#ifndef DURABLE_FILE_ATTRIBUTES_H
#define DURABLE_FILE_ATTRIBUTES_H

#include "durable/durable.h"

#include <sys/stat.h>

namespace durable {

// Gives the new file fd the group and owner of old where allowed and copies
// the extended attributes of the file named name in the folder dir. Fills
// report and returns the permission bits fd should get once its content is
// written (writing clears set-id bits, so they are set last).
mode_t carry_attributes(int fd, int dir, const char *name, const struct stat &old,
                        durable_report &report);

// The permission bits of a file that did not exist: 0644 less the umask.
mode_t new_file_mode();

} // namespace durable

#endif
