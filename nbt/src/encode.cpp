// Writing a document to memory: the tree is serialised into the codec's
// buffer, checked on the way, and compressed onto the end of the caller's
// buffer.

#include "codec.h"
#include "compress.h"
#include "nbt/nbt_io.h"
#include "writer.h"

using nbt_detail::ByteBuffer;

namespace {

int encode_into(const nbt_tag *root, nbt_compression c, ByteBuffer &out, nbt_codec *codec,
                size_t *size) {
    if (c == NBT_UNCOMPRESSED) {
        const size_t before = out.size();
        const int r = nbt_detail::append_tag(root, out);
        *size = out.size() - before;
        return r;
    }
    nbt_detail::CodecFor state(codec);
    if (state.get() == nullptr) {
        return NBT_EMEM;
    }
    ByteBuffer &raw = state.get()->raw;
    raw.clear();
    int r = nbt_detail::append_tag(root, raw);
    *size = raw.size();
    if (r == NBT_OK) {
        r = nbt_detail::encode(
            *state.get(), c == NBT_GZIP ? nbt_detail::wrapper::gzip : nbt_detail::wrapper::zlib,
            raw.data(), raw.size(), out);
    }
    raw.clear();
    nbt_detail::release_if_large(raw);
    return r;
}

} // namespace

extern "C" int nbt_encode(const nbt_file *nbt, nbt_compression c, nbt_buffer *out,
                          nbt_codec *codec) {
    if (nbt->root == nullptr || (c != NBT_GZIP && c != NBT_ZLIB && c != NBT_UNCOMPRESSED)) {
        return NBT_ERR;
    }
    ByteBuffer buf;
    buf.adopt(*out);
    const size_t before = buf.size();
    size_t size = 0;
    int r = encode_into(nbt->root, c, buf, codec, &size);
    if (r != NBT_OK) {
        buf.truncate(before);
    }
    buf.hand_over(*out);
    return r != NBT_OK ? r : static_cast<int>(size);
}
