// Writing a whole document to a file: the tree is checked, serialised and
// compressed before the disk is touched, and the file is then replaced in
// one step, so a failure at any point leaves the old file as it was.

#include "durable/durable.h"
#include "nbt/nbt_io.h"

// The replacement's results are handed on as statuses.
constexpr bool same(durable_status d, nbt_status n) {
    return static_cast<int>(d) == static_cast<int>(n);
}
static_assert(same(DURABLE_OK, NBT_OK) && same(DURABLE_ERR, NBT_ERR) &&
              same(DURABLE_EMEM, NBT_EMEM) && same(DURABLE_EDENIED, NBT_EGZ));

extern "C" int nbt_write(nbt_file *nbt, const char *filename) {
    nbt_buffer gz{};
    int size = nbt_encode(nbt, NBT_GZIP, &gz, nullptr);
    if (size < 0) {
        return size;
    }
    // Null policy: the file and its folder are synced.
    int r = durable_replace_file(filename, gz.data, gz.size, nullptr, nullptr);
    nbt_buffer_free(&gz);
    return r != NBT_OK ? r : size;
}
