// A document's skeleton: the root compound with its direct tags and those
// of each compound directly in it, every list, array and deeper compound
// emptied. Stepping over the rest costs a small fraction of building it, so
// a caller that needs only a document's top-level markers (a chunk's
// DataVersion and Status, say) does not pay for its whole tree.

#include "nbt/nbt_io.h"

#include <cstdint>
#include <new>
#include <vector>

namespace {

// Nesting deeper than any real document is refused, which also bounds the
// recursion of skip().
constexpr int max_depth = 512;

// Reads the document front to back; every read is checked against its end.
class scanner {
  public:
    scanner(const unsigned char *p, size_t n) : p_(p), n_(n) {}

    bool take(size_t k, const unsigned char **at) {
        if (n_ - pos_ < k) {
            return false;
        }
        *at = p_ + pos_;
        pos_ += k;
        return true;
    }
    bool u8(unsigned *v) {
        const unsigned char *a;
        if (!take(1, &a)) {
            return false;
        }
        *v = a[0];
        return true;
    }
    bool s32(int32_t *v) {
        const unsigned char *a;
        if (!take(4, &a)) {
            return false;
        }
        *v = static_cast<int32_t>(uint32_t{a[0]} << 24 | uint32_t{a[1]} << 16 |
                                  uint32_t{a[2]} << 8 | uint32_t{a[3]});
        return true;
    }
    // A name or string: its two length bytes and its bytes, at *at.
    bool text(const unsigned char **at, size_t *k) {
        const unsigned char *len;
        if (!take(2, &len)) {
            return false;
        }
        *k = 2 + (size_t{len[0]} << 8 | len[1]);
        *at = len;
        pos_ -= 2;
        return take(*k, at);
    }
    // Steps over a payload of type t.
    bool skip(unsigned t, int depth) {
        static constexpr size_t fixed[] = {0, 1, 2, 4, 8, 4, 8};
        const unsigned char *at;
        size_t k;
        int32_t count;
        if (depth > max_depth) {
            return false;
        }
        switch (t) {
        case TAG_BYTE:
        case TAG_SHORT:
        case TAG_INT:
        case TAG_LONG:
        case TAG_FLOAT:
        case TAG_DOUBLE:
            return take(fixed[t], &at);
        case TAG_STRING:
            return text(&at, &k);
        case TAG_BYTE_ARRAY:
        case TAG_INT_ARRAY:
        case TAG_LONG_ARRAY: {
            const size_t item = t == TAG_BYTE_ARRAY ? 1 : t == TAG_INT_ARRAY ? 4 : 8;
            return s32(&count) && count >= 0 &&
                   take(static_cast<size_t>(count) * item, &at); // at most 2^31 x 8: no overflow
        }
        case TAG_LIST: {
            unsigned item;
            if (!u8(&item) || !s32(&count) || count < 0) {
                return false;
            }
            for (int32_t i = 0; i < count; ++i) {
                if (!skip(item, depth + 1)) {
                    return false;
                }
            }
            return true;
        }
        case TAG_COMPOUND:
            for (;;) {
                unsigned child;
                if (!u8(&child)) {
                    return false;
                }
                if (child == TAG_END) {
                    return true;
                }
                if (!text(&at, &k) || !skip(child, depth + 1)) {
                    return false;
                }
            }
        default:
            return false;
        }
    }
    size_t pos() const { return pos_; }
    const unsigned char *at(size_t pos) const { return p_ + pos; }

  private:
    const unsigned char *p_;
    size_t n_;
    size_t pos_ = 0;
};

void put(std::vector<unsigned char> &out, const unsigned char *p, size_t k) {
    out.insert(out.end(), p, p + k);
}

// The tags of a compound into out, each copied whole when it is a number
// or a string, each compound copied the same way while keep_compounds, and
// everything else emptied (an empty compound, a list of the same item type
// and no items, an array of no elements).
bool compound(scanner &in, std::vector<unsigned char> &out, bool keep_compounds) {
    static constexpr unsigned char no_items[] = {0, 0, 0, 0};
    for (;;) {
        unsigned t;
        const unsigned char *name;
        size_t name_bytes;
        if (!in.u8(&t)) {
            return false;
        }
        out.push_back(static_cast<unsigned char>(t));
        if (t == TAG_END) {
            return true;
        }
        if (!in.text(&name, &name_bytes)) {
            return false;
        }
        put(out, name, name_bytes);
        const size_t from = in.pos();
        if (t == TAG_COMPOUND && keep_compounds) {
            if (!compound(in, out, false)) {
                return false;
            }
            continue;
        }
        if (!in.skip(t, 1)) {
            return false;
        }
        if ((t >= TAG_BYTE && t <= TAG_DOUBLE) || t == TAG_STRING) {
            put(out, in.at(from), in.pos() - from);
        } else if (t == TAG_LIST) {
            out.push_back(*in.at(from)); // the item type
            put(out, no_items, 4);
        } else if (t == TAG_COMPOUND) {
            out.push_back(TAG_END);
        } else {
            put(out, no_items, 4);
        }
    }
}

} // namespace

int nbt_parse_skeleton(nbt_file *nbt, const unsigned char *data, size_t n) {
    if (nbt == nullptr || (data == nullptr && n != 0)) {
        return NBT_ERR;
    }
    try {
        scanner in(data, n);
        std::vector<unsigned char> bytes;
        bytes.reserve(512);
        unsigned t;
        const unsigned char *name;
        size_t name_bytes;
        if (!in.u8(&t) || t != TAG_COMPOUND || !in.text(&name, &name_bytes)) {
            return NBT_ERR;
        }
        bytes.push_back(TAG_COMPOUND);
        put(bytes, name, name_bytes);
        // Bytes after the root are refused, as a faithful parse does.
        if (!compound(in, bytes, true) || in.pos() != n) {
            return NBT_ERR;
        }
        return nbt_parse_memory(nbt, bytes.data(), bytes.size(), NBT_UNCOMPRESSED, nullptr,
                                nullptr);
    } catch (const std::bad_alloc &) {
        return NBT_EMEM;
    }
}
