#include "lodecast/storage/chunk_update.h"

#include "lodecast/pipeline/output.h"

void report_chunk_status(chunk_status status, const char *file) {
    switch (status) {
    case chunk_status::ok:
    case chunk_status::unfinished:
    case chunk_status::unchanged:
        break;
    case chunk_status::init_failed:
        out_printf("nbt_init(): Failed. Get some RAM\n");
        break;
    case chunk_status::parse_failed:
        out_printf("nbt_parse(): Failed - RAM?\n");
        break;
    case chunk_status::invalid:
        out_printf("File \"%s\" is not a valid chunk\n", shown(file).c_str());
        break;
    case chunk_status::write_failed:
        out_printf("nbt_write(): Failed - chunk left unchanged\n");
        break;
    case chunk_status::too_large:
        out_printf("%s: the updated chunk would not fit its region record - chunk left unchanged\n",
                   shown(file).c_str());
        break;
    }
}
