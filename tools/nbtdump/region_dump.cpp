#include "region_dump.h"

#include "escaped_tree.h"
#include "lodecast/formats/chunk_document.h"
#include "lodecast/formats/record_codec.h"
#include "lodecast/formats/region_file.h"
#include "nbt/nbt.hpp"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace nbtdump {

namespace {

std::string_view base_name(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string folder_of(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? "." : std::string(path.substr(0, slash + 1));
}

// Coordinates of the region named by path's last component.
bool region_of_path(const char *path, int32_t *rx, int32_t *rz) {
    region::extension ext;
    return region::parse_file_name(base_name(path), rx, rz, &ext);
}

region::extension extension_of(const char *path) {
    int32_t rx, rz;
    region::extension ext = region::extension::mca;
    region::parse_file_name(base_name(path), &rx, &rz, &ext);
    return ext;
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
                       region::record &rec, nbt_codec *codec, int32_t max_array) {
    const region::status s = in.read_record(slot, rec);
    if (s != region::status::ok) {
        return region::status_name(s);
    }
    nbt::document doc = nbt::make_document();
    if (!doc) {
        return nbt_status_name(NBT_EMEM);
    }
    std::vector<unsigned char> plain;
    record_payload payload;
    switch (record_payload_of(rec.compression, rec.bytes.data(), rec.bytes.size(), plain,
                              max_chunk_decoded_bytes, &payload)) {
    case lz4_stream::result::ok:
        break;
    case lz4_stream::result::damaged:
        return "damaged LZ4 stream";
    case lz4_stream::result::too_large:
        return "over the size limit of a chunk";
    case lz4_stream::result::no_memory:
        return nbt_status_name(NBT_EMEM);
    }
    // What lodecast would read of a chunk, no more.
    const nbt_read_limits limits{max_chunk_decoded_bytes, max_chunk_tags, 0};
    const int rc =
        nbt_parse_memory(doc.get(), payload.data, payload.size, payload.how, &limits, codec);
    if (rc == NBT_ELIMIT) {
        return "over the limits of a chunk (decompressed size or tag count)";
    }
    if (rc != NBT_OK) {
        return rc == NBT_EMEM ? nbt_status_name(NBT_EMEM)
                              : "not a valid NBT document (damaged or truncated)";
    }
    if (doc->root != nullptr && !escape_controls(doc->root)) {
        return nbt_status_name(NBT_EMEM);
    }
    const std::string external =
        rec.external ? ", external " + region::external_name(c.x, c.z) : "";
    std::printf("Chunk [%" PRId32 ", %" PRId32 "] in %s (slot %d, timestamp %" PRIu32 "%s):\n", c.x,
                c.z, path, slot, rec.timestamp, external.c_str());
    if (doc->root != nullptr) {
        nbt_print_tag_short(doc->root, 0, max_array);
    }
    return nullptr;
}

} // namespace

bool is_region_file(const char *path) {
    int32_t rx, rz;
    return region_of_path(path, &rx, &rz);
}

bool is_external_file(const char *path) {
    int32_t x, z;
    return region::parse_external_name(base_name(path), &x, &z);
}

int dump_external(const char *path, const print_options &opt) {
    int32_t x = 0, z = 0;
    region::parse_external_name(base_name(path), &x, &z);
    const int32_t rx = region::region_of(x), rz = region::region_of(z);
    for (const region::extension ext : {region::extension::mca, region::extension::mcr}) {
        const std::string file = folder_of(path) + region::file_name(rx, rz, ext);
        if (access(file.c_str(), F_OK) == 0) {
            return dump_region(file.c_str(), opt, region::slot_of(x, z));
        }
    }
    std::fprintf(stderr, "nbtdump: %s: no region file beside it holds its chunk\n", path);
    return 1;
}

int dump_region(const char *path, const print_options &opt, int only) {
    int32_t rx = 0, rz = 0;
    region_of_path(path, &rx, &rz);
    if (opt.one_chunk) {
        if (region::region_of(opt.x) != rx || region::region_of(opt.z) != rz) {
            std::fprintf(stderr,
                         "nbtdump: %s: chunk [%" PRId32 ", %" PRId32 "] lies in %s, not here\n",
                         path, opt.x, opt.z,
                         region::file_name(region::region_of(opt.x), region::region_of(opt.z),
                                           extension_of(path))
                             .c_str());
            return 1;
        }
        only = region::slot_of(opt.x, opt.z);
    }
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
    in.find_external(folder_of(path), rx, rz);
    nbt::codec codec = nbt::make_codec();
    region::record rec;
    int result = 0;
    if (opt.one_chunk && in.state(only) == region::status::absent) {
        std::fprintf(stderr, "nbtdump: %s: chunk [%" PRId32 ", %" PRId32 "] is not in the file\n",
                     path, opt.x, opt.z);
        result = 1;
    }
    for (int slot = 0; slot < region::slot_count; ++slot) {
        if (in.state(slot) == region::status::absent || (only >= 0 && slot != only)) {
            continue;
        }
        const region::chunk_pos c = region::chunk_of_slot(rx, rz, slot);
        if (const char *why = dump_chunk(path, in, slot, c, rec, codec.get(), opt.max_array)) {
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
