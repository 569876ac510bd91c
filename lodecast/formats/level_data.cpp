#include "lodecast/formats/level_data.h"

#include "nbt/nbt_io.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

level_read read_level_dat(const std::string &world, nbt::document &out) {
    const int fd = ::open((world + "/level.dat").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT ? level_read::absent : level_read::unreadable;
    }
    struct stat st {};
    level_read r =
        ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? level_read::ok : level_read::unreadable;
    if (r == level_read::ok && static_cast<uint64_t>(st.st_size) > max_level_file_bytes) {
        r = level_read::over_limits;
    }
    std::vector<unsigned char> bytes;
    if (r == level_read::ok) {
        // One byte more than examined tells a file that grew since.
        bytes.resize(static_cast<size_t>(st.st_size) + 1);
        size_t have = 0;
        ssize_t n = 0;
        while (have < bytes.size() &&
               ((n = ::read(fd, bytes.data() + have, bytes.size() - have)) > 0 ||
                (n < 0 && errno == EINTR))) {
            have += n > 0 ? static_cast<size_t>(n) : 0;
        }
        r = n < 0                         ? level_read::unreadable
            : have > max_level_file_bytes ? level_read::over_limits
                                          : level_read::ok;
        bytes.resize(have);
    }
    ::close(fd);
    if (r != level_read::ok) {
        return r;
    }
    out = nbt::make_document();
    const nbt_read_limits limits{max_level_decoded_bytes, max_level_tags, 0};
    const int status =
        !out ? NBT_EMEM
             : nbt_parse_memory(out.get(), bytes.data(), bytes.size(), NBT_GZIP, &limits, nullptr);
    if (status == NBT_OK) {
        return level_read::ok;
    }
    out.reset();
    return status == NBT_ELIMIT ? level_read::over_limits : level_read::unreadable;
}
