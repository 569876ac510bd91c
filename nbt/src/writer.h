// The writer core of the stream-level writing functions (into an open gzip
// stream); nbt_encode has its own, which checks as it writes (encode.cpp).
//
// It only reads the tree: every number is copied into local bytes before
// its byte order is changed. The tree must have passed the check in
// write_check.h; the core itself does not look for missing values.
#ifndef NBT_WRITER_H
#define NBT_WRITER_H

#include "byte_order.h"
#include "nbt/nbt.h"

#include <cstring>
#include <zlib.h>

namespace nbt_detail {

// Appends to an open gzip stream, one call per field.
class GzSink {
  public:
    explicit GzSink(gzFile fp) : fp_(fp) {}
    size_t put(const void *p, size_t n) {
        if (n == 0) {
            return 0;
        }
        int r = gzwrite(fp_, p, static_cast<unsigned>(n));
        return r > 0 ? static_cast<size_t>(r) : 0;
    }

  private:
    gzFile fp_;
};

// Every function returns the number of bytes the sink accepted.
template <class Sink> class Writer {
  public:
    explicit Writer(Sink &sink) : sink_(sink), big_endian_(get_endianness() == 1) {}

    size_t tag(const nbt_tag *t) {
        size_t n = type_byte(static_cast<unsigned>(t->type));
        if (t->type == TAG_END) {
            return n;
        }
        n += string(t->name);
        return n + value(static_cast<unsigned>(t->type), t->value);
    }

    size_t value(unsigned type, const void *v) {
        switch (type) {
        case TAG_BYTE:
            return sink_.put(v, 1);
        case TAG_SHORT:
            return number<2>(v);
        case TAG_INT:
        case TAG_FLOAT:
            return number<4>(v);
        case TAG_LONG:
        case TAG_DOUBLE:
            return number<8>(v);
        case TAG_BYTE_ARRAY:
            return byte_array(static_cast<const nbt_byte_array *>(v));
        case TAG_INT_ARRAY: {
            const auto *a = static_cast<const nbt_int_array *>(v);
            return number<4>(&a->length) + numbers<4>(a->content, a->length);
        }
        case TAG_LONG_ARRAY: {
            const auto *a = static_cast<const nbt_long_array *>(v);
            return number<4>(&a->length) + numbers<8>(a->content, a->length);
        }
        case TAG_STRING:
            return string(static_cast<const char *>(v));
        case TAG_LIST:
            return list(static_cast<const nbt_list *>(v));
        case TAG_COMPOUND:
            return compound(static_cast<const nbt_compound *>(v));
        default:
            return 0;
        }
    }

    // Copies the N bytes at v, puts them in file order and writes them.
    template <size_t N> size_t number(const void *v) {
        unsigned char b[N];
        std::memcpy(b, v, N);
        convert_number(b, big_endian_);
        return sink_.put(b, N);
    }

    // count numbers of N bytes at p, put in file order a stretch at a time.
    template <size_t N> size_t numbers(const void *p, int32_t count) {
        unsigned char stretch[4096];
        const auto *from = static_cast<const unsigned char *>(p);
        const size_t total = static_cast<size_t>(count) * N;
        size_t n = 0;
        for (size_t done = 0; done < total; done += sizeof stretch) {
            const size_t step = total - done < sizeof stretch ? total - done : sizeof stretch;
            std::memcpy(stretch, from + done, step);
            convert_numbers<N>(stretch, step / N, big_endian_);
            n += sink_.put(stretch, step);
        }
        return n;
    }

    // Length and bytes up to the first NUL; no terminator.
    size_t string(const char *s) {
        auto len = static_cast<int16_t>(std::strlen(s));
        return number<2>(&len) + sink_.put(s, static_cast<size_t>(len));
    }

    size_t byte_array(const nbt_byte_array *a) {
        return number<4>(&a->length) + sink_.put(a->content, static_cast<size_t>(a->length));
    }

    size_t list(const nbt_list *l) {
        auto type = static_cast<unsigned>(l->type);
        size_t n = type_byte(type) + number<4>(&l->length);
        for (int32_t i = 0; i < l->length; ++i) {
            n += value(type, l->content[i]);
        }
        return n;
    }

    size_t compound(const nbt_compound *c) {
        size_t n = 0;
        for (int32_t i = 0; i < c->length; ++i) {
            n += tag(c->tags[i]);
        }
        const unsigned char endtag = 0;
        return n + sink_.put(&endtag, 1);
    }

  private:
    size_t type_byte(unsigned type) {
        auto b = static_cast<unsigned char>(type & 0xFF);
        return sink_.put(&b, 1);
    }

    Sink &sink_;
    bool big_endian_;
};

} // namespace nbt_detail

#endif
