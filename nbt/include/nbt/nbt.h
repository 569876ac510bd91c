/* NBT: named binary tag documents, gzip-compressed, big-endian on disk.
 *
 * A plain-record, free-function API usable from C and C++. Every name,
 * payload, record and array of a tree is a malloc'd block with exactly one
 * owner: the nbt_file owns its root tag, a tag owns its name and value, a
 * byte, int or long array its content, a list its item array and items, a
 * compound its child array and children. Freeing an owner frees everything
 * below it.
 *
 * Errors are returned, never thrown; no function prints except the tree
 * printer (standard output). Running out of memory is NBT_EMEM, never an abort.
 */
#ifndef NBT_NBT_H
#define NBT_NBT_H

#include <stddef.h>
#include <stdint.h>
#include <zlib.h>

/* Marks the documented API: the shared library is built with every other
 * symbol hidden. */
#if defined(__GNUC__) || defined(__clang__)
#define NBT_API __attribute__((visibility("default")))
#else
#define NBT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Tag types. A tree read from a file may hold unassigned numbers 13..255,
 * so in C++ the enum gets a fixed 32-bit underlying type: any such number is
 * then a valid value of the type (the record stores it as 32 bits). */
#ifdef __cplusplus
enum nbt_type : int32_t {
#else
enum nbt_type {
#endif
    TAG_END = 0,
    TAG_BYTE = 1,
    TAG_SHORT = 2,
    TAG_INT = 3,
    TAG_LONG = 4,
    TAG_FLOAT = 5,
    TAG_DOUBLE = 6,
    TAG_BYTE_ARRAY = 7,
    TAG_STRING = 8,
    TAG_LIST = 9,
    TAG_COMPOUND = 10,
    TAG_INT_ARRAY = 11,
    TAG_LONG_ARRAY = 12
};
typedef enum nbt_type nbt_type;

/* Library result codes: 0 or a count on success, negative on failure. */
typedef enum nbt_status {
    NBT_OK = 0,
    NBT_ERR = -1,   /* general failure: malformed data, failed write */
    NBT_EMEM = -2,  /* out of memory */
    NBT_EGZ = -3,   /* the gzip stream could not be opened */
    NBT_ELIMIT = -4 /* well-formed data refused by a reader's limits (nbt_io.h) */
} nbt_status;

/* A short, stable description of a status, in lower case ("out of memory"):
 * the same text for the same code in every version. "unknown status" for a
 * number that is no status. Never null; the text is static. */
NBT_API const char *nbt_status_name(int status);

/* One node of the tree. name is null only for TAG_END and for a tag whose
 * construction failed; value is null when there is no payload. */
typedef struct nbt_tag {
    nbt_type type;
    char *name;
    void *value;
} nbt_tag;

typedef struct nbt_byte_array {
    int32_t length;
    unsigned char *content;
} nbt_byte_array;

/* Numbers in host order; big-endian only in a file. */
typedef struct nbt_int_array {
    int32_t length;
    int32_t *content;
} nbt_int_array;

typedef struct nbt_long_array {
    int32_t length;
    int64_t *content;
} nbt_long_array;

/* Items are bare payloads of the element type, owned by the list. */
typedef struct nbt_list {
    int32_t length;
    nbt_type type;
    void **content;
} nbt_list;

typedef struct nbt_compound {
    int32_t length;
    nbt_tag **tags;
} nbt_compound;

/* One document. fp is open only while nbt_parse or nbt_write runs. */
typedef struct nbt_file {
    gzFile fp;
    nbt_tag *root;
} nbt_file;

/* ---- Tree model ------------------------------------------------------- */

/* Every free function accepts a null pointer and then does nothing. */
/* Free the root (if any) and the record; never touches fp. Returns 0. */
NBT_API int nbt_free(nbt_file *nbt);
/* Free a tag's name, value (deep) and record. Returns 0. */
NBT_API int nbt_free_tag(nbt_tag *t);
/* Free one payload by type. Returns 1 for TAG_END with a non-null payload
 * (left alone), else 0. A null payload is a no-op. */
NBT_API int nbt_free_type(nbt_type type, void *payload);
NBT_API int nbt_free_byte_array(nbt_byte_array *a);
NBT_API int nbt_free_int_array(nbt_int_array *a);
NBT_API int nbt_free_long_array(nbt_long_array *a);
NBT_API int nbt_free_list(nbt_list *l);
NBT_API int nbt_free_compound(nbt_compound *c);

/* Allocate a tag of type t named name, value null. NBT_OK or NBT_ERR. */
NBT_API int nbt_new_tag(nbt_tag **d, nbt_type t, const char *name);
/* Typed constructors: 0 on success, -1 when the tag itself could not be
 * made, 1 when the tag was made but its initial value could not be. */
NBT_API int nbt_new_byte(nbt_tag **d, const char *name);
NBT_API int nbt_new_short(nbt_tag **d, const char *name);
NBT_API int nbt_new_int(nbt_tag **d, const char *name);
NBT_API int nbt_new_long(nbt_tag **d, const char *name);
NBT_API int nbt_new_float(nbt_tag **d, const char *name);
NBT_API int nbt_new_double(nbt_tag **d, const char *name);
NBT_API int nbt_new_string(nbt_tag **d, const char *name);
NBT_API int nbt_new_byte_array(nbt_tag **d, const char *name);
NBT_API int nbt_new_int_array(nbt_tag **d, const char *name);
NBT_API int nbt_new_long_array(nbt_tag **d, const char *name);
NBT_API int nbt_new_list(nbt_tag **d, const char *name, nbt_type type);
NBT_API int nbt_new_compound(nbt_tag **d, const char *name);

/* Replace the value with a malloc'd copy of size bytes of val (shallow);
 * the old value is freed deep. 0, or 1 when out of memory (unchanged). */
NBT_API int nbt_change_value(nbt_tag *tag, void *val, size_t size);
/* Replace the name with a copy of newname. 0, or 1 when out of memory. */
NBT_API int nbt_change_name(nbt_tag *tag, const char *newname);

/* Casts: the tag's payload when the type matches, else null. */
NBT_API char *nbt_cast_byte(nbt_tag *t);
NBT_API int16_t *nbt_cast_short(nbt_tag *t);
NBT_API int32_t *nbt_cast_int(nbt_tag *t);
NBT_API int64_t *nbt_cast_long(nbt_tag *t);
NBT_API float *nbt_cast_float(nbt_tag *t);
NBT_API double *nbt_cast_double(nbt_tag *t);
NBT_API char *nbt_cast_string(nbt_tag *t);
NBT_API nbt_byte_array *nbt_cast_byte_array(nbt_tag *t);
NBT_API nbt_int_array *nbt_cast_int_array(nbt_tag *t);
NBT_API nbt_long_array *nbt_cast_long_array(nbt_tag *t);
NBT_API nbt_list *nbt_cast_list(nbt_tag *t);
NBT_API nbt_compound *nbt_cast_compound(nbt_tag *t);

/* Setters: 0 on success, 1 on a type mismatch or when out of memory (the
 * tag is then unchanged). Container setters copy the array they are given
 * but take over the items or children it points to. */
NBT_API int nbt_set_byte(nbt_tag *t, char v);
NBT_API int nbt_set_short(nbt_tag *t, int16_t v);
NBT_API int nbt_set_int(nbt_tag *t, int32_t v);
NBT_API int nbt_set_long(nbt_tag *t, int64_t v);
NBT_API int nbt_set_float(nbt_tag *t, float v);
NBT_API int nbt_set_double(nbt_tag *t, double v);
NBT_API int nbt_set_string(nbt_tag *t, const char *v);
NBT_API int nbt_set_byte_array(nbt_tag *t, const unsigned char *v, int len);
NBT_API int nbt_set_int_array(nbt_tag *t, const int32_t *v, int len);
NBT_API int nbt_set_long_array(nbt_tag *t, const int64_t *v, int len);
NBT_API int nbt_set_list(nbt_tag *t, void **v, int len, nbt_type type);
NBT_API int nbt_set_compound(nbt_tag *t, nbt_tag **tags, int len);

/* Length of a byte, int or long array, list or compound; -1 for other
 * types or a null value. */
NBT_API int nbt_get_length(nbt_tag *t);
/* Element type of a list; -1 for other tag types. */
NBT_API int nbt_get_list_type(nbt_tag *t);
/* First direct child of the compound haystack named exactly needle, or
 * null (also when haystack is not a compound). */
NBT_API nbt_tag *nbt_find_tag_by_name(const char *needle, nbt_tag *haystack);

/* ---- Reading ---------------------------------------------------------- */

/* Create a document with a null root. NBT_OK or NBT_EMEM (*nbt null). */
NBT_API int nbt_init(nbt_file **nbt);
/* Read a gzip-compressed (or plain) NBT file into nbt->root. NBT_OK;
 * NBT_EGZ when the file cannot be opened or is a folder, errno then saying
 * why (EISDIR for a folder); NBT_EMEM when out of memory;
 * NBT_ERR for malformed, truncated or corrupt data. On failure root is
 * null and nothing read is left allocated. */
NBT_API int nbt_parse(nbt_file *nbt, const char *filename);

/* Stream-level steps, reading from the open stream nbt->fp. Each returns
 * what the format defines (a type number, a length, a count) on success
 * and a negative nbt_status on failure, with its output left null. */
NBT_API int nbt_read_tag(nbt_file *nbt, nbt_tag **parent);
NBT_API int nbt_read(nbt_file *nbt, nbt_type type, void **parent);
NBT_API int nbt_read_byte(nbt_file *nbt, char **out);
NBT_API int nbt_read_short(nbt_file *nbt, int16_t **out);
NBT_API int nbt_read_int(nbt_file *nbt, int32_t **out);
NBT_API int nbt_read_long(nbt_file *nbt, int64_t **out);
NBT_API int nbt_read_float(nbt_file *nbt, float **out);
NBT_API int nbt_read_double(nbt_file *nbt, double **out);
NBT_API int nbt_read_byte_array(nbt_file *nbt, unsigned char **out);
NBT_API int nbt_read_int_array(nbt_file *nbt, int32_t **out);
NBT_API int nbt_read_long_array(nbt_file *nbt, int64_t **out);
NBT_API int nbt_read_string(nbt_file *nbt, char **out);
/* A list's count may legitimately be negative; failure is told by
 * *target being null (the result is then a negative nbt_status). */
NBT_API int32_t nbt_read_list(nbt_file *nbt, char *type_out, void ***target);
NBT_API int32_t nbt_read_compound(nbt_file *nbt, nbt_tag ***listptr);

/* ---- Writing ---------------------------------------------------------- */

/* Write the tree, gzip-compressed, to filename, replacing it only when the
 * whole document reached the disk (through a temporary file ".<name>.XXXXXX"
 * beside it, which gets the target's permission bits). The tree is not
 * changed. The byte count (uncompressed) on success; NBT_ERR for a document
 * without root, an unwritable tree (a name or string over 32767 bytes,
 * nesting deeper than 512, a missing value, an array whose length is
 * negative or whose content is missing...) or a failed write; NBT_EGZ
 * when the target may not be written or the file cannot be created;
 * NBT_EMEM when out of memory. On failure the target is left as it was. */
NBT_API int nbt_write(nbt_file *nbt, const char *filename);

/* Stream-level steps, appending to the open stream nbt->fp. Each returns
 * the number of uncompressed bytes the stream accepted (a failing stream
 * shows only as a smaller count), or NBT_ERR, with nothing written, for a
 * value that nbt_write would refuse (NBT_EMEM, nothing written, when memory
 * for its bytes runs out). */
NBT_API int nbt_write_tag(nbt_file *nbt, nbt_tag *tag);
NBT_API int nbt_write_value(nbt_file *nbt, nbt_type t, void *value);
NBT_API int nbt_write_byte(nbt_file *nbt, char *val);
NBT_API int nbt_write_short(nbt_file *nbt, int16_t *val);
NBT_API int nbt_write_int(nbt_file *nbt, int32_t *val);
NBT_API int nbt_write_long(nbt_file *nbt, int64_t *val);
NBT_API int nbt_write_float(nbt_file *nbt, float *val);
NBT_API int nbt_write_double(nbt_file *nbt, double *val);
NBT_API int nbt_write_string(nbt_file *nbt, char *val);
NBT_API int nbt_write_byte_array(nbt_file *nbt, nbt_byte_array *val);
NBT_API int nbt_write_int_array(nbt_file *nbt, nbt_int_array *val);
NBT_API int nbt_write_long_array(nbt_file *nbt, nbt_long_array *val);
NBT_API int nbt_write_list(nbt_file *nbt, nbt_list *val);
NBT_API int nbt_write_compound(nbt_file *nbt, nbt_compound *val);

/* ---- Editing ---------------------------------------------------------- */

/* Append child to the compound parent, which then owns it. child, or null
 * when parent is not a compound or memory ran out (caller still owns it). */
NBT_API nbt_tag *nbt_add_tag(nbt_tag *child, nbt_tag *parent);
/* Append item to the list parent; on success the list owns it. */
NBT_API void nbt_add_list_item(void *item, nbt_tag *parent);
/* Remove and free the child target (by address) of the compound parent. */
NBT_API void nbt_remove_tag(nbt_tag *target, nbt_tag *parent);
/* Remove and free the item target (by address) of the list parent. */
NBT_API void nbt_remove_list_item(void *target, nbt_tag *parent);

/* ---- Printing (standard output) --------------------------------------- */

NBT_API const char *nbt_type_to_string(nbt_type t);
NBT_API void nbt_print_tag(nbt_tag *t, int indent);
/* As nbt_print_tag, with each array cut after its first `most` elements
 * (a negative most: none cut) and "... (<n> more)" in place of the rest. */
NBT_API void nbt_print_tag_short(nbt_tag *t, int indent, int32_t most);
NBT_API void nbt_print_value(nbt_type t, void *v, int n);
NBT_API void nbt_print_indent(int lv);
NBT_API void nbt_print_byte_array(unsigned char *ba, int len);

#ifdef __cplusplus
}
#endif

#endif /* NBT_NBT_H */
