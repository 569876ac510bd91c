// Owning handles for C++ callers of the NBT library: each frees what it
// holds with the library's own function when it goes out of scope.
#ifndef NBT_NBT_HPP
#define NBT_NBT_HPP

#include "nbt/nbt.h"
#include "nbt/nbt_io.h"

#include <cstddef>
#include <memory>

namespace nbt {

struct document_free {
    void operator()(nbt_file *f) const noexcept { nbt_free(f); }
};
struct tag_free {
    void operator()(nbt_tag *t) const noexcept { nbt_free_tag(t); }
};
struct codec_free {
    void operator()(nbt_codec *c) const noexcept { nbt_codec_free(c); }
};

// One document and its whole tree.
using document = std::unique_ptr<nbt_file, document_free>;
// One tag and everything below it, not yet handed to a parent.
using tag_ptr = std::unique_ptr<nbt_tag, tag_free>;
using codec = std::unique_ptr<nbt_codec, codec_free>;

// An empty document, or null when out of memory.
inline document make_document() {
    nbt_file *f = nullptr;
    return nbt_init(&f) == NBT_OK ? document(f) : document();
}

// A codec, or null when out of memory (the library then makes one per call).
inline codec make_codec() {
    nbt_codec *c = nullptr;
    return nbt_codec_new(&c) == NBT_OK ? codec(c) : codec();
}

// An nbt_buffer that gives its block back.
class buffer {
  public:
    buffer() = default;
    ~buffer() { nbt_buffer_free(&b_); }
    buffer(buffer &&o) noexcept : b_(o.b_) { o.b_ = nbt_buffer{}; }
    buffer &operator=(buffer &&o) noexcept {
        if (this != &o) {
            nbt_buffer_free(&b_);
            b_ = o.b_;
            o.b_ = nbt_buffer{};
        }
        return *this;
    }
    buffer(const buffer &) = delete;
    buffer &operator=(const buffer &) = delete;

    const unsigned char *data() const { return b_.data; }
    size_t size() const { return b_.size; }
    bool empty() const { return b_.size == 0; }
    // Empties the buffer and keeps its block for reuse.
    void clear() { b_.size = 0; }
    // Gives the block back.
    void release() { nbt_buffer_free(&b_); }
    // For the library's functions that append.
    nbt_buffer *get() { return &b_; }

  private:
    nbt_buffer b_{};
};

} // namespace nbt

#endif
