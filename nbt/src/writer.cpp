// The one writer of the library: a tree or a value into bytes, checked on
// the way (see writer.h for what is refused).

#include "writer.h"

#include "byte_order.h"
#include "reader.h"

#include <climits>
#include <cstring>

namespace nbt_detail {

namespace {

constexpr size_t max_string = 32767;

// Checks as it writes, in one walk over the tree: a sizing walk before the
// writing one cost a third as much again (callgrind, paletted chunks). A
// refused tree leaves its bytes so far in the buffer, for the caller to cut.
class TreeWriter {
  public:
    explicit TreeWriter(ByteBuffer &buf)
        : buf_(buf), start_(buf.size()), big_endian_(get_endianness() == 1) {}

    int write_tag(const nbt_tag *t) { return tag(t, 0) ? NBT_OK : status_; }
    int write_value(unsigned type, const void *v) { return value(type, v, 0) ? NBT_OK : status_; }

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

// Runs one write; a refused or failed one leaves buf as it was.
template <typename Write> int append(ByteBuffer &buf, Write write) {
    const size_t before = buf.size();
    TreeWriter w(buf);
    const int r = write(w);
    if (r != NBT_OK) {
        buf.truncate(before);
    }
    return r;
}

} // namespace

int append_tag(const nbt_tag *t, ByteBuffer &buf) {
    if (t == nullptr) {
        return NBT_ERR; // a caller's missing tag, refused like a missing child
    }
    return append(buf, [t](TreeWriter &w) { return w.write_tag(t); });
}

int append_value(unsigned type, const void *value, ByteBuffer &buf) {
    return append(buf, [type, value](TreeWriter &w) { return w.write_value(type, value); });
}

} // namespace nbt_detail
