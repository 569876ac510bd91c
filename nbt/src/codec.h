// The state behind an nbt_codec: compressor and decompressor objects set up
// on first use and reset between calls (setting up a deflate stream costs
// about as much as compressing a small chunk), and two buffers reused from
// one document to the next. Nothing here lives per thread: a codec is the
// caller's, and freeing it gives everything back.
#ifndef NBT_CODEC_H
#define NBT_CODEC_H

#include "byte_buffer.h"

#include <zlib.h>

struct libdeflate_compressor;
struct libdeflate_decompressor;

struct nbt_codec {
    z_stream inflater{};
    bool inflater_ready = false;
    int inflater_bits = 0; // the window bits the inflater was last set to
    z_stream gzip_deflater{};
    bool gzip_deflater_ready = false;
    z_stream zlib_deflater{};
    bool zlib_deflater_ready = false;
    libdeflate_compressor *compressor = nullptr;
    libdeflate_decompressor *decompressor = nullptr;
    // A file's bytes before decompression, and a tree's before compression.
    nbt_detail::ByteBuffer raw;
    // The decompressed document.
    nbt_detail::ByteBuffer plain;
};

namespace nbt_detail {

// Frees the libdeflate objects; defined beside them, and a no-op in a
// build without libdeflate.
void free_libdeflate_state(nbt_codec &c);

// Gives back a buffer's block when an unusually large document made it big,
// so that one such file does not pin its size for the rest of a run.
inline void release_if_large(ByteBuffer &buf) {
    if (buf.capacity() > (size_t{4} << 20)) {
        buf.release_memory();
    }
}

// A codec for one call when the caller gave none: made on entry, freed on
// every way out.
class CodecFor {
  public:
    explicit CodecFor(nbt_codec *given);
    ~CodecFor();
    CodecFor(const CodecFor &) = delete;
    CodecFor &operator=(const CodecFor &) = delete;
    // null when none was given and making one ran out of memory.
    nbt_codec *get() const { return codec_; }

  private:
    nbt_codec *codec_;
    bool owned_;
};

} // namespace nbt_detail

#endif
