// Writing a document to memory: the tree is serialised into the codec's
// buffer, checked on the way, and compressed onto the end of the caller's
// buffer.

#include "byte_order.h"
#include "codec.h"
#include "compress.h"
#include "nbt/nbt_io.h"
#include "reader.h"
#include "write_check.h"

#include <climits>
#include <cstring>

using nbt_detail::ByteBuffer;

namespace {

constexpr size_t max_string = 32767;

// Writes a tree at the end of a buffer, refusing it on the way for what
// encoded_tag_size() refuses: one walk over the tree where a sizing walk
// before the writing one cost a third as much again (callgrind, paletted
// chunks). A refused tree leaves its bytes so far in the buffer.
class MemoryWriter {
  public:
    explicit MemoryWriter(ByteBuffer &buf)
        : buf_(buf), start_(buf.size()), big_endian_(get_endianness() == 1) {}

    // NBT_OK; NBT_ERR for a tree that cannot be written; NBT_EMEM.
    int write(const nbt_tag *root) { return tag(root, 0) ? NBT_OK : status_; }

  private:
    bool tag(const nbt_tag *t, int depth) {
        const auto type = static_cast<uint32_t>(t->type);
        unsigned char *at = type > 255 ? refuse() : room(1);
        if (at == nullptr) {
            return false;
        }
        *at = static_cast<unsigned char>(type);
        return type == TAG_END || (string(t->name) && value(type, t->value, depth));
    }

    bool value(unsigned type, const void *v, int depth) {
        if (!nbt_detail::has_payload(type)) {
            return true;
        }
        if (v == nullptr) {
            return refuse() != nullptr;
        }
        switch (type) {
        case TAG_BYTE:
            return number<1>(v);
        case TAG_SHORT:
            return number<2>(v);
        case TAG_INT:
        case TAG_FLOAT:
            return number<4>(v);
        case TAG_LONG:
        case TAG_DOUBLE:
            return number<8>(v);
        case TAG_STRING:
            return string(static_cast<const char *>(v));
        case TAG_BYTE_ARRAY: {
            const auto *a = static_cast<const nbt_byte_array *>(v);
            return numbers<1>(a->length, a->content);
        }
        case TAG_INT_ARRAY: {
            const auto *a = static_cast<const nbt_int_array *>(v);
            return numbers<4>(a->length, a->content);
        }
        case TAG_LONG_ARRAY: {
            const auto *a = static_cast<const nbt_long_array *>(v);
            return numbers<8>(a->length, a->content);
        }
        case TAG_LIST:
            return list(static_cast<const nbt_list *>(v), depth);
        default:
            return compound(static_cast<const nbt_compound *>(v), depth);
        }
    }

    // The N bytes at v in file order.
    template <size_t N> bool number(const void *v) {
        unsigned char b[N];
        std::memcpy(b, v, N);
        if constexpr (N > 1) {
            nbt_detail::convert_number(b, big_endian_);
        }
        unsigned char *at = room(N);
        if (at != nullptr) {
            std::memcpy(at, b, N);
        }
        return at != nullptr;
    }

    // A count, then count numbers of N bytes in file order.
    template <size_t N> bool numbers(int32_t count, const void *content) {
        if (count < 0 || (count > 0 && content == nullptr)) {
            return refuse() != nullptr;
        }
        const size_t bytes = static_cast<size_t>(count) * N;
        unsigned char *at = room(4 + bytes);
        if (at == nullptr) {
            return false;
        }
        unsigned char b[4];
        std::memcpy(b, &count, 4);
        nbt_detail::convert_number(b, big_endian_);
        std::memcpy(at, b, 4);
        if (bytes > 0) {
            std::memcpy(at + 4, content, bytes);
            if constexpr (N > 1) {
                nbt_detail::convert_numbers<N>(at + 4, static_cast<size_t>(count), big_endian_);
            }
        }
        return true;
    }

    // Length and bytes up to the first NUL; no terminator.
    bool string(const char *s) {
        const size_t len = s == nullptr ? 0 : std::strlen(s);
        unsigned char *at = s == nullptr || len > max_string ? refuse() : room(2 + len);
        if (at == nullptr) {
            return false;
        }
        at[0] = static_cast<unsigned char>(len >> 8);
        at[1] = static_cast<unsigned char>(len & 0xFF);
        std::memcpy(at + 2, s, len);
        return true;
    }

    bool list(const nbt_list *l, int depth) {
        const auto elem = static_cast<uint32_t>(l->type);
        unsigned char *at = depth >= nbt_detail::max_depth || elem > 255 ? refuse() : room(1);
        if (at == nullptr) {
            return false;
        }
        *at = static_cast<unsigned char>(elem);
        if (!number<4>(&l->length)) {
            return false;
        }
        if (l->length <= 0) {
            return true;
        }
        if (!nbt_detail::has_payload(elem) || l->content == nullptr) {
            return refuse() != nullptr;
        }
        for (int32_t i = 0; i < l->length; ++i) {
            if (!value(elem, l->content[i], depth + 1)) {
                return false;
            }
        }
        return true;
    }

    bool compound(const nbt_compound *c, int depth) {
        if (depth >= nbt_detail::max_depth || (c->length > 0 && c->tags == nullptr)) {
            return refuse() != nullptr;
        }
        for (int32_t i = 0; i < c->length; ++i) {
            const nbt_tag *child = c->tags[i];
            // An end tag would close the compound early when read back.
            if (child == nullptr || child->type == TAG_END) {
                return refuse() != nullptr;
            }
            if (!tag(child, depth + 1)) {
                return false;
            }
        }
        unsigned char *at = room(1);
        if (at != nullptr) {
            *at = TAG_END;
        }
        return at != nullptr;
    }

    // Where the next n bytes go; null when the document would pass INT_MAX
    // bytes (refused, as the writing functions return its size as an int)
    // or memory ran out.
    unsigned char *room(size_t n) {
        if (n > static_cast<size_t>(INT_MAX) - (buf_.size() - start_)) {
            return refuse();
        }
        unsigned char *at = buf_.extend(n);
        if (at == nullptr) {
            status_ = NBT_EMEM;
        }
        return at;
    }

    // Marks the tree refused; null, for the callers' checks.
    unsigned char *refuse() {
        status_ = NBT_ERR;
        return nullptr;
    }

    ByteBuffer &buf_;
    const size_t start_;
    const bool big_endian_;
    int status_ = NBT_OK;
};

// Appends the bytes of root to buf. NBT_OK, NBT_EMEM or NBT_ERR.
int serialise(const nbt_tag *root, ByteBuffer &buf) {
    return MemoryWriter(buf).write(root);
}

int encode_into(const nbt_tag *root, nbt_compression c, ByteBuffer &out, nbt_codec *codec,
                size_t *size) {
    if (c == NBT_UNCOMPRESSED) {
        const size_t before = out.size();
        const int r = serialise(root, out);
        *size = out.size() - before;
        return r;
    }
    nbt_detail::CodecFor state(codec);
    if (state.get() == nullptr) {
        return NBT_EMEM;
    }
    ByteBuffer &raw = state.get()->raw;
    raw.clear();
    int r = serialise(root, raw);
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
    // Memory running out part way does not hide a tree that is refused
    // whatever the memory, as it did not when the check came first.
    if (r == NBT_EMEM && nbt_detail::encoded_tag_size(nbt->root) < 0) {
        r = NBT_ERR;
    }
    return r != NBT_OK ? r : static_cast<int>(size);
}
