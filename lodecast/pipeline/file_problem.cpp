#include "lodecast/pipeline/file_problem.h"

#include "nbt/nbt.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string unreadable_reason(const std::string &path, int nbt_status) {
    if (nbt_status == NBT_EMEM) {
        return "out of memory";
    }
    // The library does not promise to keep errno; ask the system again.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::strerror(errno);
    }
    struct stat st {};
    const bool directory = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    ::close(fd);
    if (directory) {
        return std::strerror(EISDIR); // opens fine but reads as garbage
    }
    return nbt_status == NBT_EGZ ? "cannot open" : "not a valid NBT file (damaged or truncated)";
}
