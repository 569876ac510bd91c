// The three stages of one chunk update. Loading and storing touch only the
// chunk's own file and print nothing, so they may run on any thread; the
// processing stage draws from the run's one random sequence and prints the
// trace, so it must run in chunk order on one thread. update_chunk (chunk.h)
// runs the three in a row.
#ifndef LODECAST_CHUNK_UPDATE_H
#define LODECAST_CHUNK_UPDATE_H

#include "lodecast/options.h"
#include "nbt/nbt.hpp"

#include <cstdint>

// Owns one document and its whole tree.
using nbt_file_ptr = nbt::document;

// Why a stage left the chunk alone.
enum class chunk_status {
    ok,
    init_failed,  // the document could not be created
    parse_failed, // the file could not be opened or read
    invalid,      // the tree is not a chunk the update can handle
    write_failed, // the new tree did not replace the file
};

// Print the message for a failed status on standard error (file is the
// chunk's path); nothing for chunk_status::ok.
void report_chunk_status(chunk_status status, const char *file);

// Create a document and read file into it. On success *out owns the tree;
// on failure *out is empty and nothing is printed.
chunk_status load_chunk(const char *file, nbt_file_ptr *out);

// Validate the tree, then give it opt->rounds veins of ore_id, printing the
// very verbose trace. invalid leaves the tree unchanged. The tree must come
// from a successful load_chunk.
chunk_status process_chunk(nbt_file *nf, int16_t ore_id, const options *opt);

// Write the tree back to file; the file keeps its old content when this
// fails. The file is synced before its rename; its folder is left to the
// run's sync at the end (chunk_runner). Prints nothing.
chunk_status store_chunk(nbt_file *nf, const char *file);

// store_chunk in two halves, so that compressing and waiting for the disk
// can run on different threads: encode_chunk appends the file's new bytes
// to out, write_chunk puts them in place of file. Prints nothing.
chunk_status encode_chunk(nbt_file *nf, nbt::buffer &out);
chunk_status write_chunk(const char *file, const nbt::buffer &bytes);

#endif
