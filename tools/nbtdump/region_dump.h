// nbtdump on region files: every chunk of the file, each under a line that
// says where it lies, printed with the library's tree printer.
#ifndef LODECAST_NBTDUMP_REGION_DUMP_H
#define LODECAST_NBTDUMP_REGION_DUMP_H

namespace nbtdump {

// True when the last component of path is a region file's name
// (r.<rx>.<rz>.mcr or .mca).
bool is_region_file(const char *path);

// Prints each present chunk of the region file at path, in slot order:
// "Chunk [<x>, <z>] in <path> (slot <n>, timestamp <t>):" and its tree. A
// damaged chunk gets one line on standard error and the others are still
// printed. 0 when everything was printed, 1 otherwise.
int dump_region(const char *path);

} // namespace nbtdump

#endif
