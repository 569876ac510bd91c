#include "lodecast/chunk_update.h"

#include "lodecast/chunk.h"
#include "lodecast/ore.h"
#include "lodecast/output.h"
#include "nbt/nbt_io.h"

#include <cstdio>
#include <utility>

namespace {

// Each file complete on disk before its rename; the run syncs the folders.
const nbt_durability chunk_durability{1, 0, nullptr, nullptr};

constexpr int32_t block_count = 32768;
constexpr int32_t data_bytes = block_count / 2;

bool known_type(int32_t type) {
    return type >= TAG_END && type <= TAG_COMPOUND;
}

bool payload_types_known(nbt_type type, void *value);

// A tag of an unassigned type carries no payload in memory, so writing the
// tree back would lose whatever the file held after its name.
bool tag_types_known(const nbt_tag *tag) {
    return known_type(tag->type) && payload_types_known(tag->type, tag->value);
}

bool payload_types_known(nbt_type type, void *value) {
    if (value == nullptr) {
        return true;
    }
    if (type == TAG_COMPOUND) {
        const auto *c = static_cast<const nbt_compound *>(value);
        for (int32_t i = 0; i < c->length; ++i) {
            if (!tag_types_known(c->tags[i])) {
                return false;
            }
        }
    } else if (type == TAG_LIST) {
        const auto *l = static_cast<const nbt_list *>(value);
        if (l->length > 0 && !known_type(l->type)) {
            return false;
        }
        for (int32_t i = 0; i < l->length; ++i) {
            if (!payload_types_known(l->type, l->content[i])) {
                return false;
            }
        }
    }
    return true;
}

nbt_tag *find_in_level(nbt_tag *root, const char *name) {
    nbt_tag *level = nbt_find_tag_by_name("Level", root);
    return level == nullptr ? nullptr : nbt_find_tag_by_name(name, level);
}

} // namespace

int valid_chunk(nbt_tag *nbtroot) {
    if (nbtroot == nullptr) {
        return 1;
    }
    nbt_tag *level = nbt_find_tag_by_name("Level", nbtroot);
    if (level == nullptr || level->type != TAG_COMPOUND) {
        return 1;
    }
    nbt_tag *blocks = nbt_find_tag_by_name("Blocks", level);
    if (blocks == nullptr) {
        return 1;
    }
    nbt_byte_array *arr = nbt_cast_byte_array(blocks);
    if (arr == nullptr || arr->length != block_count) {
        return 1;
    }
    return 0;
}

void report_chunk_status(chunk_status status, const char *file) {
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
        out_printf("File \"%s\" is not a valid chunk\n", file);
        break;
    case chunk_status::write_failed:
        out_printf("nbt_write(): Failed - chunk left unchanged\n");
        break;
    }
}

chunk_status load_chunk(const char *file, nbt_file_ptr *out) {
    out->reset();
    nbt_file *raw = nullptr;
    int rc = nbt_init(&raw);
    nbt_file_ptr nf(raw);
    if (rc != NBT_OK || nf == nullptr) {
        return chunk_status::init_failed;
    }
    if (nbt_parse(nf.get(), file) != NBT_OK) {
        return chunk_status::parse_failed;
    }
    *out = std::move(nf);
    return chunk_status::ok;
}

chunk_status process_chunk(nbt_file *nf, int16_t ore_id, const options *opt) {
    if (valid_chunk(nf->root) != 0 || !tag_types_known(nf->root)) {
        return chunk_status::invalid;
    }
    nbt_byte_array *arr = nbt_cast_byte_array(find_in_level(nf->root, "Blocks"));
    nbt_byte_array *dat = nullptr;
    if (nbt_tag *data = find_in_level(nf->root, "Data"); data != nullptr) {
        dat = nbt_cast_byte_array(data);
    }
    // Data values are only written with OPT_DATA; without it a missing or
    // short "Data" does not matter, and the generator gets an empty array it
    // never touches.
    nbt_byte_array no_data{0, nullptr};
    if (dat == nullptr || dat->length < data_bytes || dat->content == nullptr) {
        if (opt->set & OPT_DATA) {
            return chunk_status::invalid;
        }
        dat = &no_data;
    }

    const bool trace = (opt->set & OPT_VERY_VERBOSE) != 0;
    if (trace) {
        out_printf("Generating %d (rounds %d, min %d, max %d, size %d)\n", ore_id, opt->rounds,
                   opt->min_depth, opt->max_depth, opt->size);
    }
    for (int32_t i = 0; i < opt->rounds; ++i) {
        if (trace) {
            out_printf("Generating round %d...\n", i);
        }
        gen_ore(arr, dat, ore_id, opt);
    }
    return chunk_status::ok;
}

chunk_status store_chunk(nbt_file *nf, const char *file) {
    // The writer replaces the file only once the whole tree has been written,
    // and refuses a file the user may not write.
    nbt::buffer bytes;
    chunk_status status = encode_chunk(nf, bytes);
    return status == chunk_status::ok ? write_chunk(file, bytes) : status;
}

chunk_status encode_chunk(nbt_file *nf, nbt::buffer &out) {
    return nbt_encode(nf, NBT_GZIP, out.get(), nullptr) < 0 ? chunk_status::write_failed
                                                            : chunk_status::ok;
}

chunk_status write_chunk(const char *file, const nbt::buffer &bytes) {
    return nbt_replace_file(file, bytes.data(), bytes.size(), &chunk_durability, nullptr) != NBT_OK
               ? chunk_status::write_failed
               : chunk_status::ok;
}

int update_chunk(const char *file, int16_t ore_id, const options *opt) {
    nbt_file_ptr nf;
    chunk_status status = load_chunk(file, &nf);
    if (status == chunk_status::ok) {
        status = process_chunk(nf.get(), ore_id, opt);
    }
    if (status == chunk_status::ok) {
        status = store_chunk(nf.get(), file);
    }
    report_chunk_status(status, file);
    return status == chunk_status::ok ? 0 : 1;
}
