#include "region_dump.h"

#include "escaped_tree.h"
#include "lodecast/formats/chunk_document.h"
#include "lodecast/formats/region_file.h"
#include "nbt/nbt.hpp"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace nbtdump {

namespace {

// Coordinates of the region named by path's last component.
bool region_of_path(const char *path, int32_t *rx, int32_t *rz) {
    std::string_view name(path);
    const size_t slash = name.rfind('/');
    if (slash != std::string_view::npos) {
        name.remove_prefix(slash + 1);
    }
    region::extension ext;
    return region::parse_file_name(name, rx, rz, &ext);
}

// Why the file behind fd cannot be read as a region file; null when it can.
const char *open_failure(int fd, region::reader &in) {
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        return std::strerror(EISDIR);
    }
    switch (in.open(fd)) {
    case region::open_result::ok:
        return nullptr;
    case region::open_result::too_short:
        return "too short for a region file header";
    case region::open_result::io_error:
        break;
    }
    return std::strerror(errno);
}

// Reads, parses and prints the chunk in slot; null when printed, else why not.
const char *dump_chunk(const char *path, const region::reader &in, int slot, region::chunk_pos c,
                       region::record &rec, nbt_codec *codec) {
    const region::status s = in.read_record(slot, rec);
    if (s != region::status::ok) {
        return region::status_name(s);
    }
    nbt::document doc = nbt::make_document();
    if (!doc) {
        return "out of memory";
    }
    const nbt_compression how = rec.compression == region::compression_gzip ? NBT_GZIP : NBT_ZLIB;
    // What lodecast would read of a chunk, no more.
    const nbt_read_limits limits{max_chunk_decoded_bytes, max_chunk_tags, 0};
    const int rc =
        nbt_parse_memory(doc.get(), rec.bytes.data(), rec.bytes.size(), how, &limits, codec);
    if (rc == NBT_ELIMIT) {
        return "over the limits of a chunk (decompressed size or tag count)";
    }
    if (rc != NBT_OK) {
        return rc == NBT_EMEM ? "out of memory" : "not a valid NBT document (damaged or truncated)";
    }
    if (doc->root != nullptr && !escape_controls(doc->root)) {
        return "out of memory";
    }
    std::printf("Chunk [%" PRId32 ", %" PRId32 "] in %s (slot %d, timestamp %" PRIu32 "):\n", c.x,
                c.z, path, slot, rec.timestamp);
    if (doc->root != nullptr) {
        nbt_print_tag(doc->root, 0);
    }
    return nullptr;
}

} // namespace

bool is_region_file(const char *path) {
    int32_t rx, rz;
    return region_of_path(path, &rx, &rz);
}

int dump_region(const char *path) {
    int32_t rx = 0, rz = 0;
    region_of_path(path, &rx, &rz);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "nbtdump: %s: %s\n", path, std::strerror(errno));
        return 1;
    }
    region::reader in;
    if (const char *why = open_failure(fd, in)) {
        std::fprintf(stderr, "nbtdump: %s: %s\n", path, why);
        close(fd);
        return 1;
    }
    nbt::codec codec = nbt::make_codec();
    region::record rec;
    int result = 0;
    for (int slot = 0; slot < region::slot_count; ++slot) {
        if (in.state(slot) == region::status::absent) {
            continue;
        }
        const region::chunk_pos c = region::chunk_of_slot(rx, rz, slot);
        if (const char *why = dump_chunk(path, in, slot, c, rec, codec.get())) {
            // Keep the chunks printed so far ahead of the message.
            std::fflush(stdout);
            std::fprintf(stderr, "nbtdump: %s: chunk [%" PRId32 ", %" PRId32 "]: %s\n", path, c.x,
                         c.z, why);
            result = 1;
        }
    }
    std::fflush(stdout);
    close(fd);
    return result;
}

} // namespace nbtdump
