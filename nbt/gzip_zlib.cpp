// The zlib side of the gzip codec: always built, so that files written by
// either compressor can be checked against the other.

#include "nbt/gzip_backends.h"
#include "nbt/nbt.h"

#include <zlib.h>

namespace nbt_detail {

namespace {

// zlib counts in unsigned ints; larger buffers go in slices.
constexpr size_t max_slice = size_t{1} << 30;

size_t slice(size_t n) {
    return n < max_slice ? n : max_slice;
}

// One stream per thread, set up on first use and reset between calls:
// setting up a deflate stream costs about as much as compressing a small
// chunk. init_failed remembers a failed set-up so it is retried next time.
class Inflater {
  public:
    ~Inflater() {
        if (ready_) {
            inflateEnd(&zs_);
        }
    }
    // The stream, ready for a new member, or null when out of memory.
    z_stream *get() {
        if (ready_) {
            return inflateReset(&zs_) == Z_OK ? &zs_ : nullptr;
        }
        zs_ = z_stream{};
        // 32 + 15: a zlib or gzip header, the largest window.
        ready_ = inflateInit2(&zs_, 32 + 15) == Z_OK;
        return ready_ ? &zs_ : nullptr;
    }

  private:
    z_stream zs_{};
    bool ready_ = false;
};

class Deflater {
  public:
    ~Deflater() {
        if (ready_) {
            deflateEnd(&zs_);
        }
    }
    z_stream *get() {
        if (ready_) {
            return deflateReset(&zs_) == Z_OK ? &zs_ : nullptr;
        }
        zs_ = z_stream{};
        // 16 + 15: a gzip header and trailer around the data, as a gzip file
        // stream writes them.
        ready_ = deflateInit2(&zs_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + 15, 8,
                              Z_DEFAULT_STRATEGY) == Z_OK;
        return ready_ ? &zs_ : nullptr;
    }

  private:
    z_stream zs_{};
    bool ready_ = false;
};

} // namespace

int zlib_decode_member(const unsigned char *in, size_t n, ByteBuffer &out, size_t *used) {
    thread_local Inflater inflater;
    z_stream *zs = inflater.get();
    if (zs == nullptr) {
        return NBT_EMEM;
    }
    zs->next_in = const_cast<unsigned char *>(in);
    zs->avail_in = 0; // a reset stream keeps the count of the last call
    size_t left = n;
    for (;;) {
        if (zs->avail_in == 0) {
            zs->avail_in = static_cast<uInt>(slice(left));
            left -= zs->avail_in;
        }
        if (out.spare_size() == 0 && !grow_output(out)) {
            return NBT_EMEM;
        }
        const size_t room = slice(out.spare_size());
        zs->next_out = out.spare();
        zs->avail_out = static_cast<uInt>(room);
        const uInt in_before = zs->avail_in;
        int r = inflate(zs, Z_NO_FLUSH);
        out.grow_size(room - zs->avail_out);
        if (r == Z_STREAM_END) {
            *used = n - left - zs->avail_in;
            return NBT_OK;
        }
        if (r == Z_MEM_ERROR) {
            return NBT_EMEM;
        }
        if (r != Z_OK && r != Z_BUF_ERROR) {
            return NBT_ERR; // corrupt data, checksum or length
        }
        // No progress with all input given and room to spare: cut short.
        if (zs->avail_out != 0 && zs->avail_in == 0 && left == 0) {
            return NBT_ERR;
        }
        if (r == Z_BUF_ERROR && zs->avail_in == in_before && zs->avail_out == room) {
            return NBT_ERR;
        }
    }
}

int zlib_encode(const unsigned char *in, size_t n, ByteBuffer &out) {
    thread_local Deflater deflater;
    z_stream *zs = deflater.get();
    if (zs == nullptr) {
        return NBT_EMEM;
    }
    // Usually all the output fits at once.
    if (!out.reserve(out.size() + deflateBound(zs, static_cast<uLong>(slice(n))) +
                     (n - slice(n)))) {
        return NBT_EMEM;
    }
    zs->next_in = const_cast<unsigned char *>(in);
    size_t left = n;
    int flush;
    int r;
    do {
        zs->avail_in = static_cast<uInt>(slice(left));
        left -= zs->avail_in;
        flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            if (out.spare_size() == 0 && !grow_output(out)) {
                return NBT_EMEM;
            }
            const size_t room = slice(out.spare_size());
            zs->next_out = out.spare();
            zs->avail_out = static_cast<uInt>(room);
            r = deflate(zs, flush);
            if (r == Z_STREAM_ERROR) {
                return NBT_ERR;
            }
            out.grow_size(room - zs->avail_out);
        } while (zs->avail_out == 0);
    } while (flush != Z_FINISH);
    return r == Z_STREAM_END ? NBT_OK : NBT_ERR;
}

} // namespace nbt_detail
