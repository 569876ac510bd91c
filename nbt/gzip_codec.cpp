#include "nbt/gzip_codec.h"

#include "nbt/fd.h"
#include "nbt/gzip_backends.h"
#include "nbt/nbt.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nbt_detail {

namespace {

// Shortest possible gzip member: 10-byte header, an empty final block,
// 8-byte trailer.
constexpr size_t min_member = 20;

// Decompressed sizes above this are not trusted as a first guess, so a
// corrupt trailer cannot make one file reserve gigabytes up front.
constexpr uint32_t max_size_hint = 64u << 20;

bool starts_member(const unsigned char *p, size_t n) {
    return n >= 2 && p[0] == 0x1f && p[1] == 0x8b;
}

// The last member's trailer ends with its decompressed size modulo 2^32:
// exact for the usual one-member file, a fair first guess otherwise.
size_t size_hint(const unsigned char *in, size_t n) {
    if (n < min_member) {
        return 4096;
    }
    const unsigned char *t = in + n - 4;
    uint32_t isize =
        uint32_t{t[0]} | uint32_t{t[1]} << 8 | uint32_t{t[2]} << 16 | uint32_t{t[3]} << 24;
    if (isize == 0 || isize > max_size_hint) {
        return 4 * n;
    }
    return isize;
}

int decode_member(gzip_library lib, const unsigned char *in, size_t n, ByteBuffer &out,
                  size_t *used) {
    if (lib == gzip_library::libdeflate && libdeflate_available()) {
        return libdeflate_decode_member(in, n, out, used);
    }
    return zlib_decode_member(in, n, out, used);
}

} // namespace

bool libdeflate_available() {
#ifdef LODECAST_HAVE_LIBDEFLATE
    return true;
#else
    return false;
#endif
}

gzip_library default_gzip_library() {
    return libdeflate_available() ? gzip_library::libdeflate : gzip_library::zlib;
}

int gzip_decode(const unsigned char *in, size_t n, ByteBuffer &out, gzip_library lib) {
    if (!starts_member(in, n)) {
        return out.append(in, n) ? NBT_OK : NBT_EMEM;
    }
    size_t hint = size_hint(in, n);
    if (out.spare_size() < hint && !out.reserve(out.size() + hint)) {
        return NBT_EMEM;
    }
    size_t pos = 0;
    do {
        size_t used = 0;
        int r = decode_member(lib, in + pos, n - pos, out, &used);
        if (r != NBT_OK) {
            return r;
        }
        pos += used;
        // Anything after a member that is not another member is ignored,
        // as gzip readers commonly treat trailing bytes.
    } while (starts_member(in + pos, n - pos));
    return NBT_OK;
}

int gzip_encode(const unsigned char *in, size_t n, ByteBuffer &out, gzip_library lib) {
    if (lib == gzip_library::libdeflate && libdeflate_available()) {
        return libdeflate_encode(in, n, out);
    }
    return zlib_encode(in, n, out);
}

int read_whole_file(const char *path, ByteBuffer &out) {
    Fd fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return NBT_EGZ;
    }
    struct stat st {};
    // One more byte than the size, so the read that finds the end needs no
    // growth; a file that changes size meanwhile is still read to its end.
    size_t want = 4096;
    if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        want = static_cast<size_t>(st.st_size) + 1;
    }
    if (out.spare_size() < want && !out.reserve(out.size() + want)) {
        return NBT_EMEM;
    }
    for (;;) {
        if (out.spare_size() == 0 && !grow_output(out)) {
            return NBT_EMEM;
        }
        size_t step = out.spare_size() < (size_t{1} << 30) ? out.spare_size() : size_t{1} << 30;
        ssize_t got = ::read(fd.get(), out.spare(), step);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return NBT_ERR;
        }
        if (got == 0) {
            return NBT_OK;
        }
        out.grow_size(static_cast<size_t>(got));
    }
}

int read_gzip_file(const char *path, ByteBuffer &out) {
    thread_local ByteBuffer raw;
    raw.clear();
    int r = read_whole_file(path, raw);
    if (r == NBT_OK) {
        r = gzip_decode(raw.data(), raw.size(), out);
    }
    release_if_large(raw);
    return r;
}

} // namespace nbt_detail
