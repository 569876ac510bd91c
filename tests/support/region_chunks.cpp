#include "support/region_chunks.h"

#include "lodecast/formats/region_file.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

nbt::document parse(const unsigned char *data, size_t n, nbt_compression c) {
    nbt::document doc = nbt::make_document();
    if (doc == nullptr || nbt_parse_memory(doc.get(), data, n, c, nullptr, nullptr) != NBT_OK) {
        return nullptr;
    }
    return doc;
}

} // namespace

nbt::document read_region_chunk(const std::string &path, int slot) {
    const int fd = open(path.c_str(), O_RDONLY);
    region::reader reader;
    region::record rec;
    const bool read = fd >= 0 && reader.open(fd) == region::open_result::ok &&
                      reader.read_record(slot, rec) == region::status::ok;
    if (fd >= 0) {
        close(fd);
    }
    return read ? parse(rec.bytes.data(), rec.bytes.size(),
                        static_cast<nbt_compression>(rec.compression))
                : nullptr;
}

nbt::document reparse(const nbt_file *doc) {
    nbt::buffer out;
    if (nbt_encode(doc, NBT_UNCOMPRESSED, out.get(), nullptr) < 0) {
        return nullptr;
    }
    return parse(out.data(), out.size(), NBT_UNCOMPRESSED);
}
