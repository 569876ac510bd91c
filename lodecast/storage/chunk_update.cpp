#include "lodecast/storage/chunk_update.h"

#include "lodecast/formats/chunk_document.h"
#include "lodecast/ores/vein.h"
#include "lodecast/pipeline/output.h"
#include "lodecast/storage/block.h"
#include "lodecast/storage/block_grid.h"
#include "lodecast/storage/section_blocks.h"
#include "nbt/nbt_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

void report_chunk_status(chunk_status status, const char *file, const char *why) {
    switch (status) {
    case chunk_status::ok:
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
        // The old line first, then which file and why.
        out_printf("nbt_write(): Failed - chunk left unchanged (%s%s%s)\n", shown(file).c_str(),
                   why != nullptr ? ": " : "", why != nullptr ? why : "");
        break;
    case chunk_status::too_large:
        out_printf("%s: the updated chunk would not fit its region record - chunk left unchanged\n",
                   shown(file).c_str());
        break;
    }
}

namespace {

void carve_veins(block_grid &grid, int16_t ore_id, const options *opt, placement_count *placed) {
    const bool trace = (opt->set & OPT_VERY_VERBOSE) != 0;
    if (trace) {
        out_printf("Generating %d (rounds %d, min %d, max %d, size %d)\n", ore_id, opt->rounds,
                   opt->min_depth, opt->max_depth, opt->size);
    }
    for (int32_t i = 0; i < opt->rounds; ++i) {
        if (trace) {
            out_printf("Generating round %d...\n", i);
        }
        gen_ore(grid, ore_id, opt, placed);
    }
}

} // namespace

chunk_status process_chunk(nbt_file *nf, int16_t ore_id, const options *opt,
                           placement_count *placed) {
    nbt_byte_array *arr = chunk_blocks(nf->root);
    if (arr == nullptr || !tag_types_known(nf->root)) {
        return chunk_status::invalid;
    }
    nbt_byte_array *dat = nullptr;
    if (nbt_tag *data = find_in_level(nf->root, "Data"); data != nullptr) {
        dat = nbt_cast_byte_array(data);
    }
    // Data values are only written with OPT_DATA; without it a missing or
    // short "Data" does not matter, and the generator gets an empty array it
    // never touches.
    nbt_byte_array no_data{0, nullptr};
    if (dat == nullptr || dat->length < chunk_data_bytes || dat->content == nullptr) {
        if (opt->set & OPT_DATA) {
            return chunk_status::invalid;
        }
        dat = &no_data;
    }

    flat_grid grid(arr, dat);
    carve_veins(grid, ore_id, opt, placed);
    return chunk_status::ok;
}

chunk_status process_sectioned_chunk(nbt_file *nf, int16_t ore_id, const options *opt,
                                     placement_count *placed) {
    chunk_sections sections;
    if (!tag_types_known(nf->root) || sections.bind(nf->root) != sections_shape::ok) {
        return chunk_status::invalid;
    }
    sectioned_grid grid(sections);
    carve_veins(grid, ore_id, opt, placed);
    if (grid.failed()) {
        return chunk_status::init_failed;
    }
    mark_relight(nf->root, grid);
    return chunk_status::ok;
}

void mark_relight(nbt_tag *root, const sectioned_grid &grid) {
    // The game relights a chunk whose light is not marked as computed; stone
    // turned into ore lets no more light through, anything else might.
    nbt_tag *lit = grid.relight() ? find_in_level(root, "LightPopulated") : nullptr;
    if (lit != nullptr && nbt_cast_byte(lit) != nullptr) {
        nbt_set_byte(lit, 0);
    }
}

namespace {

chunk_status load_file(const char *file, nbt::document &doc, chunk_io &io) {
    const int fd = ::open(file, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return chunk_status::parse_failed;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok && static_cast<uint64_t>(st.st_size) > max_chunk_file_bytes) {
        ::close(fd);
        return chunk_status::invalid;
    }
    io.raw.resize(ok ? static_cast<size_t>(st.st_size) : 0);
    size_t have = 0;
    while (ok && have < io.raw.size()) {
        const ssize_t n = ::read(fd, io.raw.data() + have, io.raw.size() - have);
        ok = n > 0;
        have += ok ? static_cast<size_t>(n) : 0;
    }
    ::close(fd);
    return ok ? parse_chunk(io.raw.data(), io.raw.size(), NBT_GZIP, doc, io)
              : chunk_status::parse_failed;
}

} // namespace

int update_chunk(const char *file, int16_t ore_id, const options *opt) {
    chunk_io io;
    nbt::document doc;
    nbt::buffer bytes;
    chunk_status status = load_file(file, doc, io);
    int err = 0;
    if (status == chunk_status::ok) {
        status = process_chunk(doc.get(), ore_id, opt);
    }
    if (status == chunk_status::ok) {
        status =
            nbt_encode(doc.get(), NBT_GZIP, bytes.get(), io.codec.get()) < 0 ||
                    nbt_replace_file(file, bytes.data(), bytes.size(), nullptr, nullptr) != NBT_OK
                ? chunk_status::write_failed
                : chunk_status::ok;
        err = status == chunk_status::ok ? 0 : errno;
    }
    report_chunk_status(status, file, err != 0 ? std::strerror(err) : nullptr);
    return status == chunk_status::ok ? 0 : 1;
}
