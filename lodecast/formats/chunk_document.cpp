#include "lodecast/formats/chunk_document.h"

#include "lodecast/storage/block.h"
#include "nbt/nbt_io.h"

namespace {

bool known_type(int32_t type) {
    return type >= TAG_END && type <= TAG_LONG_ARRAY;
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

} // namespace

// A tag of an unassigned type carries no payload in memory, so writing the
// tree back would lose whatever the file held after its name.
bool tag_types_known(const nbt_tag *tag) {
    return known_type(tag->type) && payload_types_known(tag->type, tag->value);
}

nbt_tag *find_in_level(nbt_tag *root, const char *name) {
    nbt_tag *level = nbt_find_tag_by_name("Level", root);
    return level == nullptr ? nullptr : nbt_find_tag_by_name(name, level);
}

int valid_chunk(nbt_tag *nbtroot) {
    return chunk_blocks(nbtroot) == nullptr ? 1 : 0;
}

nbt_byte_array *chunk_blocks(nbt_tag *root) {
    if (root == nullptr) {
        return nullptr;
    }
    nbt_tag *level = nbt_find_tag_by_name("Level", root);
    if (level == nullptr || level->type != TAG_COMPOUND) {
        return nullptr;
    }
    nbt_tag *blocks = nbt_find_tag_by_name("Blocks", level);
    nbt_byte_array *arr = blocks == nullptr ? nullptr : nbt_cast_byte_array(blocks);
    return arr == nullptr || arr->length != chunk_block_count ? nullptr : arr;
}

chunk_status parse_chunk(const unsigned char *data, size_t n, nbt_compression c, nbt::document &out,
                         chunk_io &io) {
    nbt::document doc = nbt::make_document();
    if (!doc) {
        return chunk_status::init_failed;
    }
    nbt_read_limits limits{};
    limits.max_decoded = max_chunk_decoded_bytes;
    limits.max_tags = max_chunk_tags;
    limits.faithful = 1;
    int r = NBT_OK;
    if (io.left_unfinished && io.codec) {
        // Decompressed once: the skeleton first, then, unless it settles
        // the chunk, the full tree from the same bytes.
        const unsigned char *plain = nullptr;
        size_t plain_n = 0;
        r = nbt_decompress_memory(data, n, c, &limits, io.codec.get(), &plain, &plain_n);
        nbt::document skeleton = nbt::make_document();
        if (r == NBT_OK && skeleton &&
            nbt_parse_skeleton(skeleton.get(), plain, plain_n) == NBT_OK &&
            io.left_unfinished(skeleton->root)) {
            return chunk_status::unfinished;
        }
        if (r == NBT_OK) {
            r = nbt_parse_memory(doc.get(), plain, plain_n, NBT_UNCOMPRESSED, &limits,
                                 io.codec.get());
        }
    } else {
        r = nbt_parse_memory(doc.get(), data, n, c, &limits, io.codec.get());
    }
    if (r == NBT_ELIMIT) {
        return chunk_status::invalid;
    }
    if (r != NBT_OK) {
        return chunk_status::parse_failed;
    }
    out = std::move(doc);
    return chunk_status::ok;
}
