// The two agreements between writer and reader: a tree written and read
// back is the same tree, and a file read and written back has the same
// decompressed bytes.

#include "nbt_file_helpers.h"
#include "support/chunk_bytes.h"
#include "support/files.h"
#include "support/nbt_tree_equal.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

const std::string kChunkDir = std::string(LODECAST_TEST_DATA) + "/chunks/";

// A fresh payload cell holding the given bytes (any bit pattern).
template <class T> T *cell(const void *bits) {
    T *p = static_cast<T *>(std::malloc(sizeof(T)));
    std::memcpy(p, bits, sizeof(T));
    return p;
}

nbt_tag *tag_with(nbt_type type, const char *name, void *value) {
    nbt_tag *t = nullptr;
    EXPECT_EQ(nbt_new_tag(&t, type, name), NBT_OK);
    t->value = value;
    return t;
}

nbt_list *list_of(nbt_type type, std::initializer_list<void *> items) {
    auto *l = static_cast<nbt_list *>(std::malloc(sizeof(nbt_list)));
    l->type = type;
    l->length = static_cast<int32_t>(items.size());
    l->content = static_cast<void **>(std::malloc((items.size() + 1) * sizeof(void *)));
    size_t i = 0;
    for (void *item : items) {
        l->content[i++] = item;
    }
    return l;
}

nbt_compound *compound_of(std::initializer_list<nbt_tag *> tags) {
    auto *c = static_cast<nbt_compound *>(std::malloc(sizeof(nbt_compound)));
    c->length = static_cast<int32_t>(tags.size());
    c->tags = static_cast<nbt_tag **>(std::malloc((tags.size() + 1) * sizeof(nbt_tag *)));
    size_t i = 0;
    for (nbt_tag *t : tags) {
        c->tags[i++] = t;
    }
    return c;
}

// A byte, int or long array record holding values.
template <class Record, class T> Record *array_of(std::initializer_list<T> values) {
    auto *a = static_cast<Record *>(std::malloc(sizeof(Record)));
    a->length = static_cast<int32_t>(values.size());
    a->content = static_cast<T *>(std::malloc((values.size() + 1) * sizeof(T)));
    std::copy(values.begin(), values.end(), a->content);
    return a;
}

char *text(const char *s) {
    char *p = static_cast<char *>(std::malloc(std::strlen(s) + 1));
    std::strcpy(p, s);
    return p;
}

// Every type 1 to 12, lists of lists and of compounds, a negative count,
// an unassigned type, and float and double bit patterns that a careless
// conversion would change (signalling NaNs, and values whose byte
// reversal is one).
nbt_tag *every_type_document() {
    const char b = -7;
    const int16_t s = -300;
    const int32_t i = 0x01020304;
    const int64_t l = -0x0102030405060708;
    const uint32_t f_snan = 0x7F800001, f_rev = 0x3F80807F;
    const uint64_t d_snan = 0x7FF0000000000001, d_rev = 0x010000000000F07F;

    auto *bytes = static_cast<nbt_byte_array *>(std::malloc(sizeof(nbt_byte_array)));
    bytes->length = 5;
    bytes->content = static_cast<unsigned char *>(std::malloc(5));
    std::memcpy(bytes->content, "\x00\x01\xFE\xFF\x80", 5);

    nbt_list *lists =
        list_of(TAG_LIST, {list_of(TAG_INT, {cell<int32_t>(&i)}),
                           list_of(TAG_STRING, {text("a"), text("")}), list_of(TAG_END, {})});
    nbt_list *compounds = list_of(
        TAG_COMPOUND, {compound_of({tag_with(TAG_BYTE, "in", cell<char>(&b))}), compound_of({})});
    nbt_list *negative = list_of(TAG_DOUBLE, {});
    negative->length = -9;

    nbt_tag *inner = tag_with(TAG_COMPOUND, "inner",
                              compound_of({tag_with(TAG_FLOAT, "f_rev", cell<float>(&f_rev)),
                                           tag_with(TAG_DOUBLE, "d_rev", cell<double>(&d_rev)),
                                           tag_with(static_cast<nbt_type>(99), "odd", nullptr)}));
    nbt_tag *ints = tag_with(TAG_INT_ARRAY, "ints", array_of<nbt_int_array>({i, -1, 0}));
    nbt_tag *longs = tag_with(TAG_LIST, "longs",
                              list_of(TAG_LONG_ARRAY, {array_of<nbt_long_array>({l, INT64_MIN}),
                                                       array_of<nbt_long_array, int64_t>({})}));
    return tag_with(TAG_COMPOUND, "root",
                    compound_of({
                        tag_with(TAG_BYTE, "byte", cell<char>(&b)),
                        tag_with(TAG_SHORT, "short", cell<int16_t>(&s)),
                        tag_with(TAG_INT, "int", cell<int32_t>(&i)),
                        tag_with(TAG_LONG, "long", cell<int64_t>(&l)),
                        tag_with(TAG_FLOAT, "f_snan", cell<float>(&f_snan)),
                        tag_with(TAG_DOUBLE, "d_snan", cell<double>(&d_snan)),
                        tag_with(TAG_BYTE_ARRAY, "bytes", bytes),
                        tag_with(TAG_STRING, "", text("text")),
                        tag_with(TAG_LIST, "lists", lists),
                        tag_with(TAG_LIST, "compounds", compounds),
                        tag_with(TAG_LIST, "negative", negative),
                        inner,
                        ints,
                        longs,
                    }));
}

TEST(RoundTrip, TreeWrittenAndReadBackIsTheSameTree) {
    NbtFilePtr doc = document_with(every_type_document());
    TempDir dir;
    int n = nbt_write(doc.get(), dir.file("all.nbt").c_str());
    ASSERT_GT(n, 0);
    Parsed back = parse_path(dir.file("all.nbt"));
    ASSERT_EQ(back.status, NBT_OK);
    EXPECT_EQ(nbt_tree_difference(doc->root, back.root()), "");
    EXPECT_EQ(static_cast<size_t>(n), gunzip_file(dir.file("all.nbt")).size());

    // The comparison itself must notice a one-bit change.
    nbt_tag *f = nbt_cast_compound(back.root())->tags[4];
    static_cast<unsigned char *>(f->value)[0] ^= 1;
    EXPECT_NE(nbt_tree_difference(doc->root, back.root()), "");
}

TEST(RoundTrip, FileReadAndWrittenBackHasTheSameBytes) {
    NbtFilePtr doc = document_with(every_type_document());
    TempDir dir;
    ASSERT_GT(nbt_write(doc.get(), dir.file("first.nbt").c_str()), 0);
    const Bytes first = gunzip_file(dir.file("first.nbt"));
    Parsed p = parse_path(dir.file("first.nbt"));
    ASSERT_EQ(p.status, NBT_OK);
    ASSERT_EQ(nbt_write(p.doc.get(), dir.file("second.nbt").c_str()),
              static_cast<int>(first.size()));
    EXPECT_EQ(gunzip_file(dir.file("second.nbt")), first);
}

TEST(RoundTrip, RealChunksKeepTheirBytesAndTree) {
    TempDir dir;
    for (const char *name : {"c.-o.4.dat", "c.-l.5.dat", "c.-j.6.dat"}) {
        SCOPED_TRACE(name);
        const Bytes original = gunzip_file(kChunkDir + name);
        Parsed p = parse_path(kChunkDir + name);
        ASSERT_EQ(p.status, NBT_OK);
        const std::string out = dir.file(name);
        ASSERT_EQ(nbt_write(p.doc.get(), out.c_str()), static_cast<int>(original.size()));
        EXPECT_EQ(gunzip_file(out), original);
        Parsed again = parse_path(out);
        ASSERT_EQ(again.status, NBT_OK);
        EXPECT_EQ(nbt_tree_difference(p.root(), again.root()), "");
    }
}

TEST(RoundTrip, RealLevelFileWithIntArraysKeepsItsBytes) {
    const std::string path = std::string(LODECAST_TEST_DATA) + "/worlds/anvil/level.dat";
    Parsed p = parse_path(path);
    ASSERT_EQ(p.status, NBT_OK);
    nbt_tag *biomes = nbt_find_tag_by_name(
        "minecraft:biomes",
        nbt_find_tag_by_name("Registries", nbt_find_tag_by_name("FML", p.root())));
    EXPECT_NE(nbt_cast_int_array(nbt_find_tag_by_name("blocked", biomes)), nullptr);
    const Bytes original = gunzip_file(path);
    nbt::buffer out;
    ASSERT_EQ(nbt_encode(p.doc.get(), NBT_UNCOMPRESSED, out.get(), nullptr),
              static_cast<int>(original.size()));
    EXPECT_EQ(Bytes(out.data(), out.data() + out.size()), original);
}

TEST(RoundTrip, PlainInputComesBackCompressed) {
    TempDir dir;
    const Bytes doc = NbtBytes()
                          .head(TAG_COMPOUND, "")
                          .head(TAG_LIST, "l")
                          .u8(TAG_SHORT)
                          .i32(2)
                          .i16(1)
                          .i16(-1)
                          .end()
                          .bytes();
    write_file(dir.file("plain.nbt"), doc);
    Parsed p = parse_path(dir.file("plain.nbt"));
    ASSERT_EQ(p.status, NBT_OK);
    ASSERT_EQ(nbt_write(p.doc.get(), dir.file("plain.nbt").c_str()), static_cast<int>(doc.size()));
    const Bytes stored = read_file(dir.file("plain.nbt"));
    ASSERT_GE(stored.size(), 2u);
    EXPECT_EQ(stored[0], 0x1F); // gzip signature
    EXPECT_EQ(stored[1], 0x8B);
    EXPECT_EQ(gunzip_file(dir.file("plain.nbt")), doc);
}

} // namespace
