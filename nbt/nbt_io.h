/* Advanced NBT input and output, for programs that handle files themselves:
 * documents to and from memory (gzip, zlib or no compression) with limits
 * on what a read may cost, and atomic replacement of a file with a
 * durability the caller chooses, in one step or staged for group commits.
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

void nbt_buffer_free(nbt_buffer *b);

/* Compression and decompression state, reused from one call to the next so
 * that a run over many documents allocates it once. One codec serves one
 * thread at a time. A null codec is allowed everywhere: the call then makes
 * and frees one of its own. */
typedef struct nbt_codec nbt_codec;

/* NBT_OK, or NBT_EMEM with *out null. */
int nbt_codec_new(nbt_codec **out);
void nbt_codec_free(nbt_codec *c);

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
int nbt_parse_memory(nbt_file *nbt, const unsigned char *data, size_t n, nbt_compression c,
                     const nbt_read_limits *limits, nbt_codec *codec);

/* Decompress the n bytes at data as nbt_parse_memory would, within the same
 * limits, without parsing them: *out and *out_n then give the document's
 * bytes, held in codec (or data itself when they are not compressed) until
 * the next call with it. For a caller that looks at a document before it
 * decides to parse it (nbt_parse_memory on them as NBT_UNCOMPRESSED then
 * reads the same tree). Results as nbt_parse_memory; codec may not be null. */
int nbt_decompress_memory(const unsigned char *data, size_t n, nbt_compression c,
                          const nbt_read_limits *limits, nbt_codec *codec,
                          const unsigned char **out, size_t *out_n);

/* ---- Writing to memory ------------------------------------------------- */

/* Check and serialise the tree, compress it and append the bytes to out.
 * The uncompressed byte count; NBT_ERR for a tree nbt_write refuses;
 * NBT_EMEM when out of memory (out keeps its old size). */
int nbt_encode(const nbt_file *nbt, nbt_compression c, nbt_buffer *out, nbt_codec *codec);

/* ---- Replacing a file -------------------------------------------------- */

/* When the data of a replaced file reaches the disk. sync is how a file or
 * folder is synced (null: fsync); tests hand in their own to count. A
 * caller that turns sync_folder off syncs the folder of the path it gave;
 * when that path is a link into another folder, the folder of the rename is
 * synced with the file (sync_file) since only the library knows it. */
typedef struct nbt_durability {
    int sync_file;                      /* sync the new file before its rename */
    int sync_folder;                    /* sync the folder after the rename */
    int (*sync)(int fd, void *context); /* 0 on success */
    void *context;
} nbt_durability;

/* What could not be carried from the old file to the new one. The new file
 * always keeps the old permission bits, never wider (when the group could
 * not be kept, the group bits and set-group-id are cleared; when the owner
 * could not, set-user-id is); owner and group are
 * kept where the system allows (the owner only for root), ACLs and other
 * extended attributes are copied where the file system has them. */
typedef struct nbt_replace_report {
    int owner_changed;
    int group_changed;
    int attributes_lost;
} nbt_replace_report;

/* A new file being written beside path, not yet in its place. */
typedef struct nbt_staged nbt_staged;

/* Create the temporary file ".<name>.XXXXXX" in path's folder (following a
 * symbolic link path to its target) with the old file's attributes. NBT_OK;
 * NBT_EGZ, with nothing created, when the target may not be written or the
 * temporary file cannot be created; NBT_EMEM. report may be null. */
int nbt_stage_open(const char *path, nbt_staged **out, nbt_replace_report *report);
/* Append n bytes, or write them at offset (the file grows as needed).
 * NBT_OK or NBT_ERR. */
int nbt_stage_write(nbt_staged *s, const void *data, size_t n);
int nbt_stage_pwrite(nbt_staged *s, const void *data, size_t n, uint64_t offset);
/* Sync the staged content if d asks for it (a group commit stages many
 * files, then syncs them). NBT_OK or NBT_ERR. */
int nbt_stage_sync(nbt_staged *s, const nbt_durability *d);
/* Rename the staged file over the target, then sync the folder if d asks
 * for it. Frees s whatever happens; on failure the temporary file is gone
 * and the target is as it was. NBT_OK or NBT_ERR. */
int nbt_stage_commit(nbt_staged *s, const nbt_durability *d);
/* Remove the temporary file and free s. */
void nbt_stage_discard(nbt_staged *s);

/* Stage, write, sync and commit n bytes as one call. d null: sync the file
 * and the folder. Results as the staged steps. */
int nbt_replace_file(const char *path, const void *data, size_t n, const nbt_durability *d,
                     nbt_replace_report *report);

/* Sync the folder dir, or the whole file system holding it (filesystem
 * non-zero, syncfs), through d's sync when given. NBT_OK or NBT_ERR. */
int nbt_sync_folder(const char *dir, int filesystem, const nbt_durability *d);

#ifdef __cplusplus
}
#endif

#endif
