/* Advanced NBT input and output, for programs that handle files themselves:
 * documents to and from memory (gzip, zlib or no compression) with limits
 * on what a read may cost, and reusable codecs.
 *
 * Plain C records and free functions, like nbt.h; errors are returned as
 * nbt_status codes and nothing is thrown or printed. Every function that
 * fails leaves nothing allocated that the caller did not already own.
 */
#ifndef NBT_NBT_IO_H
#define NBT_NBT_IO_H

#include "nbt/nbt.h"

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Buffers and codecs ------------------------------------------------ */

/* A malloc'd byte buffer owned by the caller. Start from all zeros; functions
 * append to it; nbt_buffer_free gives its block back and zeroes it. */
typedef struct nbt_buffer {
    unsigned char *data;
    size_t size;
    size_t capacity;
} nbt_buffer;

NBT_API void nbt_buffer_free(nbt_buffer *b);

/* Compression and decompression state, reused from one call to the next so
 * that a run over many documents allocates it once. One codec serves one
 * thread at a time. A null codec is allowed everywhere: the call then makes
 * and frees one of its own. */
typedef struct nbt_codec nbt_codec;

/* NBT_OK, or NBT_EMEM with *out null. */
NBT_API int nbt_codec_new(nbt_codec **out);
NBT_API void nbt_codec_free(nbt_codec *c);

/* How a document's bytes are compressed. For reading, NBT_GZIP also accepts
 * bytes without the gzip signature as an uncompressed document, as nbt_parse
 * does with files. */
typedef enum nbt_compression { NBT_GZIP = 1, NBT_ZLIB = 2, NBT_UNCOMPRESSED = 3 } nbt_compression;

/* ---- Reading from memory ----------------------------------------------- */

/* What a read may cost, and how strict it is. A zero limit means none. */
typedef struct nbt_read_limits {
    size_t max_decoded; /* decompressed bytes */
    size_t max_tags;    /* tags and list items, counted as the tree is built */
    /* Non-zero: refuse (NBT_ERR) whatever a rewrite of the tree would not
     * carry over unchanged: a zero byte inside a name or string, bytes
     * after the root tag, data after the compressed stream. */
    int faithful;
} nbt_read_limits;

/* Decompress the n bytes at data and parse them into nbt->root. NBT_OK;
 * NBT_ERR for malformed, cut-short or corrupt data; NBT_ELIMIT for data over
 * a limit or refused as not faithful; NBT_EMEM when out of memory. On failure root is null. limits
 * may be null (no limits, not faithful: what nbt_parse accepts). */
NBT_API int nbt_parse_memory(nbt_file *nbt, const unsigned char *data, size_t n, nbt_compression c,
                             const nbt_read_limits *limits, nbt_codec *codec);

/* Decompress the n bytes at data as nbt_parse_memory would, within the same
 * limits, without parsing them: *out and *out_n then give the document's
 * bytes, held in codec (or data itself when they are not compressed) until
 * the next call with it. For a caller that looks at a document before it
 * decides to parse it (nbt_parse_memory on them as NBT_UNCOMPRESSED then
 * reads the same tree). Results as nbt_parse_memory; codec may not be null. */
NBT_API int nbt_decompress_memory(const unsigned char *data, size_t n, nbt_compression c,
                                  const nbt_read_limits *limits, nbt_codec *codec,
                                  const unsigned char **out, size_t *out_n);

/* Parse the n plain (uncompressed) bytes at data into nbt as its skeleton:
 * the root compound with its direct tags and those of each compound
 * directly in it, every list, array and deeper compound emptied (a list
 * keeps its item type). For a caller that needs a document's top-level
 * markers at a small fraction of the cost of its whole tree. NBT_ERR for
 * anything but a well-formed document whose root is a compound, with
 * nothing after it (its full parse says what is wrong); NBT_EMEM. */
NBT_API int nbt_parse_skeleton(nbt_file *nbt, const unsigned char *data, size_t n);

/* ---- Writing to memory ------------------------------------------------- */

/* Check and serialise the tree, compress it and append the bytes to out.
 * The uncompressed byte count; NBT_ERR for a tree nbt_write refuses;
 * NBT_EMEM when out of memory (out keeps its old size). */
NBT_API int nbt_encode(const nbt_file *nbt, nbt_compression c, nbt_buffer *out, nbt_codec *codec);

#ifdef __cplusplus
}
#endif

#endif
