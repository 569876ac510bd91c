#include "lodecast/formats/lz4_stream.h"

#include <cstring>
#include <lz4.h>
#include <new>
#include <xxhash.h>

namespace lz4_stream {

namespace {

constexpr unsigned char magic[8] = {'L', 'Z', '4', 'B', 'l', 'o', 'c', 'k'};
constexpr uint8_t method_stored = 0x10;
constexpr uint8_t method_lz4 = 0x20;
// log2(block size) - 10, in the token's low four bits.
constexpr uint8_t block_level = 6;
static_assert(block_bytes == size_t{1} << (block_level + 10));

void put_le32(unsigned char *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

uint32_t get_le32(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// One block: its header, then size bytes already at the end of out.
void put_header(unsigned char *at, uint8_t method, size_t stored, size_t size, uint32_t sum) {
    std::memcpy(at, magic, sizeof magic);
    at[8] = static_cast<unsigned char>(method | block_level);
    put_le32(at + 9, static_cast<uint32_t>(stored));
    put_le32(at + 13, static_cast<uint32_t>(size));
    put_le32(at + 17, sum);
}

} // namespace

uint32_t checksum(const unsigned char *data, size_t n) {
    return XXH32(data, n, checksum_seed) & 0x0fffffffu;
}

bool encode(const unsigned char *data, size_t n, std::vector<unsigned char> &out) {
    try {
        for (size_t at = 0; at < n; at += block_bytes) {
            const size_t size = n - at < block_bytes ? n - at : block_bytes;
            const size_t head = out.size();
            const int bound = LZ4_compressBound(static_cast<int>(size));
            out.resize(head + block_header_bytes + static_cast<size_t>(bound));
            unsigned char *body = out.data() + head + block_header_bytes;
            const int packed =
                LZ4_compress_default(reinterpret_cast<const char *>(data + at),
                                     reinterpret_cast<char *>(body), static_cast<int>(size), bound);
            const bool stored = packed <= 0 || static_cast<size_t>(packed) >= size;
            if (stored) {
                std::memcpy(body, data + at, size);
            }
            const size_t kept = stored ? size : static_cast<size_t>(packed);
            put_header(out.data() + head, stored ? method_stored : method_lz4, kept, size,
                       checksum(data + at, size));
            out.resize(head + block_header_bytes + kept);
        }
        const size_t end = out.size();
        out.resize(end + block_header_bytes);
        put_header(out.data() + end, method_stored, 0, 0, 0);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

result decode(const unsigned char *data, size_t n, std::vector<unsigned char> &out, size_t limit) {
    out.clear();
    size_t at = 0;
    try {
        for (;;) {
            if (n - at < block_header_bytes || std::memcmp(data + at, magic, sizeof magic) != 0) {
                return result::damaged;
            }
            const uint8_t method = data[at + 8] & 0xf0;
            const size_t most = size_t{1} << ((data[at + 8] & 0x0f) + 10);
            const uint32_t stored = get_le32(data + at + 9);
            const uint32_t size = get_le32(data + at + 13);
            const uint32_t sum = get_le32(data + at + 17);
            at += block_header_bytes;
            if ((method != method_stored && method != method_lz4) || size > most ||
                stored > n - at || (method == method_stored && stored != size) ||
                (method == method_lz4 &&
                 stored > static_cast<uint32_t>(LZ4_compressBound(static_cast<int>(most))))) {
                return result::damaged;
            }
            if (size == 0) {
                return stored == 0 && sum == 0 ? result::ok : result::damaged;
            }
            if (size > limit - out.size()) {
                return result::too_large;
            }
            const size_t was = out.size();
            out.resize(was + size);
            unsigned char *to = out.data() + was;
            if (method == method_stored) {
                std::memcpy(to, data + at, size);
            } else if (LZ4_decompress_safe(reinterpret_cast<const char *>(data + at),
                                           reinterpret_cast<char *>(to), static_cast<int>(stored),
                                           static_cast<int>(size)) != static_cast<int>(size)) {
                return result::damaged;
            }
            if (checksum(to, size) != sum) {
                return result::damaged;
            }
            at += stored;
        }
    } catch (const std::bad_alloc &) {
        return result::no_memory;
    }
}

} // namespace lz4_stream
