// The reading steps on a stream the caller opened (nbt->fp). They share the
// parser with nbt_parse; only the byte source differs, and it reads large
// contents in bounded steps because the stream's length is unknown.

#include "nbt/nbt.h"
#include "reader.h"

using nbt_detail::GzSource;
using nbt_detail::Parser;

namespace {

// One number of type, as nbt_read reads it, into a cell of T.
template <class T> int read_scalar(nbt_file *nbt, unsigned type, T **out) {
    GzSource src(nbt->fp);
    void *cell = nullptr;
    int r = Parser<GzSource>(src).value(type, &cell, 0);
    *out = static_cast<T *>(cell);
    return r < 0 ? r : 0;
}

} // namespace

extern "C" {

int nbt_read_tag(nbt_file *nbt, nbt_tag **parent) {
    GzSource src(nbt->fp);
    return Parser<GzSource>(src).tag(*parent, 0);
}

int nbt_read(nbt_file *nbt, nbt_type type, void **parent) {
    // Type numbers outside 1..12 (negative ones included) carry no payload.
    unsigned t =
        nbt_detail::has_payload(static_cast<unsigned>(type)) ? static_cast<unsigned>(type) : 0;
    GzSource src(nbt->fp);
    int r = Parser<GzSource>(src).value(t, parent, 0);
    return r < 0 ? r : static_cast<int>(type);
}

int nbt_read_byte(nbt_file *nbt, char **out) {
    return read_scalar(nbt, TAG_BYTE, out);
}
int nbt_read_short(nbt_file *nbt, int16_t **out) {
    return read_scalar(nbt, TAG_SHORT, out);
}
int nbt_read_int(nbt_file *nbt, int32_t **out) {
    return read_scalar(nbt, TAG_INT, out);
}
int nbt_read_long(nbt_file *nbt, int64_t **out) {
    return read_scalar(nbt, TAG_LONG, out);
}
int nbt_read_float(nbt_file *nbt, float **out) {
    return read_scalar(nbt, TAG_FLOAT, out);
}
int nbt_read_double(nbt_file *nbt, double **out) {
    return read_scalar(nbt, TAG_DOUBLE, out);
}

int nbt_read_byte_array(nbt_file *nbt, unsigned char **out) {
    GzSource src(nbt->fp);
    return Parser<GzSource>(src).byte_array(out);
}

int nbt_read_int_array(nbt_file *nbt, int32_t **out) {
    GzSource src(nbt->fp);
    return Parser<GzSource>(src).int_array(out);
}

int nbt_read_long_array(nbt_file *nbt, int64_t **out) {
    GzSource src(nbt->fp);
    return Parser<GzSource>(src).long_array(out);
}

int nbt_read_string(nbt_file *nbt, char **out) {
    GzSource src(nbt->fp);
    return Parser<GzSource>(src).string(out);
}

int32_t nbt_read_list(nbt_file *nbt, char *type_out, void ***target) {
    GzSource src(nbt->fp);
    unsigned char type = 0;
    int32_t count = 0;
    int r = Parser<GzSource>(src).list(&type, target, &count, 0);
    if (r < 0) {
        return r;
    }
    *type_out = static_cast<char>(type);
    return count;
}

int32_t nbt_read_compound(nbt_file *nbt, nbt_tag ***listptr) {
    GzSource src(nbt->fp);
    int32_t count = 0;
    int r = Parser<GzSource>(src).compound(listptr, &count, 0);
    return r < 0 ? r : count;
}

} // extern "C"
