// nbtdump on region files: every chunk of the file, each under a line that
// says where it lies, printed with the library's tree printer.
#ifndef LODECAST_NBTDUMP_REGION_DUMP_H
#define LODECAST_NBTDUMP_REGION_DUMP_H

namespace nbtdump {

// True when the last component of path is a region file's name
// (r.<rx>.<rz>.mcr or .mca).
bool is_region_file(const char *path);

// Prints each present chunk of the region file at path (only: that slot
// alone), in slot order: "Chunk [<x>, <z>] in <path> (slot <n>, timestamp
// <t>):" and its tree, with ", external c.<x>.<z>.mcc" before the colon
// for a chunk kept in an external file. A damaged chunk gets one line on
// standard error and the others are still printed. 0 when everything was
// printed, 1 otherwise.
int dump_region(const char *path, int only = -1);

// True when the last component of path is an external chunk's name
// (c.<x>.<z>.mcc).
bool is_external_file(const char *path);
// Prints the chunk of the external file at path through the region file
// beside it, as dump_region prints it.
int dump_external(const char *path);

} // namespace nbtdump

#endif
