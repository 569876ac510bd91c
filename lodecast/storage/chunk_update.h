// The messages for a chunk file left alone.
#ifndef LODECAST_CHUNK_UPDATE_H
#define LODECAST_CHUNK_UPDATE_H

#include "lodecast/formats/world_format.h"

// Print the message for a failed status on standard error (file names the
// chunk); nothing for chunk_status::ok.
void report_chunk_status(chunk_status status, const char *file);

#endif
