// Updating one chunk: the processing stage that validates a loaded chunk
// document and carves its veins, the messages for a chunk left alone, and
// the whole update of a single chunk file.
#ifndef LODECAST_CHUNK_UPDATE_H
#define LODECAST_CHUNK_UPDATE_H

#include "lodecast/formats/world_format.h"
#include "lodecast/ores/vein.h"
#include "lodecast/run/options.h"
#include "lodecast/storage/block_grid.h"
#include "nbt/nbt.h"

#include <cstdint>

// Print the message for a failed status on standard error (file names the
// chunk, why the reason a write failed, when known); nothing for ok.
void report_chunk_status(chunk_status status, const char *file, const char *why = nullptr);

// Validate the tree, then give it opt->rounds veins of ore_id, printing the
// very verbose trace. invalid leaves the tree unchanged. Draws from the
// run's one random sequence, so chunks go through it in walk order. The
// blocks that became ore are added to *placed when given.
chunk_status process_chunk(nbt_file *nf, int16_t ore_id, const options *opt,
                           placement_count *placed = nullptr);

// The same for a sectioned chunk (ore_id 0..4095): invalid when it has no
// sections or a section the tool does not understand; a chunk in which a
// vein replaced anything but natural rock gets "LightPopulated" 0.
// Marks the chunk for relighting ("LightPopulated" 0, where it has one)
// when the grid's veins replaced anything but natural rock.
void mark_relight(nbt_tag *root, const sectioned_grid &grid);

chunk_status process_sectioned_chunk(nbt_file *nf, int16_t ore_id, const options *opt,
                                     placement_count *placed = nullptr);

// Read file, give it opt->rounds veins of ore_id and write it back. 0 when
// the chunk was updated, 1 when it was left alone (a message says why).
int update_chunk(const char *file, int16_t ore_id, const options *opt);

#endif
