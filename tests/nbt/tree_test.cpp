// Single-tag operations of the tree: construction, typed access, value and
// name replacement, queries, lookup and freeing; the texts of the statuses.

#include "heap_usage.h"
#include "nbt/nbt.h"
#include "nbt/nbt_io.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#ifdef NBT_TEST_ASAN
// The out-of-memory test asks for an impossible block; the sanitizer must
// then answer null like the plain allocator instead of stopping.
extern "C" const char *__asan_default_options() {
    return "allocator_may_return_null=1";
}
#endif

namespace {

struct TagDeleter {
    void operator()(nbt_tag *t) const { nbt_free_tag(t); }
};
using TagPtr = std::unique_ptr<nbt_tag, TagDeleter>;

using Constructor = int (*)(nbt_tag **, const char *);

int new_int_list(nbt_tag **d, const char *name) {
    return nbt_new_list(d, name, TAG_INT);
}

struct ConstructorCase {
    nbt_type type;
    Constructor make;
};

const std::vector<ConstructorCase> kConstructors = {
    {TAG_BYTE, nbt_new_byte},
    {TAG_SHORT, nbt_new_short},
    {TAG_INT, nbt_new_int},
    {TAG_LONG, nbt_new_long},
    {TAG_FLOAT, nbt_new_float},
    {TAG_DOUBLE, nbt_new_double},
    {TAG_BYTE_ARRAY, nbt_new_byte_array},
    {TAG_STRING, nbt_new_string},
    {TAG_LIST, new_int_list},
    {TAG_COMPOUND, nbt_new_compound},
    {TAG_INT_ARRAY, nbt_new_int_array},
    {TAG_LONG_ARRAY, nbt_new_long_array},
};

TagPtr make(Constructor c, const char *name) {
    nbt_tag *t = nullptr;
    EXPECT_EQ(c(&t, name), 0);
    return TagPtr(t);
}

TagPtr make_int(const char *name, int32_t v) {
    TagPtr t = make(nbt_new_int, name);
    EXPECT_EQ(nbt_set_int(t.get(), v), 0);
    return t;
}

// Each cast paired with the only tag type it accepts.
struct CastCase {
    nbt_type type;
    void *(*cast)(nbt_tag *);
};

const std::vector<CastCase> kCasts = {
    {TAG_BYTE, [](nbt_tag *t) -> void * { return nbt_cast_byte(t); }},
    {TAG_SHORT, [](nbt_tag *t) -> void * { return nbt_cast_short(t); }},
    {TAG_INT, [](nbt_tag *t) -> void * { return nbt_cast_int(t); }},
    {TAG_LONG, [](nbt_tag *t) -> void * { return nbt_cast_long(t); }},
    {TAG_FLOAT, [](nbt_tag *t) -> void * { return nbt_cast_float(t); }},
    {TAG_DOUBLE, [](nbt_tag *t) -> void * { return nbt_cast_double(t); }},
    {TAG_BYTE_ARRAY, [](nbt_tag *t) -> void * { return nbt_cast_byte_array(t); }},
    {TAG_STRING, [](nbt_tag *t) -> void * { return nbt_cast_string(t); }},
    {TAG_LIST, [](nbt_tag *t) -> void * { return nbt_cast_list(t); }},
    {TAG_COMPOUND, [](nbt_tag *t) -> void * { return nbt_cast_compound(t); }},
    {TAG_INT_ARRAY, [](nbt_tag *t) -> void * { return nbt_cast_int_array(t); }},
    {TAG_LONG_ARRAY, [](nbt_tag *t) -> void * { return nbt_cast_long_array(t); }},
};

// Each setter paired with its tag type, called with some valid value.
struct SetterCase {
    nbt_type type;
    int (*set)(nbt_tag *);
};

const std::vector<SetterCase> kSetters = {
    {TAG_BYTE, [](nbt_tag *t) { return nbt_set_byte(t, 7); }},
    {TAG_SHORT, [](nbt_tag *t) { return nbt_set_short(t, 7); }},
    {TAG_INT, [](nbt_tag *t) { return nbt_set_int(t, 7); }},
    {TAG_LONG, [](nbt_tag *t) { return nbt_set_long(t, 7); }},
    {TAG_FLOAT, [](nbt_tag *t) { return nbt_set_float(t, 7.0f); }},
    {TAG_DOUBLE, [](nbt_tag *t) { return nbt_set_double(t, 7.0); }},
    {TAG_BYTE_ARRAY,
     [](nbt_tag *t) {
         const unsigned char b[] = {7};
         return nbt_set_byte_array(t, b, 1);
     }},
    {TAG_STRING, [](nbt_tag *t) { return nbt_set_string(t, "seven"); }},
    {TAG_LIST, [](nbt_tag *t) { return nbt_set_list(t, nullptr, 0, TAG_BYTE); }},
    {TAG_COMPOUND, [](nbt_tag *t) { return nbt_set_compound(t, nullptr, 0); }},
    {TAG_INT_ARRAY,
     [](nbt_tag *t) {
         const int32_t v[] = {7};
         return nbt_set_int_array(t, v, 1);
     }},
    {TAG_LONG_ARRAY,
     [](nbt_tag *t) {
         const int64_t v[] = {7};
         return nbt_set_long_array(t, v, 1);
     }},
};

TEST(TreeConstruct, EveryConstructorMakesANamedTagOfItsTypeWithAZeroValue) {
    for (const auto &c : kConstructors) {
        SCOPED_TRACE(nbt_type_to_string(c.type));
        std::string name = "n";
        TagPtr t = make(c.make, name.c_str());
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->type, c.type);
        ASSERT_NE(t->name, nullptr);
        EXPECT_STREQ(t->name, "n");
        EXPECT_NE(t->name, name.c_str()) << "the name must be a copy";
        ASSERT_NE(t->value, nullptr);
    }
    EXPECT_EQ(*nbt_cast_byte(make(nbt_new_byte, "b").get()), 0);
    EXPECT_EQ(*nbt_cast_short(make(nbt_new_short, "s").get()), 0);
    EXPECT_EQ(*nbt_cast_int(make(nbt_new_int, "i").get()), 0);
    EXPECT_EQ(*nbt_cast_long(make(nbt_new_long, "l").get()), 0);
    EXPECT_EQ(*nbt_cast_float(make(nbt_new_float, "f").get()), 0.0f);
    EXPECT_EQ(*nbt_cast_double(make(nbt_new_double, "d").get()), 0.0);
    EXPECT_STREQ(nbt_cast_string(make(nbt_new_string, "s").get()), "");
}

TEST(TreeConstruct, EmptyContainersHaveLengthZero) {
    for (Constructor c : {nbt_new_byte_array, new_int_list, nbt_new_compound, nbt_new_int_array,
                          nbt_new_long_array}) {
        TagPtr t = make(c, "c");
        EXPECT_EQ(nbt_get_length(t.get()), 0) << nbt_type_to_string(t->type);
    }
    TagPtr list = make(new_int_list, "l");
    EXPECT_EQ(nbt_get_list_type(list.get()), 3);
    EXPECT_EQ(nbt_cast_list(list.get())->type, TAG_INT);
}

TEST(TreeConstruct, NewTagHasNoValueAndAnEmptyNameIsKept) {
    nbt_tag *raw = nullptr;
    ASSERT_EQ(nbt_new_tag(&raw, TAG_LIST, ""), NBT_OK);
    TagPtr t(raw);
    EXPECT_EQ(t->type, TAG_LIST);
    EXPECT_EQ(t->value, nullptr);
    ASSERT_NE(t->name, nullptr);
    EXPECT_STREQ(t->name, "");
    // A container without a record has neither a length nor an element type.
    EXPECT_EQ(nbt_get_length(t.get()), -1);
    EXPECT_EQ(nbt_get_list_type(t.get()), -1);
    EXPECT_EQ(nbt_cast_list(t.get()), nullptr);
}

TEST(TreeAccess, EachCastAcceptsOnlyItsOwnType) {
    for (const auto &c : kConstructors) {
        TagPtr t = make(c.make, "t");
        for (const auto &cast : kCasts) {
            SCOPED_TRACE(std::string(nbt_type_to_string(c.type)) + " cast as " +
                         nbt_type_to_string(cast.type));
            void *expected = cast.type == c.type ? t->value : nullptr;
            EXPECT_EQ(cast.cast(t.get()), expected);
        }
    }
}

TEST(TreeAccess, EachSetterRefusesEveryOtherTypeAndLeavesTheValue) {
    for (const auto &c : kConstructors) {
        TagPtr t = make(c.make, "t");
        for (const auto &s : kSetters) {
            SCOPED_TRACE(std::string(nbt_type_to_string(s.type)) + " setter on " +
                         nbt_type_to_string(c.type));
            void *before = t->value;
            if (s.type == c.type) {
                EXPECT_EQ(s.set(t.get()), 0);
                EXPECT_NE(t->value, nullptr);
            } else {
                EXPECT_EQ(s.set(t.get()), 1);
                EXPECT_EQ(t->value, before);
            }
        }
    }
}

TEST(TreeAccess, SetIntOnALongKeepsTheLong) {
    TagPtr t = make(nbt_new_long, "l");
    ASSERT_EQ(nbt_set_long(t.get(), INT64_C(0x123456789A)), 0);
    EXPECT_EQ(nbt_set_int(t.get(), 5), 1);
    EXPECT_EQ(*nbt_cast_long(t.get()), INT64_C(0x123456789A));
}

TEST(TreeAccess, ScalarSettersStoreTheirValuesExactly) {
    TagPtr b = make(nbt_new_byte, "b");
    ASSERT_EQ(nbt_set_byte(b.get(), static_cast<char>(-128)), 0);
    EXPECT_EQ(*nbt_cast_byte(b.get()), static_cast<char>(-128));

    TagPtr s = make(nbt_new_short, "s");
    ASSERT_EQ(nbt_set_short(s.get(), INT16_MIN), 0);
    EXPECT_EQ(*nbt_cast_short(s.get()), INT16_MIN);

    TagPtr i = make(nbt_new_int, "i");
    ASSERT_EQ(nbt_set_int(i.get(), INT32_MIN), 0);
    EXPECT_EQ(*nbt_cast_int(i.get()), INT32_MIN);

    TagPtr l = make(nbt_new_long, "l");
    ASSERT_EQ(nbt_set_long(l.get(), INT64_MAX), 0);
    EXPECT_EQ(*nbt_cast_long(l.get()), INT64_MAX);

    TagPtr f = make(nbt_new_float, "f");
    ASSERT_EQ(nbt_set_float(f.get(), -1.5f), 0);
    EXPECT_EQ(*nbt_cast_float(f.get()), -1.5f);

    TagPtr d = make(nbt_new_double, "d");
    ASSERT_EQ(nbt_set_double(d.get(), 1e300), 0);
    EXPECT_EQ(*nbt_cast_double(d.get()), 1e300);
}

TEST(TreeAccess, StringSetterCopiesTheTextAndAcceptsItsOwnText) {
    TagPtr t = make(nbt_new_string, "s");
    std::string text = "abc";
    ASSERT_EQ(nbt_set_string(t.get(), text.c_str()), 0);
    text[0] = 'X';
    EXPECT_STREQ(nbt_cast_string(t.get()), "abc");

    // The argument is the very block being replaced.
    ASSERT_EQ(nbt_set_string(t.get(), nbt_cast_string(t.get())), 0);
    EXPECT_STREQ(nbt_cast_string(t.get()), "abc");

    ASSERT_EQ(nbt_set_string(t.get(), ""), 0);
    EXPECT_STREQ(nbt_cast_string(t.get()), "");
}

TEST(TreeAccess, ByteArraySetterCopiesTheBytes) {
    TagPtr t = make(nbt_new_byte_array, "a");
    std::vector<unsigned char> bytes = {0x00, 0xFF, 0x80};
    ASSERT_EQ(nbt_set_byte_array(t.get(), bytes.data(), 3), 0);
    bytes[1] = 0x11;
    nbt_byte_array *a = nbt_cast_byte_array(t.get());
    ASSERT_EQ(a->length, 3);
    EXPECT_NE(a->content, bytes.data());
    EXPECT_EQ(std::vector<unsigned char>(a->content, a->content + 3),
              (std::vector<unsigned char>{0x00, 0xFF, 0x80}));
    EXPECT_EQ(nbt_get_length(t.get()), 3);
}

TEST(TreeAccess, IntAndLongArraySettersCopyEveryNumber) {
    TagPtr i = make(nbt_new_int_array, "i");
    TagPtr l = make(nbt_new_long_array, "l");
    std::vector<int32_t> ints = {1, INT32_MIN, 3};
    std::vector<int64_t> longs = {INT64_MAX, -2};
    ASSERT_EQ(nbt_set_int_array(i.get(), ints.data(), 3), 0);
    ASSERT_EQ(nbt_set_long_array(l.get(), longs.data(), 2), 0);
    const nbt_int_array *ia = nbt_cast_int_array(i.get());
    const nbt_long_array *la = nbt_cast_long_array(l.get());
    EXPECT_EQ(std::vector<int32_t>(ia->content, ia->content + ia->length), ints);
    EXPECT_EQ(std::vector<int64_t>(la->content, la->content + la->length), longs);
    EXPECT_EQ(nbt_get_length(l.get()), 2);
    EXPECT_EQ(nbt_set_int_array(i.get(), ints.data(), -1), 1);
    EXPECT_EQ(nbt_cast_int_array(i.get()), ia);
}

TEST(TreeAccess, CompoundSetterTakesOverTheChildrenInOrder) {
    TagPtr c = make(nbt_new_compound, "c");
    nbt_tag *kids[3] = {make_int("a", 1).release(), make_int("b", 2).release(),
                        make_int("c", 3).release()};
    ASSERT_EQ(nbt_set_compound(c.get(), kids, 3), 0);
    nbt_compound *rec = nbt_cast_compound(c.get());
    ASSERT_EQ(rec->length, 3);
    EXPECT_NE(rec->tags, kids) << "the child array must be a copy";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rec->tags[i], kids[i]);
    }
    EXPECT_EQ(nbt_get_length(c.get()), 3);
}

TEST(TreeAccess, ListSetterFreesTheOldItemsAndKeepsTheNewOnes) {
    TagPtr list =
        make([](nbt_tag **d, const char *n) { return nbt_new_list(d, n, TAG_STRING); }, "l");
    const std::string big = big_text('o');
    void *old_items[2] = {strdup(big.c_str()), strdup(big.c_str())};
    ASSERT_EQ(nbt_set_list(list.get(), old_items, 2, TAG_STRING), 0);
    EXPECT_EQ(nbt_get_length(list.get()), 2);

    void *new_items[1] = {strdup("new")};
    size_t before = heap_bytes_in_use();
    ASSERT_EQ(nbt_set_list(list.get(), new_items, 1, TAG_STRING), 0);
    EXPECT_EQ(big_blocks_released_since(before), 2) << "both old items must have been freed";

    nbt_list *rec = nbt_cast_list(list.get());
    ASSERT_EQ(rec->length, 1);
    EXPECT_EQ(rec->type, TAG_STRING);
    EXPECT_EQ(rec->content[0], new_items[0]);
    EXPECT_STREQ(static_cast<char *>(rec->content[0]), "new");
}

TEST(TreeAccess, ContainerSettersRefuseANegativeLength) {
    TagPtr a = make(nbt_new_byte_array, "a");
    TagPtr l = make(new_int_list, "l");
    TagPtr c = make(nbt_new_compound, "c");
    void *before[3] = {a->value, l->value, c->value};
    EXPECT_EQ(nbt_set_byte_array(a.get(), nullptr, -1), 1);
    EXPECT_EQ(nbt_set_list(l.get(), nullptr, -1, TAG_INT), 1);
    EXPECT_EQ(nbt_set_compound(c.get(), nullptr, -1), 1);
    EXPECT_EQ(a->value, before[0]);
    EXPECT_EQ(l->value, before[1]);
    EXPECT_EQ(c->value, before[2]);
}

TEST(TreeAccess, GetLengthAndListTypeAreMinusOneForOtherTypes) {
    for (Constructor c : {nbt_new_byte, nbt_new_short, nbt_new_int, nbt_new_long, nbt_new_float,
                          nbt_new_double, nbt_new_string}) {
        TagPtr t = make(c, "t");
        EXPECT_EQ(nbt_get_length(t.get()), -1) << nbt_type_to_string(t->type);
        EXPECT_EQ(nbt_get_list_type(t.get()), -1) << nbt_type_to_string(t->type);
    }
    EXPECT_EQ(nbt_get_list_type(make(nbt_new_compound, "c").get()), -1);
}

TEST(TreeChange, ChangeValueInstallsACopyWithoutLookingAtTheType) {
    TagPtr t = make(nbt_new_int, "i");
    int64_t wide = 42;
    // The type is the setters' business; change_value only swaps blocks.
    ASSERT_EQ(nbt_change_value(t.get(), &wide, sizeof wide), 0);
    EXPECT_EQ(t->type, TAG_INT);
    EXPECT_NE(t->value, static_cast<void *>(&wide));
    int64_t stored;
    std::memcpy(&stored, t->value, sizeof stored);
    EXPECT_EQ(stored, 42);

    ASSERT_EQ(nbt_change_value(t.get(), nullptr, 0), 0) << "an empty value is still a block";
    EXPECT_NE(t->value, nullptr);
}

TEST(TreeChange, ChangeValueOutOfMemoryLeavesTheTag) {
    TagPtr t = make(nbt_new_int, "i");
    ASSERT_EQ(nbt_set_int(t.get(), 9), 0);
    void *before = t->value;
    int32_t dummy = 0;
    EXPECT_EQ(nbt_change_value(t.get(), &dummy, SIZE_MAX), 1);
    EXPECT_EQ(t->value, before);
    EXPECT_EQ(*nbt_cast_int(t.get()), 9);
}

TEST(TreeChange, ChangeNameCopiesAndReplaces) {
    TagPtr t = make(nbt_new_int, "first");
    std::string name = "second";
    ASSERT_EQ(nbt_change_name(t.get(), name.c_str()), 0);
    name[0] = 'X';
    EXPECT_STREQ(t->name, "second");
    ASSERT_EQ(nbt_change_name(t.get(), ""), 0);
    EXPECT_STREQ(t->name, "");
    // A tag that had no name (as an end tag has none) can be given one.
    std::free(t->name);
    t->name = nullptr;
    ASSERT_EQ(nbt_change_name(t.get(), "third"), 0);
    EXPECT_STREQ(t->name, "third");
}

// A compound "root" holding: Level { Blocks }, dup=1, dup=2, list, Case.
class TreeLookup : public ::testing::Test {
  protected:
    void SetUp() override {
        root = make(nbt_new_compound, "");
        TagPtr level = make(nbt_new_compound, "Level");
        nbt_tag *blocks = make(nbt_new_byte_array, "Blocks").release();
        ASSERT_EQ(nbt_set_compound(level.get(), &blocks, 1), 0);
        first_dup = make_int("dup", 1).release();
        nbt_tag *kids[] = {level.release(), first_dup, make_int("dup", 2).release(),
                           make(new_int_list, "list").release(), make_int("Case", 3).release()};
        ASSERT_EQ(nbt_set_compound(root.get(), kids, 5), 0);
    }
    TagPtr root;
    nbt_tag *first_dup = nullptr;
};

TEST_F(TreeLookup, FindsDirectChildrenByExactName) {
    nbt_tag *level = nbt_find_tag_by_name("Level", root.get());
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(level->type, TAG_COMPOUND);
    nbt_tag *blocks = nbt_find_tag_by_name("Blocks", level);
    ASSERT_NE(blocks, nullptr);
    EXPECT_EQ(blocks->type, TAG_BYTE_ARRAY);
    EXPECT_EQ(nbt_find_tag_by_name("dup", root.get()), first_dup);
}

TEST_F(TreeLookup, MissesWhatIsNotADirectChildWithThatWholeName) {
    const char *misses[] = {"Blocks", "level", "case", "Leve", "Levels", "", "missing"};
    for (const char *needle : misses) {
        EXPECT_EQ(nbt_find_tag_by_name(needle, root.get()), nullptr) << needle;
    }
}

TEST_F(TreeLookup, OnlyCompoundsAreSearched) {
    EXPECT_EQ(nbt_find_tag_by_name("x", nbt_find_tag_by_name("list", root.get())), nullptr);
    EXPECT_EQ(nbt_find_tag_by_name("x", nbt_find_tag_by_name("Case", root.get())), nullptr);
    TagPtr empty = make(nbt_new_compound, "e");
    EXPECT_EQ(nbt_find_tag_by_name("", empty.get()), nullptr);
}

TEST(TreeFree, FreeTypeResults) {
    int32_t local = 5;
    EXPECT_EQ(nbt_free_type(TAG_END, &local), 1) << "an end tag owns nothing to free";
    EXPECT_EQ(local, 5);
    // An unassigned type has no payload to release: the block stays the
    // caller's (a double free would stop the sanitizer build here).
    void *block = std::malloc(4);
    EXPECT_EQ(nbt_free_type(static_cast<nbt_type>(42), block), 0);
    std::free(block);
    for (int type = 0; type <= 12; ++type) {
        EXPECT_EQ(nbt_free_type(static_cast<nbt_type>(type), nullptr), 0) << type;
    }
}

TEST(TreeFree, EveryFreeFunctionAcceptsNull) {
    const struct {
        const char *name;
        int (*call)();
    } frees[] = {
        {"nbt_free", [] { return nbt_free(nullptr); }},
        {"nbt_free_tag", [] { return nbt_free_tag(nullptr); }},
        {"nbt_free_byte_array", [] { return nbt_free_byte_array(nullptr); }},
        {"nbt_free_int_array", [] { return nbt_free_int_array(nullptr); }},
        {"nbt_free_long_array", [] { return nbt_free_long_array(nullptr); }},
        {"nbt_free_list", [] { return nbt_free_list(nullptr); }},
        {"nbt_free_compound", [] { return nbt_free_compound(nullptr); }},
        {"nbt_codec_free", [] { return nbt_codec_free(nullptr), 0; }},
        {"nbt_buffer_free", [] { return nbt_buffer_free(nullptr), 0; }},
    };
    for (const auto &f : frees) {
        EXPECT_EQ(f.call(), 0) << f.name;
    }
}

TEST(Status, EveryStatusHasItsOwnFixedText) {
    const struct {
        int status;
        const char *text;
    } cases[] = {
        {NBT_OK, "success"},
        {NBT_ERR, "malformed data or a failed write"},
        {NBT_EMEM, "out of memory"},
        {NBT_EGZ, "cannot open"},
        {NBT_ELIMIT, "over the reader's limits"},
        {1, "unknown status"},
        {-5, "unknown status"},
        {INT_MIN, "unknown status"},
    };
    for (const auto &c : cases) {
        EXPECT_STREQ(nbt_status_name(c.status), c.text) << c.status;
    }
}

TEST(TreeFree, FreeingADocumentReleasesTheWholeTree) {
    auto *doc = static_cast<nbt_file *>(std::malloc(sizeof(nbt_file)));
    ASSERT_NE(doc, nullptr);
    doc->fp = nullptr;
    doc->root = nullptr;
    EXPECT_EQ(nbt_free(doc), 0) << "a document without root";

    // root { inner { text }, list of two big strings, byte array }
    const std::string big = big_text('t');
    TagPtr text = make(nbt_new_string, "text");
    ASSERT_EQ(nbt_set_string(text.get(), big.c_str()), 0);
    TagPtr inner = make(nbt_new_compound, "inner");
    nbt_tag *inner_kids[] = {text.release()};
    ASSERT_EQ(nbt_set_compound(inner.get(), inner_kids, 1), 0);
    TagPtr list =
        make([](nbt_tag **d, const char *n) { return nbt_new_list(d, n, TAG_STRING); }, "list");
    void *items[] = {strdup(big.c_str()), strdup(big.c_str())};
    ASSERT_EQ(nbt_set_list(list.get(), items, 2, TAG_STRING), 0);
    TagPtr bytes = make(nbt_new_byte_array, "bytes");
    std::vector<unsigned char> content(kBigBlock, 0xAB);
    ASSERT_EQ(nbt_set_byte_array(bytes.get(), content.data(), static_cast<int>(content.size())), 0);
    TagPtr root = make(nbt_new_compound, "");
    nbt_tag *kids[] = {inner.release(), list.release(), bytes.release()};
    ASSERT_EQ(nbt_set_compound(root.get(), kids, 3), 0);

    doc = static_cast<nbt_file *>(std::malloc(sizeof(nbt_file)));
    ASSERT_NE(doc, nullptr);
    doc->fp = nullptr;
    doc->root = root.release();
    size_t before = heap_bytes_in_use();
    EXPECT_EQ(nbt_free(doc), 0);
    EXPECT_EQ(big_blocks_released_since(before), 4);
}

TEST(TreeFree, ListsWithoutItemsOrWithPayloadlessItemsAreFreed) {
    // As the reader leaves them: a negative count, and a positive count of
    // end-typed items whose slots are null.
    for (int32_t count : {-5, 0, 3}) {
        auto *l = static_cast<nbt_list *>(std::malloc(sizeof(nbt_list)));
        ASSERT_NE(l, nullptr);
        l->length = count;
        l->type = TAG_END;
        l->content = static_cast<void **>(std::calloc(3, sizeof(void *)));
        EXPECT_EQ(nbt_free_list(l), 0);
    }
}

} // namespace
