// The whole-buffer codec: both compressors read each other's output in
// both formats, several gzip members decode, limits and exact ends hold,
// and every damaged stream is refused.
#include "compress.h"
#include "nbt/nbt.hpp"
#include "support/files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

using nbt_detail::ByteBuffer;
using nbt_detail::wrapper;
using gzip_library = nbt_detail::deflate_library;

namespace {

// One codec for the whole program, reused as a run over many files does.
nbt_codec &codec() {
    static nbt::codec c = [] {
        nbt_codec *p = nullptr;
        EXPECT_EQ(nbt_codec_new(&p), NBT_OK);
        return nbt::codec(p);
    }();
    return *c;
}

int gzip_encode(const unsigned char *in, size_t n, ByteBuffer &out, gzip_library lib,
                wrapper w = wrapper::gzip) {
    return nbt_detail::encode(codec(), w, in, n, out, lib);
}

int gzip_decode(const unsigned char *in, size_t n, ByteBuffer &out, gzip_library lib,
                wrapper w = wrapper::gzip, nbt_detail::decode_rules rules = {}) {
    return nbt_detail::decode(codec(), w, in, n, out, rules, lib);
}

const gzip_library zlib = gzip_library::zlib;
const gzip_library deflate = gzip_library::libdeflate;

Bytes real_chunk() {
    return gunzip_file(std::string(LODECAST_TEST_DATA) + "/chunks/c.-j.6.dat");
}

Bytes noise(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    Bytes b(n);
    for (auto &c : b) {
        c = static_cast<uint8_t>(gen());
    }
    return b;
}

Bytes encode(const Bytes &in, gzip_library lib, wrapper w = wrapper::gzip) {
    ByteBuffer out;
    EXPECT_EQ(gzip_encode(in.data(), in.size(), out, lib, w), NBT_OK);
    return Bytes(out.data(), out.data() + out.size());
}

// The decoded bytes, or the status when decoding fails.
struct Decoded {
    int status;
    Bytes bytes;
};

Decoded decode(const Bytes &in, gzip_library lib, wrapper w = wrapper::gzip,
               nbt_detail::decode_rules rules = {}) {
    ByteBuffer out;
    int r = gzip_decode(in.data(), in.size(), out, lib, w, rules);
    return {r, r == NBT_OK ? Bytes(out.data(), out.data() + out.size()) : Bytes{}};
}

std::vector<gzip_library> libraries() {
    std::vector<gzip_library> libs{zlib};
    if (nbt_detail::libdeflate_available()) {
        libs.push_back(deflate);
    }
    return libs;
}

Bytes concat(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(GzipCodec, EveryWriterIsReadByEveryReaderWithTheSameBytes) {
    const std::vector<Bytes> inputs = {
        {}, {0x0a}, real_chunk(), noise(300000, 1), Bytes(1 << 20, 0x01)};
    // The first bytes of each format: gzip signature and deflate method; a
    // zlib header for deflate with a 32 KiB window.
    const std::pair<wrapper, Bytes> formats[] = {{wrapper::gzip, {0x1f, 0x8b, 0x08}},
                                                 {wrapper::zlib, {0x78}}};
    for (const auto &[w, head] : formats) {
        for (gzip_library writer : libraries()) {
            for (gzip_library reader : libraries()) {
                for (const Bytes &in : inputs) {
                    Bytes z = encode(in, writer, w);
                    ASSERT_GE(z.size(), 6u);
                    EXPECT_EQ(Bytes(z.begin(), z.begin() + head.size()), head);
                    Decoded d = decode(z, reader, w);
                    ASSERT_EQ(d.status, NBT_OK) << in.size();
                    EXPECT_EQ(d.bytes, in) << "size " << in.size();
                }
            }
        }
    }
}

TEST(GzipCodec, ZlibStreamsDecodeWithZlibItself) {
    Bytes in = real_chunk();
    for (gzip_library lib : libraries()) {
        Bytes z = encode(in, lib, wrapper::zlib);
        Bytes out(in.size() + 1);
        uLongf len = out.size();
        ASSERT_EQ(uncompress(out.data(), &len, z.data(), z.size()), Z_OK);
        out.resize(len);
        EXPECT_EQ(out, in);
    }
}

TEST(GzipCodec, OutputLimitAndExactEnd) {
    const Bytes in = noise(70000, 9);
    const Bytes tail = {'x'};
    struct Case {
        wrapper w;
        Bytes data;
        size_t max_out;
        bool exact;
        int status;
    };
    for (gzip_library lib : libraries()) {
        const Bytes gz = encode(in, lib);
        const Bytes z = encode(in, lib, wrapper::zlib);
        const Case cases[] = {
            {wrapper::gzip, gz, in.size(), true, NBT_OK},
            {wrapper::gzip, gz, in.size() - 1, false, NBT_ELIMIT},
            {wrapper::zlib, z, in.size(), true, NBT_OK},
            {wrapper::zlib, z, in.size() - 1, false, NBT_ELIMIT},
            {wrapper::gzip, concat(gz, tail), SIZE_MAX, false, NBT_OK},
            {wrapper::gzip, concat(gz, tail), SIZE_MAX, true, NBT_ELIMIT},
            {wrapper::zlib, concat(z, tail), SIZE_MAX, false, NBT_OK},
            {wrapper::zlib, concat(z, tail), SIZE_MAX, true, NBT_ELIMIT},
            {wrapper::zlib, concat(z, z), SIZE_MAX, true, NBT_ELIMIT},
        };
        int i = 0;
        for (const Case &c : cases) {
            ByteBuffer out;
            EXPECT_EQ(
                gzip_decode(c.data.data(), c.data.size(), out, lib, c.w, {c.max_out, c.exact}),
                c.status)
                << "case " << i++;
            // Never a byte of room past the limit.
            EXPECT_LE(out.capacity(), c.max_out);
        }
    }
}

TEST(GzipCodec, OutputDecodesWithAPlainGzipReader) {
    TempDir dir;
    Bytes in = real_chunk();
    for (gzip_library lib : libraries()) {
        std::string path = dir.file("c.0.0.dat");
        write_file(path, encode(in, lib));
        EXPECT_EQ(gunzip_file(path), in);
    }
}

TEST(GzipCodec, LibdeflateCompressesAboutAsWellAsZlib) {
    if (!nbt_detail::libdeflate_available()) {
        GTEST_SKIP() << "built without libdeflate";
    }
    Bytes in = real_chunk();
    double z = static_cast<double>(encode(in, zlib).size());
    double d = static_cast<double>(encode(in, deflate).size());
    EXPECT_LT(d, z * 1.05);
}

TEST(GzipCodec, ConcatenatedMembersDecodeToTheirConcatenation) {
    Bytes a = real_chunk();
    Bytes b = noise(5000, 2);
    Bytes empty;
    for (gzip_library reader : libraries()) {
        for (gzip_library writer : libraries()) {
            Bytes gz = concat(concat(encode(a, writer), encode(empty, zlib)), encode(b, writer));
            Decoded d = decode(gz, reader);
            ASSERT_EQ(d.status, NBT_OK);
            EXPECT_EQ(d.bytes, concat(a, b));
        }
    }
}

TEST(GzipCodec, DecodingAppendsToWhatTheBufferHolds) {
    Bytes in = noise(1000, 3);
    for (gzip_library lib : libraries()) {
        ByteBuffer out;
        ASSERT_TRUE(out.append("ab", 2));
        Bytes gz = encode(in, lib);
        ASSERT_EQ(gzip_decode(gz.data(), gz.size(), out, lib), NBT_OK);
        ASSERT_EQ(out.size(), 1002u);
        EXPECT_EQ(Bytes(out.data() + 2, out.data() + out.size()), in);
        EXPECT_EQ(out.data()[0], 'a');
    }
}

TEST(GzipCodec, BytesAfterTheLastMemberAreIgnoredUnlessTheyStartAnother) {
    Bytes in = real_chunk();
    for (gzip_library lib : libraries()) {
        Bytes gz = encode(in, lib);
        for (const Bytes &tail : std::vector<Bytes>{{0x00}, {0x1f}, {'x', 'y', 'z'}}) {
            Decoded d = decode(concat(gz, tail), lib);
            ASSERT_EQ(d.status, NBT_OK);
            EXPECT_EQ(d.bytes, in);
        }
        // A second signature promises another member; garbage after it is
        // a corrupt member.
        EXPECT_EQ(decode(concat(gz, {0x1f, 0x8b, 0x00, 0x00}), lib).status, NBT_ERR);
    }
}

TEST(GzipCodec, EveryCutShortStreamIsRefused) {
    Bytes in = real_chunk();
    for (gzip_library writer : libraries()) {
        Bytes gz = encode(in, writer);
        for (gzip_library reader : libraries()) {
            // Prefixes of one byte are plain data (a lone 1f is no
            // signature); every longer one is a cut-short member.
            for (size_t len = 2; len < gz.size(); ++len) {
                Bytes cut(gz.begin(), gz.begin() + static_cast<std::ptrdiff_t>(len));
                ASSERT_EQ(decode(cut, reader).status, NBT_ERR) << "length " << len;
            }
            // A cut-short second member too.
            Bytes two = concat(gz, gz);
            two.resize(two.size() - 3);
            EXPECT_EQ(decode(two, reader).status, NBT_ERR);
        }
    }
}

TEST(GzipCodec, DamagedChecksumLengthOrHeaderIsRefused) {
    Bytes in = real_chunk();
    struct Damage {
        const char *what;
        size_t from_end; // 0: position counted from the start instead
        size_t at;
    };
    const Damage damages[] = {
        {"crc", 8, 0},    {"length", 4, 0},        {"length top byte", 1, 0},
        {"method", 0, 2}, {"reserved flag", 0, 3}, {"deflate data", 0, 40},
    };
    for (gzip_library writer : libraries()) {
        Bytes gz = encode(in, writer);
        for (gzip_library reader : libraries()) {
            for (const Damage &d : damages) {
                Bytes bad = gz;
                size_t pos = d.from_end != 0 ? bad.size() - d.from_end : d.at;
                bad[pos] ^= d.at == 3 ? 0x80 : 0x01;
                EXPECT_EQ(decode(bad, reader).status, NBT_ERR) << d.what;
            }
        }
    }
}

// A member whose header carries the optional fields and a header checksum.
Bytes with_header_fields(const Bytes &member, bool good_checksum) {
    Bytes out(member.begin(), member.begin() + 10);
    out[3] |= 0x02 | 0x04 | 0x08 | 0x10; // FHCRC, FEXTRA, FNAME, FCOMMENT
    for (uint8_t b : Bytes{3, 0, 'a', 'b', 'c', 'n', 'a', 'm', 'e', 0, 'n', 'o', 't', 'e', 0}) {
        out.push_back(b);
    }
    uLong crc = crc32(0, out.data(), static_cast<uInt>(out.size()));
    if (!good_checksum) {
        crc ^= 1;
    }
    out.push_back(static_cast<uint8_t>(crc & 0xff));
    out.push_back(static_cast<uint8_t>((crc >> 8) & 0xff));
    out.insert(out.end(), member.begin() + 10, member.end());
    return out;
}

TEST(GzipCodec, OptionalHeaderFieldsAndTheirChecksum) {
    Bytes in = real_chunk();
    for (gzip_library lib : libraries()) {
        Bytes member = encode(in, lib);
        Decoded good = decode(with_header_fields(member, true), lib);
        ASSERT_EQ(good.status, NBT_OK);
        EXPECT_EQ(good.bytes, in);
        for (gzip_library reader : libraries()) {
            EXPECT_EQ(decode(with_header_fields(member, false), reader).status, NBT_ERR);
        }
    }
}

TEST(GzipCodec, WholeFileReadTakesEveryByte) {
    TempDir dir;
    for (size_t n : {size_t{0}, size_t{1}, size_t{4095}, size_t{4096}, size_t{200001}}) {
        Bytes in = noise(n, static_cast<uint32_t>(n));
        std::string path = dir.file("f");
        write_file(path, in);
        ByteBuffer out;
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(nbt_detail::read_all(fd, out), NBT_OK);
        close(fd);
        EXPECT_EQ(Bytes(out.data(), out.data() + out.size()), in);
    }
}

} // namespace
