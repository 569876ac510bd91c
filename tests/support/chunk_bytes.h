// Building NBT documents byte by byte, so that tests can spell out both
// well-formed chunks and chunks with exactly one fault in them.
#ifndef TESTS_SUPPORT_CHUNK_BYTES_H
#define TESTS_SUPPORT_CHUNK_BYTES_H

#include "support/files.h"

#include <cstdint>
#include <string>

// Appends big-endian fields; every call returns *this so a document reads
// as one chain of fields.
class NbtBytes {
  public:
    NbtBytes &u8(uint8_t v);
    NbtBytes &i16(int16_t v);
    NbtBytes &i32(int32_t v);
    NbtBytes &i64(int64_t v);
    NbtBytes &raw(const Bytes &b);
    // A 2-byte length and the bytes of s.
    NbtBytes &str(const std::string &s);
    // A type byte and a name: the head of a named tag.
    NbtBytes &head(uint8_t type, const std::string &name);
    // A named byte array holding content.
    NbtBytes &byte_array(const std::string &name, const Bytes &content);
    NbtBytes &end() { return u8(0); }
    const Bytes &bytes() const { return bytes_; }

  private:
    Bytes bytes_;
};

// Stone (1) id and the ore the fault tests ask for (coal).
constexpr uint8_t kStone = 1;
constexpr uint8_t kCoal = 16;

// A realistic chunk document (decompressed): root compound > "Level" with
// xPos, zPos, LastUpdate, TerrainPopulated, Blocks (bedrock, a stone body,
// dirt and grass on a surface that varies with x/z, air above), Data,
// SkyLight, BlockLight, HeightMap, Entities and TileEntities. level_extra
// is appended inside "Level" just before its end byte.
Bytes make_chunk_document(int32_t x, int32_t z, const Bytes &level_extra = {});

#endif
