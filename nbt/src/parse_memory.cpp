// Reading a document from memory: the bytes are decompressed in one step,
// then parsed, so every length can be checked against the data that is
// really there before anything is allocated for it.

#include "codec.h"
#include "compress.h"
#include "nbt/nbt_io.h"
#include "reader.h"

#include <cstdlib>

using nbt_detail::BufferSource;
using nbt_detail::parse_rules;
using nbt_detail::Parser;

namespace {

int parse_root(nbt_file *nbt, const unsigned char *data, size_t n, const parse_rules &rules) {
    auto *root = static_cast<nbt_tag *>(std::malloc(sizeof(nbt_tag)));
    if (root == nullptr) {
        return NBT_EMEM;
    }
    BufferSource src(data, n);
    Parser<BufferSource> parser(src, rules);
    int r = parser.tag(root, 0);
    if (r >= 0 && rules.faithful && src.position() != n) {
        // Bytes after the root would not survive a rewrite; otherwise they
        // are never looked at.
        nbt_free_tag(root);
        return NBT_ELIMIT;
    }
    if (r < 0) {
        std::free(root);
        return r;
    }
    nbt->root = root;
    return NBT_OK;
}

} // namespace

namespace {

// Bytes that are a plain document already, parsed where they are.
bool plain_document(const unsigned char *data, size_t n, nbt_compression c) {
    return c == NBT_UNCOMPRESSED || (c == NBT_GZIP && !nbt_detail::starts_gzip_member(data, n));
}

// A gzip or zlib document into the codec's plain buffer, within the limits.
int decode_plain(nbt_codec &codec, const unsigned char *data, size_t n, nbt_compression c,
                 const nbt_read_limits &l) {
    nbt_detail::ByteBuffer &plain = codec.plain;
    plain.clear();
    nbt_detail::decode_rules how;
    how.max_out = l.max_decoded != 0 ? l.max_decoded : SIZE_MAX;
    how.exact_end = l.faithful != 0;
    const nbt_detail::wrapper w =
        c == NBT_GZIP ? nbt_detail::wrapper::gzip : nbt_detail::wrapper::zlib;
    return nbt_detail::decode(codec, w, data, n, plain, how);
}

bool known_compression(nbt_compression c) {
    return c == NBT_GZIP || c == NBT_ZLIB || c == NBT_UNCOMPRESSED;
}

} // namespace

extern "C" int nbt_parse_memory(nbt_file *nbt, const unsigned char *data, size_t n,
                                nbt_compression c, const nbt_read_limits *limits,
                                nbt_codec *codec) {
    nbt->root = nullptr;
    const nbt_read_limits none{};
    const nbt_read_limits &l = limits != nullptr ? *limits : none;
    const parse_rules rules{l.max_tags, l.faithful != 0};
    if (!known_compression(c)) {
        return NBT_ERR;
    }
    if (plain_document(data, n, c)) {
        if (l.max_decoded != 0 && n > l.max_decoded) {
            return NBT_ELIMIT;
        }
        return parse_root(nbt, data, n, rules);
    }
    nbt_detail::CodecFor state(codec);
    if (state.get() == nullptr) {
        return NBT_EMEM;
    }
    nbt_detail::ByteBuffer &plain = state.get()->plain;
    int r = decode_plain(*state.get(), data, n, c, l);
    if (r == NBT_OK) {
        r = parse_root(nbt, plain.data(), plain.size(), rules);
    }
    plain.clear();
    nbt_detail::release_if_large(plain);
    return r;
}

extern "C" int nbt_decompress_memory(const unsigned char *data, size_t n, nbt_compression c,
                                     const nbt_read_limits *limits, nbt_codec *codec,
                                     const unsigned char **out, size_t *out_n) {
    *out = nullptr;
    *out_n = 0;
    const nbt_read_limits none{};
    const nbt_read_limits &l = limits != nullptr ? *limits : none;
    if (codec == nullptr || !known_compression(c)) {
        return NBT_ERR;
    }
    codec->plain.clear();
    nbt_detail::release_if_large(codec->plain); // what the last document left
    if (plain_document(data, n, c)) {
        if (l.max_decoded != 0 && n > l.max_decoded) {
            return NBT_ELIMIT;
        }
        *out = data;
        *out_n = n;
        return NBT_OK;
    }
    const int r = decode_plain(*codec, data, n, c, l);
    if (r == NBT_OK) {
        *out = codec->plain.data();
        *out_n = codec->plain.size();
    }
    return r;
}
