#include "nbt/read_file.h"

#include "nbt/nbt.h"

#include <memory>
#include <zlib.h>

namespace nbt_detail {

namespace {

struct GzCloser {
    void operator()(gzFile_s *fp) const { gzclose_r(fp); }
};
using GzReadHandle = std::unique_ptr<gzFile_s, GzCloser>;

constexpr size_t first_capacity = 128 * 1024;
// gzread takes an unsigned count and answers with an int.
constexpr size_t max_read = 1u << 30;

} // namespace

int read_file_bytes(const char *path, ByteBuffer &out) {
    GzReadHandle fp(gzopen(path, "rb"));
    if (!fp) {
        return NBT_EGZ;
    }
    // A larger window into the file means fewer system calls for a chunk.
    gzbuffer(fp.get(), 64 * 1024);
    for (;;) {
        if (out.spare_size() == 0) {
            size_t cap = out.capacity() == 0 ? first_capacity : out.capacity() * 2;
            if (cap < out.capacity() || !out.reserve(cap)) {
                return NBT_EMEM;
            }
        }
        size_t want = out.spare_size() < max_read ? out.spare_size() : max_read;
        int n = gzread(fp.get(), out.spare(), static_cast<unsigned>(want));
        if (n < 0) {
            return NBT_ERR;
        }
        if (n == 0) {
            break;
        }
        out.grow_size(static_cast<size_t>(n));
    }
    // gzread ends a cut-short gzip stream as if it were the end of the data
    // and only records the fault; without this check a truncated file would
    // pass for a complete one.
    int errnum = Z_OK;
    gzerror(fp.get(), &errnum);
    if (errnum != Z_OK) {
        return NBT_ERR;
    }
    return gzclose_r(fp.release()) == Z_OK ? NBT_OK : NBT_ERR;
}

} // namespace nbt_detail
