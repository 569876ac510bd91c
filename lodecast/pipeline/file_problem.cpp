#include "lodecast/pipeline/file_problem.h"

#include "nbt/nbt.h"

#include <cstring>

std::string unreadable_reason(int nbt_status, int err) {
    if (nbt_status == NBT_EMEM) {
        return nbt_status_name(nbt_status);
    }
    if (nbt_status == NBT_EGZ) {
        return err != 0 ? std::strerror(err) : nbt_status_name(nbt_status);
    }
    return "not a valid NBT file (damaged or truncated)";
}
