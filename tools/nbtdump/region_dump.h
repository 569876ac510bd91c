// nbtdump on region files: every chunk of the file, each under a line that
// says where it lies, printed with the library's tree printer.
#ifndef LODECAST_NBTDUMP_REGION_DUMP_H
#define LODECAST_NBTDUMP_REGION_DUMP_H

#include <cstdint>

namespace nbtdump {

// How much of each tree is printed.
struct print_options {
    int32_t max_array = -1; // elements of an array printed (negative: all)
    bool one_chunk = false; // region files: only chunk (x, z)
    int32_t x = 0;
    int32_t z = 0;
};

// True when the last component of path is a region file's name
// (r.<rx>.<rz>.mcr or .mca).
bool is_region_file(const char *path);

// Prints each present chunk of the region file at path (only: that slot
// alone), in slot order: "Chunk [<x>, <z>] in <path> (slot <n>, timestamp
// <t>):" and its tree, with ", external c.<x>.<z>.mcc" before the colon
// for a chunk kept in an external file. A damaged chunk gets one line on
// standard error and the others are still printed. 0 when everything was
// printed, 1 otherwise.
// With opt.one_chunk only that chunk, an error when the file cannot hold it
// or does not.
int dump_region(const char *path, const print_options &opt, int only = -1);

// True when the last component of path is an external chunk's name
// (c.<x>.<z>.mcc).
bool is_external_file(const char *path);
// Prints the chunk of the external file at path through the region file
// beside it, as dump_region prints it.
int dump_external(const char *path, const print_options &opt);

} // namespace nbtdump

#endif
