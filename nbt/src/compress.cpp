#include "compress.h"

#include <cerrno>
#include <cstdint>
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

// The last member's trailer ends with its decompressed size modulo 2^32:
// exact for the usual one-member file, a fair first guess otherwise. A zlib
// stream tells nothing of its size.
size_t size_hint(wrapper w, const unsigned char *in, size_t n) {
    if (w == wrapper::zlib || n < min_member) {
        return 4 * n > 4096 ? 4 * n : 4096;
    }
    const unsigned char *t = in + n - 4;
    uint32_t isize =
        uint32_t{t[0]} | uint32_t{t[1]} << 8 | uint32_t{t[2]} << 16 | uint32_t{t[3]} << 24;
    if (isize == 0 || isize > max_size_hint) {
        return 4 * n;
    }
    return isize;
}

int decode_member(nbt_codec &c, deflate_library lib, wrapper w, const unsigned char *in, size_t n,
                  ByteBuffer &out, size_t cap, size_t *used) {
    if (lib == deflate_library::libdeflate && libdeflate_available()) {
        return libdeflate_decode_member(c, w, in, n, out, cap, used);
    }
    return zlib_decode_member(c, w, in, n, out, cap, used);
}

} // namespace

bool libdeflate_available() {
#ifdef LODECAST_HAVE_LIBDEFLATE
    return true;
#else
    return false;
#endif
}

deflate_library default_library() {
    return libdeflate_available() ? deflate_library::libdeflate : deflate_library::zlib;
}

int decode(nbt_codec &c, wrapper w, const unsigned char *in, size_t n, ByteBuffer &out,
           const decode_rules &rules, deflate_library lib) {
    const size_t cap =
        rules.max_out > SIZE_MAX - out.size() ? SIZE_MAX : out.size() + rules.max_out;
    size_t hint = size_hint(w, in, n);
    if (hint > cap - out.size()) {
        hint = cap - out.size();
    }
    if (out.spare_size() < hint && !out.reserve(out.size() + hint)) {
        return NBT_EMEM;
    }
    size_t pos = 0;
    do {
        size_t used = 0;
        int r = decode_member(c, lib, w, in + pos, n - pos, out, cap, &used);
        if (r != NBT_OK) {
            return r;
        }
        pos += used;
        // Anything after a gzip member that is not another member is
        // ignored, as gzip readers commonly treat trailing bytes; a zlib
        // stream has no second member.
    } while (w == wrapper::gzip && starts_gzip_member(in + pos, n - pos));
    return rules.exact_end && pos != n ? NBT_ELIMIT : NBT_OK;
}

int encode(nbt_codec &c, wrapper w, const unsigned char *in, size_t n, ByteBuffer &out,
           deflate_library lib) {
    if (lib == deflate_library::libdeflate && libdeflate_available()) {
        return libdeflate_encode(c, w, in, n, out);
    }
    return zlib_encode(c, w, in, n, out);
}

int read_all(int fd, ByteBuffer &out) {
    struct stat st {};
    // One more byte than the size, so the read that finds the end needs no
    // growth; a file that changes size meanwhile is still read to its end.
    size_t want = 4096;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        want = static_cast<size_t>(st.st_size) + 1;
    }
    if (out.spare_size() < want && !out.reserve(out.size() + want)) {
        return NBT_EMEM;
    }
    for (;;) {
        if (out.spare_size() == 0 && grow_output(out, SIZE_MAX) != NBT_OK) {
            return NBT_EMEM;
        }
        size_t step = out.spare_size() < (size_t{1} << 30) ? out.spare_size() : size_t{1} << 30;
        ssize_t got = ::read(fd, out.spare(), step);
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

} // namespace nbt_detail
