// A growable malloc'd byte buffer for the reader and writer internals.
//
// It never throws: growth reports failure by result, so the library can
// turn it into NBT_EMEM instead of letting std::bad_alloc cross the C
// boundary. The destructor frees the block on every path.
#ifndef NBT_BYTE_BUFFER_H
#define NBT_BYTE_BUFFER_H

#include "nbt/nbt_io.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace nbt_detail {

class ByteBuffer {
  public:
    ByteBuffer() = default;
    ~ByteBuffer() { std::free(data_); }
    ByteBuffer(const ByteBuffer &) = delete;
    ByteBuffer &operator=(const ByteBuffer &) = delete;

    unsigned char *data() { return data_; }
    const unsigned char *data() const { return data_; }
    size_t size() const { return size_; }
    size_t capacity() const { return cap_; }

    // Makes room for at least cap bytes in total. false when out of memory
    // (the contents are then unchanged).
    bool reserve(size_t cap) {
        if (cap <= cap_) {
            return true;
        }
        void *p = std::realloc(data_, cap);
        if (p == nullptr) {
            return false;
        }
        data_ = static_cast<unsigned char *>(p);
        cap_ = cap;
        return true;
    }

    // Empties the buffer and keeps its block for reuse.
    void clear() { size_ = 0; }

    // Empties the buffer and gives its block back.
    void release_memory() {
        std::free(data_);
        data_ = nullptr;
        size_ = 0;
        cap_ = 0;
    }

    // Takes over b's block (b is left empty), and hands the block back.
    void adopt(nbt_buffer &b) {
        release_memory();
        data_ = b.data;
        size_ = b.size;
        cap_ = b.capacity;
        b = nbt_buffer{};
    }
    void hand_over(nbt_buffer &b) {
        b.data = data_;
        b.size = size_;
        b.capacity = cap_;
        data_ = nullptr;
        size_ = 0;
        cap_ = 0;
    }

    // Forgets the bytes after the first n (n <= size()).
    void truncate(size_t n) { size_ = n; }

    // Bytes past size() up to capacity() may be filled directly and then
    // counted with grow_size.
    unsigned char *spare() { return data_ + size_; }
    size_t spare_size() const { return cap_ - size_; }
    void grow_size(size_t n) { size_ += n; }

    // Appends n bytes; false when out of memory.
    bool append(const void *p, size_t n) {
        if (n > cap_ - size_ && !reserve(grow_target(n))) {
            return false;
        }
        if (n > 0) {
            std::memcpy(data_ + size_, p, n);
        }
        size_ += n;
        return true;
    }

    // Counts n (at least 1) more bytes and gives where they start, for the
    // caller to fill; null (nothing counted) when out of memory.
    unsigned char *extend(size_t n) {
        if (n > cap_ - size_ && !reserve(grow_target(n))) {
            return nullptr;
        }
        unsigned char *at = data_ + size_;
        size_ += n;
        return at;
    }

  private:
    size_t grow_target(size_t extra) const {
        size_t want = size_ + extra;
        size_t doubled = cap_ * 2;
        return doubled > want ? doubled : want;
    }

    unsigned char *data_ = nullptr;
    size_t size_ = 0;
    size_t cap_ = 0;
};

} // namespace nbt_detail

#endif
