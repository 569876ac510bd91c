// The two byte sources the parser reads from: a decompressed file held in
// memory, and an open gzip stream read field by field.
#ifndef NBT_READ_SOURCES_H
#define NBT_READ_SOURCES_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <zlib.h>

namespace nbt_detail {

// What reading a type byte gave: a byte, the clean end of the data (where
// the format lets a document stop), or a fault.
enum class TypeRead { got, end, fail };

// The whole document in memory. Every length can be compared with what is
// left before anything is allocated for it.
class BufferSource {
  public:
    // Declared sizes are allocated at once: may_hold has already checked
    // them against the bytes that remain.
    static constexpr size_t max_step = SIZE_MAX;

    BufferSource(const unsigned char *data, size_t size) : p_(data), left_(size), size_(size) {}

    TypeRead read_type(unsigned char &type) {
        if (left_ == 0) {
            return TypeRead::end;
        }
        type = *p_++;
        --left_;
        return TypeRead::got;
    }

    // Copies exactly n bytes; false (nothing consumed) when fewer remain.
    bool read(void *dst, size_t n) {
        if (n > left_) {
            return false;
        }
        if (n > 0) {
            std::memcpy(dst, p_, n);
        }
        p_ += n;
        left_ -= n;
        return true;
    }

    // false when the data cannot hold n more bytes.
    bool may_hold(uint64_t n) const { return n <= left_; }

    // Bytes consumed so far.
    uint64_t position() const { return size_ - left_; }
    // false when the data could not have held n bytes from position mark on.
    bool held_since(uint64_t mark, uint64_t n) const { return n <= size_ - mark; }

  private:
    const unsigned char *p_;
    size_t left_;
    size_t size_;
};

// An open gzip stream owned by the caller. Its remaining length is unknown,
// so large contents are read in bounded steps and their blocks grow only as
// the data arrives.
class GzSource {
  public:
    static constexpr size_t max_step = size_t{1} << 20;

    explicit GzSource(gzFile fp) : fp_(fp) {}

    TypeRead read_type(unsigned char &type) {
        int n = gzread(fp_, &type, 1);
        if (n == 1) {
            ++pos_;
            return TypeRead::got;
        }
        if (n == 0 && clean()) {
            ended_ = true;
            return TypeRead::end;
        }
        return TypeRead::fail;
    }

    bool read(void *dst, size_t n) {
        auto *out = static_cast<unsigned char *>(dst);
        while (n > 0) {
            size_t step = n < max_step ? n : max_step;
            int got = gzread(fp_, out, static_cast<unsigned>(step));
            if (got <= 0) {
                return false;
            }
            out += got;
            n -= static_cast<size_t>(got);
            pos_ += static_cast<size_t>(got);
        }
        return true;
    }

    bool may_hold(uint64_t) const { return true; }

    uint64_t position() const { return pos_; }
    // The length is known only once the end has been seen; from then on a
    // list can be held to the same bound as in memory (an element past the
    // end would otherwise take no bytes at all).
    bool held_since(uint64_t mark, uint64_t n) const { return !ended_ || n <= pos_ - mark; }

  private:
    // A cut-short gzip stream reads as an end of data with a recorded error.
    bool clean() {
        int errnum = Z_OK;
        gzerror(fp_, &errnum);
        return errnum == Z_OK;
    }

    gzFile fp_;
    uint64_t pos_ = 0;
    bool ended_ = false;
};

} // namespace nbt_detail

#endif
