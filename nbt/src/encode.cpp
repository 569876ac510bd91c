// Writing a document to memory: the tree is checked, serialised into the
// codec's buffer and compressed onto the end of the caller's buffer.

#include "codec.h"
#include "compress.h"
#include "nbt/nbt_io.h"
#include "write_check.h"
#include "writer.h"

using nbt_detail::ByteBuffer;
using nbt_detail::MemorySink;
using nbt_detail::Writer;

namespace {

// Appends the size bytes of root to buf. NBT_OK, NBT_EMEM or NBT_ERR.
int serialise(const nbt_tag *root, size_t size, ByteBuffer &buf) {
    if (!buf.reserve(buf.size() + size)) {
        return NBT_EMEM;
    }
    MemorySink sink(buf);
    return Writer<MemorySink>(sink).tag(root) == size ? NBT_OK : NBT_ERR;
}

int encode_into(const nbt_tag *root, size_t size, nbt_compression c, ByteBuffer &out,
                nbt_codec *codec) {
    if (c == NBT_UNCOMPRESSED) {
        return serialise(root, size, out);
    }
    nbt_detail::CodecFor state(codec);
    if (state.get() == nullptr) {
        return NBT_EMEM;
    }
    ByteBuffer &raw = state.get()->raw;
    raw.clear();
    int r = serialise(root, size, raw);
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
    int64_t size = nbt_detail::encoded_tag_size(nbt->root);
    if (size < 0) {
        return NBT_ERR;
    }
    ByteBuffer buf;
    buf.adopt(*out);
    const size_t before = buf.size();
    int r = encode_into(nbt->root, static_cast<size_t>(size), c, buf, codec);
    if (r != NBT_OK) {
        buf.truncate(before);
    }
    buf.hand_over(*out);
    return r != NBT_OK ? r : static_cast<int>(size);
}
