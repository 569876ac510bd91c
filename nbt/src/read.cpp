// Reading a whole file: it is read with plain reads and handed to the
// reader of documents in memory.

#include "codec.h"
#include "compress.h"
#include "durable/fd.h"
#include "nbt/nbt_io.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>

extern "C" {

int nbt_init(nbt_file **nbt) {
    *nbt = static_cast<nbt_file *>(std::malloc(sizeof(nbt_file)));
    if (*nbt == nullptr) {
        return NBT_EMEM;
    }
    (*nbt)->fp = nullptr;
    (*nbt)->root = nullptr;
    return NBT_OK;
}

int nbt_parse(nbt_file *nbt, const char *filename) {
    nbt->root = nullptr;
    // Non-blocking, so that a FIFO cannot hold the open up; it is refused
    // below with every other kind of file that is not a regular one.
    durable::Fd fd(durable::above_standard(::open(filename, O_RDONLY | O_NONBLOCK | O_CLOEXEC)));
    if (fd.get() < 0) {
        return NBT_EGZ; // errno says why
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        // A folder opens, but is no file: said as the system says it.
        const bool folder = S_ISDIR(st.st_mode);
        fd.close();
        errno = folder ? EISDIR : errno;
        return folder ? NBT_EGZ : NBT_ERR;
    }
    nbt_detail::CodecFor codec(nullptr);
    if (codec.get() == nullptr) {
        return NBT_EMEM;
    }
    nbt_detail::ByteBuffer &raw = codec.get()->raw;
    int r = nbt_detail::read_all(fd.get(), raw);
    if (r == NBT_OK) {
        r = nbt_parse_memory(nbt, raw.data(), raw.size(), NBT_GZIP, nullptr, codec.get());
    }
    return r;
}

} // extern "C"
