// The writing steps on a stream the caller opened (nbt->fp). Each writes
// what it is given into memory first, so a value that cannot be written is
// refused before any of its bytes reach the stream; after that, a failing
// stream shows only as a smaller byte count.

#include "nbt/nbt.h"
#include "reader.h"
#include "writer.h"

#include <zlib.h>

using nbt_detail::ByteBuffer;

namespace {

// The bytes of a successful write, handed to the stream.
int to_stream(nbt_file *nbt, int status, const ByteBuffer &bytes) {
    if (status != NBT_OK) {
        return status;
    }
    if (bytes.size() == 0) {
        return 0;
    }
    const int put = gzwrite(nbt->fp, bytes.data(), static_cast<unsigned>(bytes.size()));
    return put < 0 ? 0 : put;
}

int write_value(nbt_file *nbt, unsigned type, const void *value) {
    ByteBuffer bytes;
    return to_stream(nbt, nbt_detail::append_value(type, value, bytes), bytes);
}

} // namespace

extern "C" {

int nbt_write_tag(nbt_file *nbt, nbt_tag *tag) {
    ByteBuffer bytes;
    return to_stream(nbt, nbt_detail::append_tag(tag, bytes), bytes);
}

int nbt_write_value(nbt_file *nbt, nbt_type t, void *value) {
    // Type numbers outside 1..12 (negative ones included) write nothing.
    if (!nbt_detail::has_payload(static_cast<unsigned>(t))) {
        return 0;
    }
    return write_value(nbt, static_cast<unsigned>(t), value);
}

int nbt_write_byte(nbt_file *nbt, char *val) {
    return write_value(nbt, TAG_BYTE, val);
}
int nbt_write_short(nbt_file *nbt, int16_t *val) {
    return write_value(nbt, TAG_SHORT, val);
}
int nbt_write_int(nbt_file *nbt, int32_t *val) {
    return write_value(nbt, TAG_INT, val);
}
int nbt_write_long(nbt_file *nbt, int64_t *val) {
    return write_value(nbt, TAG_LONG, val);
}
int nbt_write_float(nbt_file *nbt, float *val) {
    return write_value(nbt, TAG_FLOAT, val);
}
int nbt_write_double(nbt_file *nbt, double *val) {
    return write_value(nbt, TAG_DOUBLE, val);
}
int nbt_write_string(nbt_file *nbt, char *val) {
    return write_value(nbt, TAG_STRING, val);
}

int nbt_write_byte_array(nbt_file *nbt, nbt_byte_array *val) {
    return write_value(nbt, TAG_BYTE_ARRAY, val);
}

int nbt_write_int_array(nbt_file *nbt, nbt_int_array *val) {
    return write_value(nbt, TAG_INT_ARRAY, val);
}

int nbt_write_long_array(nbt_file *nbt, nbt_long_array *val) {
    return write_value(nbt, TAG_LONG_ARRAY, val);
}

int nbt_write_list(nbt_file *nbt, nbt_list *val) {
    return write_value(nbt, TAG_LIST, val);
}

int nbt_write_compound(nbt_file *nbt, nbt_compound *val) {
    return write_value(nbt, TAG_COMPOUND, val);
}

} // extern "C"
