// The one table of the texts of the library's statuses. A text, once given,
// is never changed: programs print it and tests compare it.

#include "nbt/nbt.h"

extern "C" const char *nbt_status_name(int status) {
    switch (status) {
    case NBT_OK:
        return "success";
    case NBT_ERR:
        return "malformed data or a failed write";
    case NBT_EMEM:
        return "out of memory";
    case NBT_EGZ:
        return "cannot open";
    case NBT_ELIMIT:
        return "over the reader's limits";
    default:
        return "unknown status";
    }
}
