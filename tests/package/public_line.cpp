// Compiled with the include path every program and test gets: the NBT
// library's public headers are reachable, its internals are not.
#if __has_include("nbt/src/reader.h") || __has_include("src/reader.h") || __has_include("reader.h")
#error "an internal header of the NBT library is reachable from outside nbt/"
#endif
#include "nbt/nbt_io.h"

int main() {
    return nbt_status_name(NBT_OK)[0] == 's' ? 0 : 1;
}
