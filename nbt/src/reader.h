// The parser core shared by nbt_parse (over a buffer) and the stream-level
// reading functions (over an open gzip stream).
//
// Every step either hands back a complete result or releases what it built
// and leaves its output null: a failure deep inside a tree unwinds without
// leaving anything allocated. Lengths are checked before anything is sized
// from them, and nesting is bounded so a hostile file cannot exhaust the
// stack.
#ifndef NBT_READER_H
#define NBT_READER_H

#include "byte_order.h"
#include "nbt/nbt.h"
#include "read_sources.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace nbt_detail {

// Deepest accepted nesting of compounds and lists, the root counting as 1.
constexpr int max_depth = 512;

// true for the types that carry a payload (1 to 10).
inline bool has_payload(unsigned type) {
    return type >= TAG_BYTE && type <= TAG_COMPOUND;
}

// The fewest bytes a payload of type can take in a file, so that a list
// count can be checked against the data left before its array is made.
inline unsigned min_payload_size(unsigned type) {
    switch (type) {
    case TAG_SHORT:
    case TAG_STRING:
        return 2;
    case TAG_INT:
    case TAG_FLOAT:
    case TAG_BYTE_ARRAY:
        return 4;
    case TAG_LONG:
    case TAG_DOUBLE:
        return 8;
    case TAG_LIST:
        return 5;
    default:
        return 1;
    }
}

// What a read may cost and how strict it is (nbt_read_limits).
struct parse_rules {
    size_t max_tags = 0;   // tags and list items; 0: no limit
    bool faithful = false; // refuse a zero byte inside a name or string
};

template <class Source> class Parser {
  public:
    explicit Parser(Source &src, const parse_rules &rules = {})
        : src_(src), big_endian_(get_endianness() == 1), rules_(rules) {}

    // Reads one named tag into t, which the caller allocated. The type
    // number read (TAG_END also when the data ends where the root is due),
    // or a negative status with t's name and value null. The data ending
    // anywhere below the root is a cut-short document, whether an open
    // compound or a list item was due.
    int tag(nbt_tag *t, int depth) {
        t->type = TAG_END;
        t->name = nullptr;
        t->value = nullptr;
        unsigned char type = 0;
        switch (src_.read_type(type)) {
        case TypeRead::end:
            return depth == 0 ? static_cast<int>(TAG_END) : static_cast<int>(NBT_ERR);
        case TypeRead::fail:
            return NBT_ERR;
        case TypeRead::got:
            break;
        }
        t->type = static_cast<nbt_type>(type);
        if (type == TAG_END) {
            return TAG_END;
        }
        if (!count_one()) {
            return NBT_ELIMIT;
        }
        int r = string(&t->name);
        if (r < 0) {
            return r;
        }
        r = value(type, &t->value, depth);
        if (r < 0) {
            std::free(t->name);
            t->name = nullptr;
            return r;
        }
        return type;
    }

    // Reads the payload of type into *slot. type, or a negative status with
    // *slot null. Types without payload read nothing and leave *slot alone.
    // depth is the number of lists and compounds already open.
    int value(unsigned type, void **slot, int depth) {
        int r = NBT_OK;
        switch (type) {
        case TAG_BYTE:
            r = store(slot, &Parser::scalar<char>);
            break;
        case TAG_SHORT:
            r = store(slot, &Parser::scalar<int16_t>);
            break;
        case TAG_INT:
            r = store(slot, &Parser::scalar<int32_t>);
            break;
        case TAG_LONG:
            r = store(slot, &Parser::scalar<int64_t>);
            break;
        case TAG_FLOAT:
            r = store(slot, &Parser::scalar<float>);
            break;
        case TAG_DOUBLE:
            r = store(slot, &Parser::scalar<double>);
            break;
        case TAG_BYTE_ARRAY:
            r = byte_array_record(slot);
            break;
        case TAG_STRING:
            r = store(slot, &Parser::string);
            break;
        case TAG_LIST:
            r = list_record(slot, depth);
            break;
        case TAG_COMPOUND:
            r = compound_record(slot, depth);
            break;
        default:
            return static_cast<int>(type);
        }
        return r < 0 ? r : static_cast<int>(type);
    }

    // A fresh cell holding one number in host order. 0 or a negative status
    // (*out null).
    template <class T> int scalar(T **out) {
        *out = nullptr;
        unsigned char b[sizeof(T)];
        if (!number_bytes(b)) {
            return NBT_ERR;
        }
        T *cell = static_cast<T *>(std::malloc(sizeof(T)));
        if (cell == nullptr) {
            return NBT_EMEM;
        }
        std::memcpy(cell, b, sizeof(T));
        *out = cell;
        return 0;
    }

    // A name or string value: a block of length + 1 bytes ending in NUL.
    // The length, or a negative status (*out null). A faithful read refuses
    // a zero byte inside, which the string as a C string would lose.
    int string(char **out) {
        *out = nullptr;
        int16_t len;
        if (!number(len) || len < 0 || !src_.may_hold(static_cast<uint64_t>(len))) {
            return NBT_ERR;
        }
        size_t size = static_cast<size_t>(len) + 1;
        char *s = static_cast<char *>(std::malloc(size));
        if (s == nullptr) {
            return NBT_EMEM;
        }
        s[len] = '\0';
        if (!src_.read(s, static_cast<size_t>(len))) {
            std::free(s);
            return NBT_ERR;
        }
        if (rules_.faithful && std::memchr(s, 0, static_cast<size_t>(len)) != nullptr) {
            std::free(s);
            return NBT_ELIMIT; // would be cut short there on rewrite
        }
        *out = s;
        return len;
    }

    // A byte array's content, a block of exactly length bytes. The length,
    // or a negative status (*out null).
    int byte_array(unsigned char **out) {
        *out = nullptr;
        int32_t len;
        if (!number(len) || len < 0 || !src_.may_hold(static_cast<uint64_t>(len))) {
            return NBT_ERR;
        }
        int r = block(static_cast<size_t>(len), out);
        return r < 0 ? r : len;
    }

    // A list's element type, count and item array (never null on success:
    // an empty list still gets one spare slot). NBT_OK, or a negative
    // status with *items null.
    int list(unsigned char *elem_type, void ***items, int32_t *count, int depth) {
        *items = nullptr;
        if (depth >= max_depth) {
            return NBT_ERR;
        }
        unsigned char type;
        int32_t n;
        if (!src_.read(&type, 1) || !number(n)) {
            return NBT_ERR;
        }
        // Elements without payload would take no bytes, so a huge count
        // could not be checked against the data; no valid writer makes them.
        if (n > 0 && !has_payload(type)) {
            return NBT_ERR;
        }
        size_t wanted = n > 0 ? static_cast<size_t>(n) : 0;
        const uint64_t needed = uint64_t{wanted} * min_payload_size(type);
        const uint64_t mark = src_.position();
        if (!src_.may_hold(needed)) {
            return NBT_ERR;
        }
        size_t cap = wanted < max_slots ? wanted : max_slots;
        ItemArray arr(type);
        if (!arr.grow(cap > 0 ? cap : 1)) {
            return NBT_EMEM;
        }
        for (size_t i = 0; i < wanted; ++i) {
            if (i == arr.cap && !arr.grow(arr.cap * 2 < wanted ? arr.cap * 2 : wanted)) {
                return NBT_EMEM;
            }
            arr.slots[i] = nullptr;
            if (!count_one()) {
                return NBT_ELIMIT;
            }
            int r = value(type, &arr.slots[i], depth + 1);
            if (r < 0) {
                return r;
            }
            arr.filled = i + 1;
            if (!src_.held_since(mark, needed)) {
                return NBT_ERR;
            }
        }
        *elem_type = type;
        *count = n;
        *items = arr.release();
        return NBT_OK;
    }

    // A compound's children up to its end byte (or the end of the data).
    // NBT_OK, or a negative status with *tags null.
    int compound(nbt_tag ***tags, int32_t *count, int depth) {
        *tags = nullptr;
        if (depth >= max_depth) {
            return NBT_ERR;
        }
        ChildArray arr;
        if (!arr.grow(4)) {
            return NBT_EMEM;
        }
        for (;;) {
            auto *child = static_cast<nbt_tag *>(std::malloc(sizeof(nbt_tag)));
            if (child == nullptr) {
                return NBT_EMEM;
            }
            int r = tag(child, depth + 1);
            if (r <= 0) {
                std::free(child);
                if (r < 0) {
                    return r;
                }
                break;
            }
            if (arr.filled == INT32_MAX || (arr.filled == arr.cap && !arr.grow(arr.cap * 2))) {
                nbt_free_tag(child);
                return arr.filled == INT32_MAX ? NBT_ERR : NBT_EMEM;
            }
            arr.slots[arr.filled++] = child;
        }
        *count = static_cast<int32_t>(arr.filled);
        *tags = arr.release();
        return NBT_OK;
    }

  private:
    // At most this many item slots are made before items arrive.
    static constexpr size_t max_slots = Source::max_step / sizeof(void *);

    // Item slots of a list being read; frees the items read so far unless
    // released.
    struct ItemArray {
        explicit ItemArray(unsigned t) : type(t) {}
        ~ItemArray() {
            for (size_t i = 0; i < filled; ++i) {
                nbt_free_type(static_cast<nbt_type>(type), slots[i]);
            }
            std::free(slots);
        }
        bool grow(size_t n) {
            void *p = std::realloc(slots, n * sizeof(void *));
            if (p == nullptr) {
                return false;
            }
            slots = static_cast<void **>(p);
            cap = n;
            return true;
        }
        void **release() {
            void **p = slots;
            slots = nullptr;
            filled = 0;
            return p;
        }
        unsigned type;
        void **slots = nullptr;
        size_t cap = 0;
        size_t filled = 0;
    };

    // Children of a compound being read; frees them unless released.
    struct ChildArray {
        ~ChildArray() {
            for (size_t i = 0; i < filled; ++i) {
                nbt_free_tag(slots[i]);
            }
            std::free(slots);
        }
        bool grow(size_t n) {
            void *p = std::realloc(slots, n * sizeof(nbt_tag *));
            if (p == nullptr) {
                return false;
            }
            slots = static_cast<nbt_tag **>(p);
            cap = n;
            return true;
        }
        nbt_tag **release() {
            nbt_tag **p = slots;
            slots = nullptr;
            filled = 0;
            return p;
        }
        nbt_tag **slots = nullptr;
        size_t cap = 0;
        size_t filled = 0;
    };

    // Runs a reader that produces a T* and stores it in the untyped slot.
    template <class T> int store(void **slot, int (Parser::*read)(T **)) {
        T *v = nullptr;
        int r = (this->*read)(&v);
        *slot = v;
        return r;
    }

    int byte_array_record(void **slot) {
        *slot = nullptr;
        unsigned char *content = nullptr;
        int len = byte_array(&content);
        if (len < 0) {
            return len;
        }
        auto *rec = static_cast<nbt_byte_array *>(std::malloc(sizeof(nbt_byte_array)));
        if (rec == nullptr) {
            std::free(content);
            return NBT_EMEM;
        }
        rec->length = len;
        rec->content = content;
        *slot = rec;
        return NBT_OK;
    }

    int list_record(void **slot, int depth) {
        *slot = nullptr;
        auto *rec = static_cast<nbt_list *>(std::malloc(sizeof(nbt_list)));
        if (rec == nullptr) {
            return NBT_EMEM;
        }
        unsigned char type = 0;
        int r = list(&type, &rec->content, &rec->length, depth);
        if (r < 0) {
            std::free(rec);
            return r;
        }
        rec->type = static_cast<nbt_type>(type);
        *slot = rec;
        return NBT_OK;
    }

    int compound_record(void **slot, int depth) {
        *slot = nullptr;
        auto *rec = static_cast<nbt_compound *>(std::malloc(sizeof(nbt_compound)));
        if (rec == nullptr) {
            return NBT_EMEM;
        }
        int r = compound(&rec->tags, &rec->length, depth);
        if (r < 0) {
            std::free(rec);
            return r;
        }
        *slot = rec;
        return NBT_OK;
    }

    // Reads n bytes into a block of exactly n bytes. The block starts at
    // most max_step long and grows as the data arrives, so a length the
    // data cannot back costs no more than about twice what was read.
    int block(size_t n, unsigned char **out) {
        size_t cap = n < Source::max_step ? n : Source::max_step;
        auto *buf = static_cast<unsigned char *>(std::malloc(cap));
        if (buf == nullptr && cap > 0) {
            return NBT_EMEM;
        }
        size_t got = 0;
        while (got < n) {
            if (got == cap) {
                size_t next = cap > n - cap ? n : cap * 2;
                void *p = std::realloc(buf, next);
                if (p == nullptr) {
                    std::free(buf);
                    return NBT_EMEM;
                }
                buf = static_cast<unsigned char *>(p);
                cap = next;
            }
            size_t step = cap - got < Source::max_step ? cap - got : Source::max_step;
            if (!src_.read(buf + got, step)) {
                std::free(buf);
                return NBT_ERR;
            }
            got += step;
        }
        *out = buf;
        return NBT_OK;
    }

    // Reads a big-endian number into its host-order bytes.
    template <size_t N> bool number_bytes(unsigned char (&b)[N]) {
        if (!src_.read(b, N)) {
            return false;
        }
        convert_number(b, big_endian_);
        return true;
    }

    template <class T> bool number(T &v) {
        unsigned char b[sizeof(T)];
        if (!number_bytes(b)) {
            return false;
        }
        std::memcpy(&v, b, sizeof(T));
        return true;
    }

    // Counts one more tag or list item; false past the limit.
    bool count_one() { return rules_.max_tags == 0 || ++tags_ <= rules_.max_tags; }

    Source &src_;
    bool big_endian_;
    parse_rules rules_;
    size_t tags_ = 0;
};

} // namespace nbt_detail

#endif
