// Reading well-formed documents: the exact tree each construct gives, plain
// and gzip-compressed files alike, real chunk files, and the stream-level
// steps on a stream the caller opened.

#include "nbt_file_helpers.h"
#include "support/chunk_bytes.h"
#include "support/files.h"
#include "support/nbt_tree_equal.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>
#include <zlib.h>

namespace {

const std::string kChunkDir = std::string(LODECAST_TEST_DATA) + "/chunks/";
const char *const kChunks[] = {"c.-o.4.dat", "c.-l.5.dat", "c.-j.6.dat"};

// The host representation of the low n bytes' worth of an n-byte integer.
Bytes host_bytes(uint64_t v, size_t n) {
    Bytes b(n);
    if (n == 1) {
        b[0] = static_cast<uint8_t>(v);
    } else if (n == 2) {
        auto x = static_cast<uint16_t>(v);
        std::memcpy(b.data(), &x, 2);
    } else if (n == 4) {
        auto x = static_cast<uint32_t>(v);
        std::memcpy(b.data(), &x, 4);
    } else {
        std::memcpy(b.data(), &v, 8);
    }
    return b;
}

nbt_tag *child(nbt_tag *compound, int i) {
    return nbt_cast_compound(compound)->tags[i];
}

TEST(Read, ExampleDocumentGivesTheDocumentedTree) {
    TempDir dir;
    for (bool gzip : {true, false}) {
        SCOPED_TRACE(gzip ? "gzip" : "plain");
        Parsed p = parse_bytes(dir.file("example.nbt"), kExample, gzip);
        ASSERT_EQ(p.status, NBT_OK);
        nbt_tag *root = p.root();
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(root->type, TAG_COMPOUND);
        ASSERT_NE(root->name, nullptr);
        EXPECT_STREQ(root->name, "");
        nbt_compound *c = nbt_cast_compound(root);
        ASSERT_NE(c, nullptr);
        ASSERT_EQ(c->length, 2);

        nbt_tag *s = c->tags[0];
        EXPECT_EQ(s->type, TAG_SHORT);
        EXPECT_STREQ(s->name, "s");
        EXPECT_EQ(*nbt_cast_short(s), 258);

        nbt_tag *l = c->tags[1];
        EXPECT_EQ(l->type, TAG_LIST);
        EXPECT_STREQ(l->name, "l");
        nbt_list *list = nbt_cast_list(l);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->length, 1);
        EXPECT_EQ(list->type, TAG_INT);
        EXPECT_EQ(*static_cast<int32_t *>(list->content[0]), 7);
    }
}

TEST(Read, NumbersArriveInHostOrderBitForBit) {
    struct Case {
        const char *what;
        uint8_t type;
        Bytes payload;  // big-endian, as in the file
        uint64_t value; // the expected number (or float/double bits)
    };
    const Case cases[] = {
        {"byte -128", TAG_BYTE, {0x80}, 0x80},
        {"short -2", TAG_SHORT, {0xFF, 0xFE}, 0xFFFE},
        {"int 258", TAG_INT, {0x00, 0x00, 0x01, 0x02}, 258},
        {"long 2^32", TAG_LONG, {0, 0, 0, 1, 0, 0, 0, 0}, 4294967296ull},
        {"long -1", TAG_LONG, Bytes(8, 0xFF), ~0ull},
        {"float signalling NaN", TAG_FLOAT, {0x7F, 0x80, 0x00, 0x01}, 0x7F800001},
        {"float 3F80807F", TAG_FLOAT, {0x3F, 0x80, 0x80, 0x7F}, 0x3F80807F},
        {"double signalling NaN",
         TAG_DOUBLE,
         {0x7F, 0xF0, 0, 0, 0, 0, 0, 0x01},
         0x7FF0000000000001ull},
        {"double with a NaN byte-reversed",
         TAG_DOUBLE,
         {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x7F},
         0x010000000000F07Full},
    };
    TempDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes doc = NbtBytes().head(c.type, "v").raw(c.payload).bytes();
        Parsed p = parse_bytes(dir.file("n.nbt"), doc, true);
        ASSERT_EQ(p.status, NBT_OK);
        ASSERT_EQ(p.root()->type, c.type);
        EXPECT_STREQ(p.root()->name, "v");
        Bytes want = host_bytes(c.value, c.payload.size());
        ASSERT_NE(p.root()->value, nullptr);
        EXPECT_EQ(0, std::memcmp(p.root()->value, want.data(), want.size()));
    }
}

TEST(Read, StringsAndNamesAreTerminatedBlocks) {
    TempDir dir;
    std::string longest(32767, 'x');
    longest[100] = 'y';
    Bytes doc = NbtBytes().head(TAG_STRING, "").str(longest).bytes();
    Parsed p = parse_bytes(dir.file("s.nbt"), doc, true);
    ASSERT_EQ(p.status, NBT_OK);
    ASSERT_NE(p.root()->name, nullptr);
    EXPECT_STREQ(p.root()->name, "");
    const char *s = nbt_cast_string(p.root());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::string(s), longest);
}

TEST(Read, EmptyCompoundHasNoChildren) {
    TempDir dir;
    Parsed p = parse_bytes(dir.file("c.nbt"), {0x0A, 0x00, 0x00, 0x00}, true);
    ASSERT_EQ(p.status, NBT_OK);
    nbt_compound *c = nbt_cast_compound(p.root());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->length, 0);
    EXPECT_NE(c->tags, nullptr);
}

TEST(Read, ListForms) {
    TempDir dir;
    // An empty list of end tags, a list with a negative count, a list of
    // two compounds and a list of lists of strings, in one root.
    Bytes doc = NbtBytes()
                    .head(TAG_COMPOUND, "")
                    .head(TAG_LIST, "none")
                    .u8(TAG_END)
                    .i32(0)
                    .head(TAG_LIST, "neg")
                    .u8(TAG_INT)
                    .i32(-5)
                    .head(TAG_LIST, "cs")
                    .u8(TAG_COMPOUND)
                    .i32(2)
                    .head(TAG_BYTE, "a")
                    .u8(1)
                    .end()
                    .end()
                    .head(TAG_LIST, "ls")
                    .u8(TAG_LIST)
                    .i32(2)
                    .u8(TAG_STRING)
                    .i32(1)
                    .str("hi")
                    .u8(TAG_STRING)
                    .i32(0)
                    .end()
                    .bytes();
    Parsed p = parse_bytes(dir.file("l.nbt"), doc, true);
    ASSERT_EQ(p.status, NBT_OK);
    nbt_tag *root = p.root();
    ASSERT_EQ(nbt_get_length(root), 4);

    nbt_list *none = nbt_cast_list(child(root, 0));
    EXPECT_EQ(none->length, 0);
    EXPECT_EQ(none->type, TAG_END);
    EXPECT_NE(none->content, nullptr);

    nbt_list *neg = nbt_cast_list(child(root, 1));
    EXPECT_EQ(neg->length, -5);
    EXPECT_EQ(neg->type, TAG_INT);

    nbt_list *cs = nbt_cast_list(child(root, 2));
    ASSERT_EQ(cs->length, 2);
    EXPECT_EQ(cs->type, TAG_COMPOUND);
    auto *first = static_cast<nbt_compound *>(cs->content[0]);
    ASSERT_EQ(first->length, 1);
    EXPECT_STREQ(first->tags[0]->name, "a");
    EXPECT_EQ(static_cast<nbt_compound *>(cs->content[1])->length, 0);

    nbt_list *ls = nbt_cast_list(child(root, 3));
    ASSERT_EQ(ls->length, 2);
    auto *inner = static_cast<nbt_list *>(ls->content[0]);
    ASSERT_EQ(inner->length, 1);
    EXPECT_EQ(inner->type, TAG_STRING);
    EXPECT_STREQ(static_cast<char *>(inner->content[0]), "hi");
    EXPECT_EQ(static_cast<nbt_list *>(ls->content[1])->length, 0);
}

TEST(Read, IntAndLongArraysArriveInHostOrder) {
    // An int array, a long array, and a list of two int arrays (one empty).
    NbtBytes doc;
    doc.head(TAG_COMPOUND, "").head(TAG_INT_ARRAY, "i").i32(3);
    doc.raw({0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFE, 1, 2, 3, 4});
    doc.head(TAG_LONG_ARRAY, "l").i32(2).raw({1, 2, 3, 4, 5, 6, 7, 8}).i64(-1);
    doc.head(TAG_LIST, "li").u8(TAG_INT_ARRAY).i32(2).i32(1).i32(7).i32(0).end();
    TempDir dir;
    Parsed p = parse_bytes(dir.file("a.nbt"), doc.bytes(), true);
    ASSERT_EQ(p.status, NBT_OK);
    nbt_int_array *ints = nbt_cast_int_array(child(p.root(), 0));
    ASSERT_NE(ints, nullptr);
    EXPECT_EQ(std::vector<int32_t>(ints->content, ints->content + ints->length),
              (std::vector<int32_t>{1, -2, 0x01020304}));
    nbt_long_array *longs = nbt_cast_long_array(child(p.root(), 1));
    ASSERT_NE(longs, nullptr);
    EXPECT_EQ(std::vector<int64_t>(longs->content, longs->content + longs->length),
              (std::vector<int64_t>{0x0102030405060708, -1}));
    nbt_list *li = nbt_cast_list(child(p.root(), 2));
    ASSERT_EQ(li->length, 2);
    EXPECT_EQ(li->type, TAG_INT_ARRAY);
    const auto *first = static_cast<nbt_int_array *>(li->content[0]);
    ASSERT_EQ(first->length, 1);
    EXPECT_EQ(first->content[0], 7);
    EXPECT_EQ(static_cast<nbt_int_array *>(li->content[1])->length, 0);
}

TEST(Read, UnassignedTypesKeepTheirNameAndNoValue) {
    TempDir dir;
    Bytes doc = NbtBytes()
                    .head(TAG_COMPOUND, "")
                    .head(13, "thirteen")
                    .head(255, "max")
                    .head(TAG_BYTE, "b")
                    .u8(5)
                    .end()
                    .bytes();
    Parsed p = parse_bytes(dir.file("u.nbt"), doc, true);
    ASSERT_EQ(p.status, NBT_OK);
    ASSERT_EQ(nbt_get_length(p.root()), 3);
    EXPECT_EQ(child(p.root(), 0)->type, 13);
    EXPECT_STREQ(child(p.root(), 0)->name, "thirteen");
    EXPECT_EQ(child(p.root(), 0)->value, nullptr);
    EXPECT_EQ(child(p.root(), 1)->type, 255);
    EXPECT_EQ(child(p.root(), 1)->value, nullptr);
    EXPECT_EQ(*nbt_cast_byte(child(p.root(), 2)), 5);
}

TEST(Read, RootOfAnyType) {
    TempDir dir;
    Parsed p = parse_bytes(dir.file("i.nbt"), NbtBytes().head(TAG_INT, "n").i32(-7).bytes(), true);
    ASSERT_EQ(p.status, NBT_OK);
    EXPECT_EQ(*nbt_cast_int(p.root()), -7);

    Parsed q = parse_bytes(dir.file("x.nbt"), NbtBytes().head(200, "odd").bytes(), true);
    ASSERT_EQ(q.status, NBT_OK);
    EXPECT_EQ(q.root()->type, 200);
    EXPECT_STREQ(q.root()->name, "odd");
    EXPECT_EQ(q.root()->value, nullptr);
}

TEST(Read, EmptyDataGivesAnEndRoot) {
    TempDir dir;
    for (bool gzip : {false, true}) {
        SCOPED_TRACE(gzip ? "gzip of nothing" : "empty file");
        Parsed p = parse_bytes(dir.file("e.nbt"), {}, gzip);
        ASSERT_EQ(p.status, NBT_OK);
        ASSERT_NE(p.root(), nullptr);
        EXPECT_EQ(p.root()->type, TAG_END);
        EXPECT_EQ(p.root()->name, nullptr);
        EXPECT_EQ(p.root()->value, nullptr);
    }
}

TEST(Read, WhatCannotBeOpenedLeavesTheSystemsReasonInErrno) {
    TempDir dir;
    const struct {
        std::string path;
        int err;
    } cases[] = {{dir.file("absent/c.0.0.dat"), ENOENT}, {dir.path().string(), EISDIR}};
    for (const auto &c : cases) {
        errno = 0;
        Parsed p = parse_path(c.path);
        EXPECT_EQ(errno, c.err) << c.path;
        EXPECT_EQ(p.status, NBT_EGZ) << c.path;
        EXPECT_EQ(p.root(), nullptr);
    }
}

TEST(Read, HarmlessEndings) {
    struct Case {
        const char *what;
        Bytes data;
        int children; // of the root
    };
    const Case cases[] = {
        {"bytes after the root are ignored",
         [] {
             Bytes b = kExample;
             b.insert(b.end(), {0xFF, 0x07, 0x00});
             return b;
         }(),
         2},
    };
    TempDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Parsed p = parse_bytes(dir.file("h.nbt"), c.data, true);
        ASSERT_EQ(p.status, NBT_OK);
        EXPECT_EQ(nbt_get_length(p.root()), c.children);
    }
}

TEST(Read, FifoIsRefusedWithoutWaitingForAWriter) {
    TempDir dir;
    const std::string path = dir.file("fifo");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(parse_path(path).status, NBT_ERR);
}

// kExample in format c, made by the library's encoder.
Bytes encoded_example(nbt_compression c) {
    nbt_file *f = nullptr;
    EXPECT_EQ(nbt_init(&f), NBT_OK);
    nbt::document doc(f);
    EXPECT_EQ(
        nbt_parse_memory(f, kExample.data(), kExample.size(), NBT_UNCOMPRESSED, nullptr, nullptr),
        NBT_OK);
    nbt::buffer out;
    EXPECT_EQ(nbt_encode(f, c, out.get(), nullptr), static_cast<int>(kExample.size()));
    return Bytes(out.data(), out.data() + out.size());
}

TEST(Read, FromMemoryWithinLimitsAndFaithfully) {
    const Bytes gz = encoded_example(NBT_GZIP);
    const Bytes z = encoded_example(NBT_ZLIB);
    ASSERT_EQ(encoded_example(NBT_UNCOMPRESSED), kExample);
    // Root, "s", "l" and its item: four.
    const size_t n = kExample.size();
    auto plus = [](Bytes b, const Bytes &tail) {
        b.insert(b.end(), tail.begin(), tail.end());
        return b;
    };
    const Bytes ints = NbtBytes().head(TAG_INT_ARRAY, "a").i32(3).raw(Bytes(12, 0)).bytes();
    const Bytes zero_in_name = NbtBytes().head(TAG_BYTE, std::string("a\0b", 3)).u8(1).bytes();
    const Bytes zero_in_string =
        NbtBytes().head(TAG_STRING, "s").str(std::string("x\0", 2)).bytes();
    struct Case {
        const char *what;
        Bytes data;
        nbt_compression c;
        nbt_read_limits limits;
        int status;
    } cases[] = {
        {"gzip at the size limit", gz, NBT_GZIP, {n, 0, 1}, NBT_OK},
        {"gzip over the size limit", gz, NBT_GZIP, {n - 1, 0, 0}, NBT_ELIMIT},
        {"zlib at the size limit", z, NBT_ZLIB, {n, 0, 1}, NBT_OK},
        {"zlib over the size limit", z, NBT_ZLIB, {n - 1, 0, 0}, NBT_ELIMIT},
        {"plain over the size limit", kExample, NBT_UNCOMPRESSED, {n - 1, 0, 0}, NBT_ELIMIT},
        {"plain bytes read as gzip", kExample, NBT_GZIP, {n, 4, 1}, NBT_OK},
        {"at the tag limit", kExample, NBT_UNCOMPRESSED, {0, 4, 0}, NBT_OK},
        {"over the tag limit", z, NBT_ZLIB, {0, 3, 0}, NBT_ELIMIT},
        {"an int array is one tag", ints, NBT_UNCOMPRESSED, {0, 1, 0}, NBT_OK},
        {"zero byte in a name", zero_in_name, NBT_UNCOMPRESSED, {0, 0, 0}, NBT_OK},
        {"zero byte in a name, faithful", zero_in_name, NBT_UNCOMPRESSED, {0, 0, 1}, NBT_ELIMIT},
        {"zero byte in a string", zero_in_string, NBT_UNCOMPRESSED, {0, 0, 0}, NBT_OK},
        {"zero byte in a string, faithful",
         zero_in_string,
         NBT_UNCOMPRESSED,
         {0, 0, 1},
         NBT_ELIMIT},
        {"bytes after the root", plus(kExample, {0}), NBT_UNCOMPRESSED, {0, 0, 0}, NBT_OK},
        {"bytes after the root, faithful",
         plus(kExample, {0}),
         NBT_UNCOMPRESSED,
         {0, 0, 1},
         NBT_ELIMIT},
        {"bytes after the gzip member", plus(gz, {'x'}), NBT_GZIP, {0, 0, 0}, NBT_OK},
        {"bytes after the gzip member, faithful", plus(gz, {'x'}), NBT_GZIP, {0, 0, 1}, NBT_ELIMIT},
        {"bytes after the zlib stream", plus(z, {0}), NBT_ZLIB, {0, 0, 0}, NBT_OK},
        {"bytes after the zlib stream, faithful", plus(z, {0}), NBT_ZLIB, {0, 0, 1}, NBT_ELIMIT},
        {"gzip read as zlib", gz, NBT_ZLIB, {0, 0, 0}, NBT_ERR},
    };
    nbt::codec codec = [] {
        nbt_codec *c = nullptr;
        EXPECT_EQ(nbt_codec_new(&c), NBT_OK);
        return nbt::codec(c);
    }();
    for (const Case &c : cases) {
        for (nbt_codec *with : {codec.get(), static_cast<nbt_codec *>(nullptr)}) {
            nbt_file *f = nullptr;
            ASSERT_EQ(nbt_init(&f), NBT_OK);
            nbt::document doc(f);
            EXPECT_EQ(nbt_parse_memory(f, c.data.data(), c.data.size(), c.c, &c.limits, with),
                      c.status)
                << c.what;
            EXPECT_EQ(f->root != nullptr, c.status == NBT_OK) << c.what;
        }
        // Decompressed first, then parsed as plain bytes: the same outcome.
        const unsigned char *plain = nullptr;
        size_t m = 0;
        nbt::document doc = nbt::make_document();
        int r = nbt_decompress_memory(c.data.data(), c.data.size(), c.c, &c.limits, codec.get(),
                                      &plain, &m);
        r = r != NBT_OK
                ? r
                : nbt_parse_memory(doc.get(), plain, m, NBT_UNCOMPRESSED, &c.limits, nullptr);
        EXPECT_EQ(r, c.status) << c.what;
    }
}

TEST(Read, RealChunksHoldTheirBlockArrays) {
    const Bytes blocks_head = NbtBytes().head(TAG_BYTE_ARRAY, "Blocks").i32(32768).bytes();
    for (const char *name : kChunks) {
        SCOPED_TRACE(name);
        Parsed p = parse_path(kChunkDir + name);
        ASSERT_EQ(p.status, NBT_OK);
        nbt_tag *level = nbt_find_tag_by_name("Level", p.root());
        ASSERT_NE(level, nullptr);
        nbt_byte_array *blocks = nbt_cast_byte_array(nbt_find_tag_by_name("Blocks", level));
        nbt_byte_array *data = nbt_cast_byte_array(nbt_find_tag_by_name("Data", level));
        ASSERT_NE(blocks, nullptr);
        ASSERT_NE(data, nullptr);
        ASSERT_EQ(blocks->length, 32768);
        EXPECT_EQ(data->length, 16384);
        // The block ids are the 32768 bytes after the array's head in the
        // decompressed file.
        Bytes raw = gunzip_file(kChunkDir + name);
        auto at = std::search(raw.begin(), raw.end(), blocks_head.begin(), blocks_head.end());
        ASSERT_NE(at, raw.end());
        ASSERT_GE(raw.end() - at, static_cast<long>(blocks_head.size() + 32768));
        EXPECT_EQ(0, std::memcmp(blocks->content, &*(at + blocks_head.size()), 32768));
    }
}

TEST(Read, PlainFileGivesTheSameTreeAsGzip) {
    TempDir dir;
    for (const char *name : kChunks) {
        SCOPED_TRACE(name);
        Parsed gz = parse_path(kChunkDir + name);
        Parsed plain = parse_bytes(dir.file("plain.dat"), gunzip_file(kChunkDir + name), false);
        ASSERT_EQ(gz.status, NBT_OK);
        ASSERT_EQ(plain.status, NBT_OK);
        EXPECT_EQ(nbt_tree_difference(gz.root(), plain.root()), "");
    }
}

TEST(Read, BlocksOfFreedTreesServeLaterTreesWhole) {
    // A thread's later trees are made of the blocks its freed trees leave,
    // by size: strings of every length to past 4 KiB, read again in the
    // other order (each length meets the blocks of others), and on a new
    // thread, must each come back whole.
    std::vector<std::string> texts;
    for (size_t n = 0; n <= 4200; n += 7) {
        texts.push_back(std::string(n, static_cast<char>('a' + n % 26)));
    }
    const auto read_back = [&](bool reversed) {
        const auto text = [&](size_t k) { return texts[reversed ? texts.size() - 1 - k : k]; };
        NbtBytes b;
        b.head(TAG_COMPOUND, "").head(TAG_LIST, "texts").u8(TAG_STRING);
        b.i32(static_cast<int32_t>(texts.size()));
        for (size_t k = 0; k < texts.size(); ++k) {
            b.str(text(k));
        }
        const Bytes bytes = b.end().bytes();
        nbt_file *f = nullptr;
        ASSERT_EQ(nbt_init(&f), NBT_OK);
        nbt::document doc(f);
        ASSERT_EQ(
            nbt_parse_memory(f, bytes.data(), bytes.size(), NBT_UNCOMPRESSED, nullptr, nullptr),
            NBT_OK);
        const nbt_list *l = nbt_cast_list(nbt_find_tag_by_name("texts", f->root));
        ASSERT_NE(l, nullptr);
        ASSERT_EQ(static_cast<size_t>(l->length), texts.size());
        for (size_t k = 0; k < texts.size(); ++k) {
            EXPECT_EQ(static_cast<const char *>(l->content[k]), text(k)) << reversed << " " << k;
            EXPECT_GT(malloc_usable_size(l->content[k]), text(k).size()) << reversed << " " << k;
        }
    };
    read_back(false);
    read_back(true);
    std::thread([&] { read_back(true); }).join();
}

// ---- Stream-level steps on a stream the caller opened ----

struct GzCloser {
    void operator()(gzFile_s *f) const { gzclose(f); }
};

// A document handle reading from a stream over bytes (gzip-compressed).
class StreamDoc {
  public:
    StreamDoc(const TempDir &dir, const Bytes &bytes) {
        write_gzip_file(dir.file("stream.nbt"), bytes);
        fp_.reset(gzopen(dir.file("stream.nbt").c_str(), "rb"));
        doc_.fp = fp_.get();
        doc_.root = nullptr;
    }
    nbt_file *get() { return &doc_; }

  private:
    std::unique_ptr<gzFile_s, GzCloser> fp_;
    nbt_file doc_{};
};

TEST(ReadStream, StepsReadTheirConstructs) {
    TempDir dir;
    StreamDoc s(dir, NbtBytes()
                         .i16(-300)   // a short
                         .str("name") // a string
                         .i32(3)
                         .raw({1, 2, 3}) // a byte array
                         .u8(TAG_INT)
                         .i32(-4) // a list, negative count
                         .head(TAG_BYTE, "b")
                         .u8(9)
                         .end() // a compound's children
                         .head(TAG_INT, "t")
                         .i32(12) // a named tag
                         .u8(TAG_DOUBLE)
                         .u8(0x7F)
                         .u8(0xF0)
                         .i16(0)
                         .i32(1) // a type, a double
                         .i32(2)
                         .i32(-1)
                         .i32(256) // an int array
                         .i32(1)
                         .i64(INT64_MIN) // a long array
                         .bytes());
    int16_t *sh = nullptr;
    ASSERT_EQ(nbt_read_short(s.get(), &sh), 0);
    EXPECT_EQ(*sh, -300);
    std::free(sh);

    char *str = nullptr;
    ASSERT_EQ(nbt_read_string(s.get(), &str), 4);
    EXPECT_STREQ(str, "name");
    std::free(str);

    unsigned char *ba = nullptr;
    ASSERT_EQ(nbt_read_byte_array(s.get(), &ba), 3);
    EXPECT_EQ(ba[2], 3);
    std::free(ba);

    char type = 0;
    void **items = nullptr;
    EXPECT_EQ(nbt_read_list(s.get(), &type, &items), -4);
    EXPECT_EQ(type, TAG_INT);
    ASSERT_NE(items, nullptr);
    std::free(items);

    nbt_tag **children = nullptr;
    ASSERT_EQ(nbt_read_compound(s.get(), &children), 1);
    EXPECT_STREQ(children[0]->name, "b");
    nbt_free_tag(children[0]);
    std::free(children);

    auto *t = static_cast<nbt_tag *>(std::malloc(sizeof(nbt_tag)));
    ASSERT_EQ(nbt_read_tag(s.get(), &t), TAG_INT);
    EXPECT_STREQ(t->name, "t");
    EXPECT_EQ(*nbt_cast_int(t), 12);
    nbt_free_tag(t);

    // A type number and then, through nbt_read, the payload of that type.
    char *tb = nullptr;
    ASSERT_EQ(nbt_read_byte(s.get(), &tb), 0);
    EXPECT_EQ(*tb, TAG_DOUBLE);
    void *v = nullptr;
    ASSERT_EQ(nbt_read(s.get(), static_cast<nbt_type>(*tb), &v), TAG_DOUBLE);
    uint64_t bits;
    std::memcpy(&bits, v, 8);
    EXPECT_EQ(bits, 0x7FF0000000000001ull);
    std::free(tb);
    std::free(v);

    // A payload-less type reads nothing and leaves the slot alone.
    void *untouched = &bits;
    EXPECT_EQ(nbt_read(s.get(), TAG_END, &untouched), TAG_END);
    EXPECT_EQ(untouched, &bits);

    int32_t *ints = nullptr;
    ASSERT_EQ(nbt_read_int_array(s.get(), &ints), 2);
    EXPECT_EQ(ints[0], -1);
    EXPECT_EQ(ints[1], 256);
    std::free(ints);
    int64_t *longs = nullptr;
    ASSERT_EQ(nbt_read_long_array(s.get(), &longs), 1);
    EXPECT_EQ(longs[0], INT64_MIN);
    std::free(longs);
}

TEST(ReadStream, DeclaredSizesBeyondTheDataFail) {
    TempDir dir;
    {
        // A byte array claiming 2 GiB holds three bytes.
        StreamDoc s(dir, NbtBytes().i32(INT32_MAX).raw({1, 2, 3}).bytes());
        unsigned char *ba = reinterpret_cast<unsigned char *>(&dir);
        EXPECT_EQ(nbt_read_byte_array(s.get(), &ba), NBT_ERR);
        EXPECT_EQ(ba, nullptr);
    }
    {
        // A list claiming 2^31 - 1 longs holds one.
        StreamDoc s(dir, NbtBytes().u8(TAG_LONG).i32(INT32_MAX).i64(1).bytes());
        char type = 0;
        void **items = reinterpret_cast<void **>(&dir);
        EXPECT_EQ(nbt_read_list(s.get(), &type, &items), NBT_ERR);
        EXPECT_EQ(items, nullptr);
    }
    {
        // A compound cut short inside its second child.
        StreamDoc s(dir, NbtBytes().head(TAG_BYTE, "a").u8(1).head(TAG_INT, "b").i16(0).bytes());
        nbt_tag **children = reinterpret_cast<nbt_tag **>(&dir);
        EXPECT_EQ(nbt_read_compound(s.get(), &children), NBT_ERR);
        EXPECT_EQ(children, nullptr);
    }
    {
        // 2^29 + 1 longs: 2^32 + 8 bytes, 8 in 32-bit arithmetic.
        StreamDoc s(dir, NbtBytes().i32(0x20000001).i64(1).bytes());
        int64_t *longs = reinterpret_cast<int64_t *>(&dir);
        EXPECT_EQ(nbt_read_long_array(s.get(), &longs), NBT_ERR);
        EXPECT_EQ(longs, nullptr);
    }
    {
        StreamDoc s(dir, NbtBytes().i16(-1).bytes());
        char *str = reinterpret_cast<char *>(&dir);
        EXPECT_EQ(nbt_read_string(s.get(), &str), NBT_ERR);
        EXPECT_EQ(str, nullptr);
    }
}

TEST(ReadStream, LargeContentArrivesWhole) {
    // Bigger than one bounded step, so the block grows while reading.
    TempDir dir;
    Bytes content(3 * 1024 * 1024 + 17);
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<uint8_t>(i * 31 + i / 4096);
    }
    StreamDoc s(dir, NbtBytes().i32(static_cast<int32_t>(content.size())).raw(content).bytes());
    unsigned char *ba = nullptr;
    ASSERT_EQ(nbt_read_byte_array(s.get(), &ba), static_cast<int>(content.size()));
    EXPECT_EQ(0, std::memcmp(ba, content.data(), content.size()));
    std::free(ba);
}

} // namespace
