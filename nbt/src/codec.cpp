#include "codec.h"

#include "nbt/nbt_io.h"

#include <cstdlib>
#include <new>

extern "C" {

int nbt_codec_new(nbt_codec **out) {
    // malloc and placement new: a plain new would throw when out of memory.
    void *p = std::malloc(sizeof(nbt_codec));
    *out = p == nullptr ? nullptr : new (p) nbt_codec();
    return *out == nullptr ? NBT_EMEM : NBT_OK;
}

void nbt_codec_free(nbt_codec *c) {
    if (c == nullptr) {
        return;
    }
    if (c->inflater_ready) {
        inflateEnd(&c->inflater);
    }
    if (c->gzip_deflater_ready) {
        deflateEnd(&c->gzip_deflater);
    }
    if (c->zlib_deflater_ready) {
        deflateEnd(&c->zlib_deflater);
    }
    nbt_detail::free_libdeflate_state(*c);
    c->~nbt_codec();
    std::free(c);
}

} // extern "C"

namespace nbt_detail {

CodecFor::CodecFor(nbt_codec *given) : codec_(given), owned_(given == nullptr) {
    if (owned_ && nbt_codec_new(&codec_) != NBT_OK) {
        codec_ = nullptr;
    }
}

CodecFor::~CodecFor() {
    if (owned_) {
        nbt_codec_free(codec_);
    }
}

} // namespace nbt_detail
