// The parser core shared by nbt_parse (over a buffer) and the stream-level
// reading functions (over an open gzip stream).
//
// Every step either hands back a complete result or releases what it built
// and leaves its output null: a failure deep inside a tree unwinds without
// leaving anything allocated. Lengths are checked before anything is sized
// from them, and nesting is bounded so a hostile file cannot exhaust the
// stack.
//
// The members are defined in reader.cpp, which instantiates the parser for
// the two sources of read_sources.h; only those two can be used.
#ifndef NBT_READER_H
#define NBT_READER_H

#include "nbt/nbt.h"
#include "read_sources.h"

#include <cstddef>
#include <cstdint>

namespace nbt_detail {

// Deepest accepted nesting of compounds and lists, the root counting as 1.
constexpr int max_depth = 512;

// true for the types that carry a payload (1 to 12).
inline bool has_payload(unsigned type) {
    return type >= TAG_BYTE && type <= TAG_LONG_ARRAY;
}

// What a read may cost and how strict it is (nbt_read_limits).
struct parse_rules {
    size_t max_tags = 0;   // tags and list items; 0: no limit
    bool faithful = false; // refuse a zero byte inside a name or string
};

template <class Source> class Parser {
  public:
    explicit Parser(Source &src, const parse_rules &rules = {});

    // Reads one named tag into t, which the caller allocated. The type
    // number read (TAG_END also when the data ends where the root is due),
    // or a negative status with t's name and value null. The data ending
    // anywhere below the root is a cut-short document, whether an open
    // compound or a list item was due.
    int tag(nbt_tag *t, int depth);

    // Reads the payload of type into *slot. type, or a negative status with
    // *slot null. Types without payload read nothing and leave *slot alone.
    // depth is the number of lists and compounds already open.
    int value(unsigned type, void **slot, int depth);

    // A name or string value: a block of length + 1 bytes ending in NUL.
    // The length, or a negative status (*out null). A faithful read refuses
    // a zero byte inside, which the string as a C string would lose.
    int string(char **out);

    // An array's content, a block of exactly length elements in host
    // order. The length, or a negative status (*out null).
    int byte_array(unsigned char **out);
    int int_array(int32_t **out);
    int long_array(int64_t **out);

    // A list's element type, count and item array (never null on success:
    // an empty list still gets one spare slot). NBT_OK, or a negative
    // status with *items null.
    int list(unsigned char *elem_type, void ***items, int32_t *count, int depth);

    // A compound's children up to its end byte (or the end of the data).
    // NBT_OK, or a negative status with *tags null.
    int compound(nbt_tag ***tags, int32_t *count, int depth);

  private:
    template <class T> int scalar(T **out);
    template <class T> int number_array(T **out);
    template <class T> int store(void **slot, int (Parser::*read)(T **));
    template <class Record, class T> int array_record(void **slot, int (Parser::*read)(T **));
    int list_record(void **slot, int depth);
    int compound_record(void **slot, int depth);
    int block(size_t n, unsigned char **out);
    template <size_t N> bool number_bytes(unsigned char (&b)[N]);
    template <class T> bool number(T &v);
    bool count_one();

    Source &src_;
    bool big_endian_;
    parse_rules rules_;
    size_t tags_ = 0;
};

extern template class Parser<BufferSource>;
extern template class Parser<GzSource>;

} // namespace nbt_detail

#endif
