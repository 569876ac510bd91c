// Writing a whole document to a file: the tree is checked, serialised and
// compressed before the disk is touched, and the file is then replaced in
// one step, so a failure at any point leaves the old file as it was.

#include "nbt/nbt_io.h"

extern "C" int nbt_write(nbt_file *nbt, const char *filename) {
    nbt_buffer gz{};
    int size = nbt_encode(nbt, NBT_GZIP, &gz, nullptr);
    if (size < 0) {
        return size;
    }
    // Null durability: the file and its folder are synced.
    int r = nbt_replace_file(filename, gz.data, gz.size, nullptr, nullptr);
    nbt_buffer_free(&gz);
    return r != NBT_OK ? r : size;
}
