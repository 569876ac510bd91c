// Printing a tree as indented text on standard output, for diagnostics.
// Printing only reads the tree. Nesting recurses once per level, bounded
// like freeing by the depth limit of the reader.

#include "nbt/nbt.h"

#include <cstdint>
#include <cstdio>

namespace {

void print_value(nbt_type t, void *v, int n, int32_t most);

void print_tag(const nbt_tag *t, int indent, int32_t most) {
    if (t->type == TAG_END) {
        return;
    }
    nbt_print_indent(indent);
    std::printf("%s(\"%s\"): ", nbt_type_to_string(t->type), t->name != nullptr ? t->name : "");
    print_value(t->type, t->value, indent, most);
}

void print_compound(const nbt_compound *c, int n, int32_t most) {
    std::printf("(%d entries) { \n", static_cast<int>(c->length));
    for (int32_t i = 0; i < c->length; ++i) {
        if (c->tags != nullptr && c->tags[i] != nullptr) {
            print_tag(c->tags[i], n + 1, most);
        }
    }
    nbt_print_indent(n);
    std::printf("}\n");
}

void print_list(const nbt_list *l, int n, int32_t most) {
    std::printf("(%d entries) { \n", static_cast<int>(l->length));
    for (int32_t i = 0; i < l->length; ++i) {
        nbt_print_indent(n + 1);
        std::printf("%s: ", nbt_type_to_string(l->type));
        print_value(l->type, l->content != nullptr ? l->content[i] : nullptr, n + 1, most);
    }
    nbt_print_indent(n);
    std::printf("}\n");
}

// An array: its count, then its first `most` numbers (every one when most
// is negative) with fmt, then how many were left out. Bytes print in hex.
template <class T>
void print_numbers(const T *content, int32_t len, const char *fmt, int32_t most) {
    std::printf("(%d entries) [", static_cast<int>(len));
    const int32_t shown = most >= 0 && most < len ? most : len;
    if (content != nullptr) {
        for (int32_t i = 0; i < shown; ++i) {
            const long long v = sizeof(T) == 1 ? static_cast<unsigned char>(content[i])
                                               : static_cast<long long>(content[i]);
            std::printf(fmt, v);
            std::printf(i + 1 < len ? ", " : " ");
        }
        if (shown < len) {
            std::printf("... (%d more) ", static_cast<int>(len - shown));
        }
    }
    std::printf("]");
}

void print_value(nbt_type t, void *v, int n, int32_t most) {
    // The type is dispatched on as one signed byte, as it is stored in a
    // file: 259 prints as an int, and 200 is reported as 0xFFFFFFC8.
    const auto narrowed = static_cast<int8_t>(t);
    const bool has_payload = narrowed >= TAG_BYTE && narrowed <= TAG_LONG_ARRAY;
    if (has_payload && v == nullptr) {
        // Only a tag whose construction failed lacks its payload.
        std::printf("<null>\n");
        return;
    }
    switch (narrowed) {
    case TAG_BYTE: {
        const int b = *static_cast<signed char *>(v);
        std::printf("0x%02X (%d)", static_cast<unsigned>(b), b);
        break;
    }
    case TAG_SHORT:
        std::printf("%d", static_cast<int>(*static_cast<int16_t *>(v)));
        break;
    case TAG_INT:
        std::printf("%ld", static_cast<long>(*static_cast<int32_t *>(v)));
        break;
    case TAG_LONG:
        std::printf("%lld", static_cast<long long>(*static_cast<int64_t *>(v)));
        break;
    case TAG_FLOAT:
        std::printf("%f", static_cast<double>(*static_cast<float *>(v)));
        break;
    case TAG_DOUBLE:
        std::printf("%f", *static_cast<double *>(v));
        break;
    case TAG_STRING:
        std::printf("\"%s\"", static_cast<char *>(v));
        break;
    case TAG_BYTE_ARRAY: {
        const auto *a = static_cast<nbt_byte_array *>(v);
        print_numbers(a->content, a->length, "%02llX", most);
        break;
    }
    case TAG_INT_ARRAY: {
        const auto *a = static_cast<nbt_int_array *>(v);
        print_numbers(a->content, a->length, "%lld", most);
        break;
    }
    case TAG_LONG_ARRAY: {
        const auto *a = static_cast<nbt_long_array *>(v);
        print_numbers(a->content, a->length, "%lld", most);
        break;
    }
    case TAG_LIST:
        print_list(static_cast<nbt_list *>(v), n, most);
        break;
    case TAG_COMPOUND:
        print_compound(static_cast<nbt_compound *>(v), n, most);
        break;
    default:
        std::printf("<not implemented: 0x%02X>", static_cast<unsigned>(static_cast<int>(narrowed)));
        break;
    }
    std::printf("\n");
}

} // namespace

extern "C" {
const char *nbt_type_to_string(nbt_type t) {
    switch (t) {
    case TAG_END:
        return "TAG_END";
    case TAG_BYTE:
        return "TAG_BYTE";
    case TAG_SHORT:
        return "TAG_SHORT";
    case TAG_INT:
        return "TAG_INT";
    case TAG_LONG:
        return "TAG_LONG";
    case TAG_FLOAT:
        return "TAG_FLOAT";
    case TAG_DOUBLE:
        return "TAG_DOUBLE";
    case TAG_BYTE_ARRAY:
        return "TAG_BYTE_ARRAY";
    case TAG_STRING:
        return "TAG_STRING";
    case TAG_LIST:
        return "TAG_LIST";
    case TAG_COMPOUND:
        return "TAG_COMPOUND";
    case TAG_INT_ARRAY:
        return "TAG_INT_ARRAY";
    case TAG_LONG_ARRAY:
        return "TAG_LONG_ARRAY";
    }
    return "TAG_Unknown";
}

void nbt_print_indent(int lv) {
    for (int i = 0; i < lv; ++i) {
        std::printf("   ");
    }
}

void nbt_print_tag(nbt_tag *t, int indent) {
    print_tag(t, indent, -1);
}

void nbt_print_tag_short(nbt_tag *t, int indent, int32_t most) {
    print_tag(t, indent, most);
}

void nbt_print_value(nbt_type t, void *v, int n) {
    print_value(t, v, n, -1);
}

void nbt_print_byte_array(unsigned char *ba, int len) {
    print_numbers(ba, len, "%02llX", -1);
}

} // extern "C"
