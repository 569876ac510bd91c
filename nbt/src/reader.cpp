// The parser's steps, compiled once for each byte source.

#include "reader.h"

#include "block_cache.h"
#include "byte_order.h"

#include <cstdlib>
#include <cstring>

namespace nbt_detail {

namespace {

// The fewest bytes a payload of type can take in a file, so that a list
// count can be checked against the data left before its array is made.
unsigned min_payload_size(unsigned type) {
    switch (type) {
    case TAG_SHORT:
    case TAG_STRING:
        return 2;
    case TAG_INT:
    case TAG_FLOAT:
    case TAG_BYTE_ARRAY:
    case TAG_INT_ARRAY:
    case TAG_LONG_ARRAY:
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

// Item slots of a list being read; frees the items read so far unless
// released.
struct ItemArray {
    explicit ItemArray(unsigned t) : type(t) {}
    ItemArray(const ItemArray &) = delete;
    ItemArray &operator=(const ItemArray &) = delete;
    ~ItemArray() {
        for (size_t i = 0; i < filled; ++i) {
            nbt_free_type(static_cast<nbt_type>(type), slots[i]);
        }
        std::free(slots);
    }
    // Moves to a new block rather than realloc(): its blocks, too, come
    // from the freed ones of their size.
    bool grow(size_t n) {
        void *p = cache_alloc(n * sizeof(void *));
        if (p == nullptr) {
            return false;
        }
        if (filled > 0) {
            std::memcpy(p, slots, filled * sizeof(void *));
        }
        cache_free(slots);
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
    ChildArray() = default;
    ChildArray(const ChildArray &) = delete;
    ChildArray &operator=(const ChildArray &) = delete;
    ~ChildArray() {
        for (size_t i = 0; i < filled; ++i) {
            nbt_free_tag(slots[i]);
        }
        std::free(slots);
    }
    // Moves to a new block rather than realloc(): its blocks, too, come
    // from the freed ones of their size.
    bool grow(size_t n) {
        void *p = cache_alloc(n * sizeof(nbt_tag *));
        if (p == nullptr) {
            return false;
        }
        if (filled > 0) {
            std::memcpy(p, slots, filled * sizeof(nbt_tag *));
        }
        cache_free(slots);
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

} // namespace

template <class Source>
Parser<Source>::Parser(Source &src, const parse_rules &rules)
    : src_(src), big_endian_(get_endianness() == 1), rules_(rules) {}

template <class Source> int Parser<Source>::tag(nbt_tag *t, int depth) {
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

template <class Source> int Parser<Source>::value(unsigned type, void **slot, int depth) {
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
        r = array_record<nbt_byte_array>(slot, &Parser::byte_array);
        break;
    case TAG_INT_ARRAY:
        r = array_record<nbt_int_array>(slot, &Parser::int_array);
        break;
    case TAG_LONG_ARRAY:
        r = array_record<nbt_long_array>(slot, &Parser::long_array);
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
template <class Source> template <class T> int Parser<Source>::scalar(T **out) {
    *out = nullptr;
    unsigned char b[sizeof(T)];
    if (!number_bytes(b)) {
        return NBT_ERR;
    }
    T *cell = static_cast<T *>(cache_alloc(sizeof(T)));
    if (cell == nullptr) {
        return NBT_EMEM;
    }
    std::memcpy(cell, b, sizeof(T));
    *out = cell;
    return 0;
}

template <class Source> int Parser<Source>::string(char **out) {
    *out = nullptr;
    int16_t len;
    if (!number(len) || len < 0 || !src_.may_hold(static_cast<uint64_t>(len))) {
        return NBT_ERR;
    }
    size_t size = static_cast<size_t>(len) + 1;
    char *s = static_cast<char *>(cache_alloc(size));
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

template <class Source> int Parser<Source>::byte_array(unsigned char **out) {
    return number_array(out);
}

template <class Source> int Parser<Source>::int_array(int32_t **out) {
    return number_array(out);
}

template <class Source> int Parser<Source>::long_array(int64_t **out) {
    return number_array(out);
}

// A count, then that many big-endian numbers of type T.
template <class Source> template <class T> int Parser<Source>::number_array(T **out) {
    *out = nullptr;
    int32_t len;
    if (!number(len) || len < 0) {
        return NBT_ERR;
    }
    // At most 2^31 * 8 bytes: exact in 64 bits, but maybe not in size_t.
    const uint64_t bytes = static_cast<uint64_t>(len) * sizeof(T);
    if (static_cast<size_t>(bytes) != bytes || !src_.may_hold(bytes)) {
        return NBT_ERR;
    }
    unsigned char *content = nullptr;
    int r = block(static_cast<size_t>(bytes), &content);
    if (r < 0) {
        return r;
    }
    if constexpr (sizeof(T) > 1) {
        convert_numbers<sizeof(T)>(content, static_cast<size_t>(len), big_endian_);
    }
    // A fresh malloc'd block holds any type; its bytes are now T's.
    *out = reinterpret_cast<T *>(content);
    return len;
}

template <class Source>
int Parser<Source>::list(unsigned char *elem_type, void ***items, int32_t *count, int depth) {
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
    // At most this many item slots are made before items arrive.
    constexpr size_t max_slots = Source::max_step / sizeof(void *);
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

template <class Source> int Parser<Source>::compound(nbt_tag ***tags, int32_t *count, int depth) {
    *tags = nullptr;
    if (depth >= max_depth) {
        return NBT_ERR;
    }
    ChildArray arr;
    if (!arr.grow(4)) {
        return NBT_EMEM;
    }
    for (;;) {
        // Read on the stack first: every compound ends with an end tag,
        // which then costs no block of its own.
        nbt_tag read;
        int r = tag(&read, depth + 1);
        if (r <= 0) {
            if (r < 0) {
                return r;
            }
            break;
        }
        auto *child = static_cast<nbt_tag *>(cache_alloc(sizeof(nbt_tag)));
        if (child == nullptr) {
            std::free(read.name);
            nbt_free_type(read.type, read.value);
            return NBT_EMEM;
        }
        *child = read;
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

// Runs a reader that produces a T* and stores it in the untyped slot.
template <class Source>
template <class T>
int Parser<Source>::store(void **slot, int (Parser::*read)(T **)) {
    T *v = nullptr;
    int r = (this->*read)(&v);
    *slot = v;
    return r;
}

// Runs an array reader and wraps its content and length in a Record.
template <class Source>
template <class Record, class T>
int Parser<Source>::array_record(void **slot, int (Parser::*read)(T **)) {
    *slot = nullptr;
    T *content = nullptr;
    int len = (this->*read)(&content);
    if (len < 0) {
        return len;
    }
    auto *rec = static_cast<Record *>(cache_alloc(sizeof(Record)));
    if (rec == nullptr) {
        std::free(content);
        return NBT_EMEM;
    }
    rec->length = len;
    rec->content = content;
    *slot = rec;
    return NBT_OK;
}

template <class Source> int Parser<Source>::list_record(void **slot, int depth) {
    *slot = nullptr;
    auto *rec = static_cast<nbt_list *>(cache_alloc(sizeof(nbt_list)));
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

template <class Source> int Parser<Source>::compound_record(void **slot, int depth) {
    *slot = nullptr;
    auto *rec = static_cast<nbt_compound *>(cache_alloc(sizeof(nbt_compound)));
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

// Reads n bytes into a block of exactly n bytes. The block starts at most
// max_step long and grows as the data arrives, so a length the data cannot
// back costs no more than about twice what was read.
template <class Source> int Parser<Source>::block(size_t n, unsigned char **out) {
    size_t cap = n < Source::max_step ? n : Source::max_step;
    auto *buf = static_cast<unsigned char *>(cache_alloc(cap));
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
template <class Source>
template <size_t N>
bool Parser<Source>::number_bytes(unsigned char (&b)[N]) {
    if (!src_.read(b, N)) {
        return false;
    }
    convert_number(b, big_endian_);
    return true;
}

template <class Source> template <class T> bool Parser<Source>::number(T &v) {
    unsigned char b[sizeof(T)];
    if (!number_bytes(b)) {
        return false;
    }
    std::memcpy(&v, b, sizeof(T));
    return true;
}

// Counts one more tag or list item; false past the limit.
template <class Source> bool Parser<Source>::count_one() {
    return rules_.max_tags == 0 || ++tags_ <= rules_.max_tags;
}

template class Parser<BufferSource>;
template class Parser<GzSource>;

} // namespace nbt_detail
