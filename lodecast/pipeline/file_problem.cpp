#include "lodecast/pipeline/file_problem.h"

#include "nbt/nbt.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string unreadable_reason(int nbt_status, int err) {
    if (nbt_status == NBT_EMEM) {
        return nbt_status_name(nbt_status);
    }
    if (nbt_status == NBT_EGZ) {
        return err != 0 ? std::strerror(err) : nbt_status_name(nbt_status);
    }
    return "not a valid NBT file (damaged or truncated)";
}

std::string unreadable_reason(const std::string &path, int nbt_status) {
    if (nbt_status == NBT_EMEM) {
        return nbt_status_name(nbt_status);
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::strerror(errno);
    }
    struct stat st {};
    const bool directory = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    ::close(fd);
    return unreadable_reason(directory ? NBT_EGZ : nbt_status, directory ? EISDIR : 0);
}
