#include "support/chunk_bytes.h"

NbtBytes &NbtBytes::u8(uint8_t v) {
    bytes_.push_back(v);
    return *this;
}

NbtBytes &NbtBytes::i16(int16_t v) {
    const auto u = static_cast<uint16_t>(v);
    return u8(static_cast<uint8_t>(u >> 8)).u8(static_cast<uint8_t>(u));
}

NbtBytes &NbtBytes::i32(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    return i16(static_cast<int16_t>(u >> 16)).i16(static_cast<int16_t>(u & 0xFFFF));
}

NbtBytes &NbtBytes::i64(int64_t v) {
    const auto u = static_cast<uint64_t>(v);
    return i32(static_cast<int32_t>(u >> 32)).i32(static_cast<int32_t>(u & 0xFFFFFFFFu));
}

NbtBytes &NbtBytes::raw(const Bytes &b) {
    bytes_.insert(bytes_.end(), b.begin(), b.end());
    return *this;
}

NbtBytes &NbtBytes::str(const std::string &s) {
    i16(static_cast<int16_t>(s.size()));
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    return *this;
}

NbtBytes &NbtBytes::head(uint8_t type, const std::string &name) {
    return u8(type).str(name);
}

NbtBytes &NbtBytes::byte_array(const std::string &name, const Bytes &content) {
    return head(7, name).i32(static_cast<int32_t>(content.size())).raw(content);
}

Bytes make_chunk_document(int32_t x, int32_t z, const Bytes &level_extra) {
    constexpr int kHeight = 128;
    Bytes blocks(32768, 0);
    Bytes height_map(256);
    for (int bx = 0; bx < 16; ++bx) {
        for (int bz = 0; bz < 16; ++bz) {
            // A gentle slope with a ripple, different in every chunk.
            const int surface = 60 + ((x * 16 + bx) * 3 + (z * 16 + bz) * 5) % 9;
            for (int y = 0; y <= surface; ++y) {
                uint8_t id = kStone;
                if (y == 0) {
                    id = 7; // bedrock
                } else if (y == surface) {
                    id = 2; // grass
                } else if (y > surface - 4) {
                    id = 3; // dirt
                } else if ((bx * 7 + bz * 11 + y * 13) % 97 == 0) {
                    id = 13; // gravel pocket
                }
                blocks[static_cast<size_t>(y + kHeight * bz + 2048 * bx)] = id;
            }
            height_map[static_cast<size_t>(bz * 16 + bx)] = static_cast<uint8_t>(surface + 1);
        }
    }
    Bytes data(16384, 0);
    Bytes sky_light(16384, 0xFF);
    Bytes block_light(16384, 0);

    NbtBytes doc;
    doc.head(10, "").head(10, "Level");
    doc.head(3, "xPos").i32(x);
    doc.head(3, "zPos").i32(z);
    doc.head(4, "LastUpdate").i64(1234567);
    doc.head(1, "TerrainPopulated").u8(1);
    doc.byte_array("Blocks", blocks);
    doc.byte_array("Data", data);
    doc.byte_array("SkyLight", sky_light);
    doc.byte_array("BlockLight", block_light);
    doc.byte_array("HeightMap", height_map);
    doc.head(9, "Entities").u8(10).i32(0);
    doc.head(9, "TileEntities").u8(10).i32(0);
    doc.raw(level_extra);
    doc.end().end();
    return doc.bytes();
}
