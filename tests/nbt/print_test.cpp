// The tree printer's exact text on standard output.

#include "nbt/nbt.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

struct TagDeleter {
    void operator()(nbt_tag *t) const { nbt_free_tag(t); }
};
using TagPtr = std::unique_ptr<nbt_tag, TagDeleter>;

std::string printed(const std::function<void()> &print) {
    testing::internal::CaptureStdout();
    print();
    return testing::internal::GetCapturedStdout();
}

template <typename T> T *heap_copy(T v) {
    auto *p = static_cast<T *>(std::malloc(sizeof(T)));
    *p = v;
    return p;
}

TagPtr make(int (*ctor)(nbt_tag **, const char *), const char *name) {
    nbt_tag *t = nullptr;
    EXPECT_EQ(ctor(&t, name), 0);
    return TagPtr(t);
}

nbt_tag *add(nbt_tag *parent, TagPtr child) {
    nbt_tag *c = child.release();
    EXPECT_EQ(nbt_add_tag(c, parent), c);
    return c;
}

TEST(Print, ADocumentWithNestedCompoundListAndByteArray) {
    TagPtr root = make(nbt_new_compound, "");
    nbt_tag *level = add(root.get(), make(nbt_new_compound, "Level"));

    TagPtr one = make(nbt_new_byte, "one");
    ASSERT_EQ(nbt_set_byte(one.get(), 5), 0);
    add(level, std::move(one));

    TagPtr data = make(nbt_new_byte_array, "Data");
    const unsigned char bytes[] = {0x01, 0xAB, 0x00};
    ASSERT_EQ(nbt_set_byte_array(data.get(), bytes, 3), 0);
    add(level, std::move(data));

    nbt_tag *raw = nullptr;
    ASSERT_EQ(nbt_new_list(&raw, "two", TAG_INT), 0);
    nbt_tag *two = add(level, TagPtr(raw));
    nbt_add_list_item(heap_copy<int32_t>(7), two);
    nbt_add_list_item(heap_copy<int32_t>(-1), two);

    TagPtr three = make(nbt_new_string, "three");
    ASSERT_EQ(nbt_set_string(three.get(), "xyz"), 0);
    add(root.get(), std::move(three));

    const std::string expected = "TAG_COMPOUND(\"\"): (2 entries) { \n"
                                 "   TAG_COMPOUND(\"Level\"): (3 entries) { \n"
                                 "      TAG_BYTE(\"one\"): 0x05 (5)\n"
                                 "      TAG_BYTE_ARRAY(\"Data\"): (3 entries) [01, AB, 00 ]\n"
                                 "      TAG_LIST(\"two\"): (2 entries) { \n"
                                 "         TAG_INT: 7\n"
                                 "         TAG_INT: -1\n"
                                 "      }\n"
                                 "\n"
                                 "   }\n"
                                 "\n"
                                 "   TAG_STRING(\"three\"): \"xyz\"\n"
                                 "}\n"
                                 "\n";
    EXPECT_EQ(printed([&] { nbt_print_tag(root.get(), 0); }), expected);
}

TEST(Print, TypeNames) {
    const std::vector<std::pair<int, const char *>> names = {
        {0, "TAG_END"},           {1, "TAG_BYTE"},     {2, "TAG_SHORT"},     {3, "TAG_INT"},
        {4, "TAG_LONG"},          {5, "TAG_FLOAT"},    {6, "TAG_DOUBLE"},    {7, "TAG_BYTE_ARRAY"},
        {8, "TAG_STRING"},        {9, "TAG_LIST"},     {10, "TAG_COMPOUND"}, {11, "TAG_INT_ARRAY"},
        {12, "TAG_LONG_ARRAY"},   {13, "TAG_Unknown"}, {-1, "TAG_Unknown"},  {200, "TAG_Unknown"},
        {256 + 3, "TAG_Unknown"},
    };
    for (const auto &[value, name] : names) {
        EXPECT_STREQ(nbt_type_to_string(static_cast<nbt_type>(value)), name) << value;
    }
}

// One payload printed by nbt_print_value at level 0.
struct ValueCase {
    const char *what;
    int type;
    std::function<void *()> payload; // heap block or null
    std::string expected;
};

TEST(Print, ScalarValuesAndUnknownTypes) {
    const std::vector<ValueCase> cases = {
        {"byte 5", TAG_BYTE, [] { return heap_copy<char>(5); }, "0x05 (5)\n"},
        {"byte -1", TAG_BYTE, [] { return heap_copy<char>(-1); }, "0xFFFFFFFF (-1)\n"},
        {"byte -128", TAG_BYTE, [] { return heap_copy<char>(-128); }, "0xFFFFFF80 (-128)\n"},
        {"byte 127", TAG_BYTE, [] { return heap_copy<char>(127); }, "0x7F (127)\n"},
        {"short min", TAG_SHORT, [] { return heap_copy<int16_t>(INT16_MIN); }, "-32768\n"},
        {"int min", TAG_INT, [] { return heap_copy<int32_t>(INT32_MIN); }, "-2147483648\n"},
        {"int max", TAG_INT, [] { return heap_copy<int32_t>(INT32_MAX); }, "2147483647\n"},
        {"long min", TAG_LONG, [] { return heap_copy<int64_t>(INT64_MIN); },
         "-9223372036854775808\n"},
        {"float 1.5", TAG_FLOAT, [] { return heap_copy<float>(1.5f); }, "1.500000\n"},
        {"float -0.1", TAG_FLOAT, [] { return heap_copy<float>(-0.1f); }, "-0.100000\n"},
        {"double 1e20", TAG_DOUBLE, [] { return heap_copy<double>(1e20); },
         "100000000000000000000.000000\n"},
        {"string with a quote", TAG_STRING, [] { return static_cast<void *>(strdup("a\"b")); },
         "\"a\"b\"\n"},
        {"empty string", TAG_STRING, [] { return static_cast<void *>(strdup("")); }, "\"\"\n"},
        {"end", TAG_END, [] { return nullptr; }, "<not implemented: 0x00>\n"},
        {"type 13", 13, [] { return nullptr; }, "<not implemented: 0x0D>\n"},
        {"type 127", 127, [] { return nullptr; }, "<not implemented: 0x7F>\n"},
        {"type 200", 200, [] { return nullptr; }, "<not implemented: 0xFFFFFFC8>\n"},
        // Only the low byte of the type counts.
        {"type 259", 256 + 3, [] { return heap_copy<int32_t>(12); }, "12\n"},
        {"null int", TAG_INT, [] { return nullptr; }, "<null>\n"},
        {"null compound", TAG_COMPOUND, [] { return nullptr; }, "<null>\n"},
    };
    for (const auto &c : cases) {
        void *payload = c.payload();
        EXPECT_EQ(printed([&] { nbt_print_value(static_cast<nbt_type>(c.type), payload, 0); }),
                  c.expected)
            << c.what;
        std::free(payload);
    }
}

TEST(Print, ByteArrays) {
    const unsigned char bytes[] = {0xFF, 0x00, 0x7A};
    EXPECT_EQ(printed([&] { nbt_print_byte_array(nullptr, 0); }), "(0 entries) []");
    EXPECT_EQ(printed([&] { nbt_print_byte_array(const_cast<unsigned char *>(bytes), 1); }),
              "(1 entries) [FF ]");
    EXPECT_EQ(printed([&] { nbt_print_byte_array(const_cast<unsigned char *>(bytes), 3); }),
              "(3 entries) [FF, 00, 7A ]");

    TagPtr empty = make(nbt_new_byte_array, "e");
    EXPECT_EQ(printed([&] { nbt_print_tag(empty.get(), 1); }),
              "   TAG_BYTE_ARRAY(\"e\"): (0 entries) []\n");
}

TEST(Print, IntAndLongArraysLikeByteArrays) {
    nbt_tag *raw = nullptr;
    ASSERT_EQ(nbt_new_int_array(&raw, "HeightMap"), 0);
    TagPtr ints(raw);
    const int32_t values[] = {64, -1, INT32_MIN};
    ASSERT_EQ(nbt_set_int_array(ints.get(), values, 3), 0);
    EXPECT_EQ(printed([&] { nbt_print_tag(ints.get(), 1); }),
              "   TAG_INT_ARRAY(\"HeightMap\"): (3 entries) [64, -1, -2147483648 ]\n");
    ASSERT_EQ(nbt_new_long_array(&raw, "l"), 0);
    TagPtr longs(raw);
    EXPECT_EQ(printed([&] { nbt_print_tag(longs.get(), 0); }),
              "TAG_LONG_ARRAY(\"l\"): (0 entries) []\n");
    const int64_t big[] = {INT64_MIN};
    ASSERT_EQ(nbt_set_long_array(longs.get(), big, 1), 0);
    EXPECT_EQ(printed([&] { nbt_print_tag(longs.get(), 0); }),
              "TAG_LONG_ARRAY(\"l\"): (1 entries) [-9223372036854775808 ]\n");
}

TEST(Print, ArraysCutAfterTheirFirstElements) {
    nbt_tag *raw = nullptr;
    ASSERT_EQ(nbt_new_int_array(&raw, "h"), 0);
    TagPtr ints(raw);
    const int32_t values[] = {64, -1, INT32_MIN};
    ASSERT_EQ(nbt_set_int_array(ints.get(), values, 3), 0);
    for (const auto &[most, text] : {std::pair{-1, "[64, -1, -2147483648 ]"},
                                     {3, "[64, -1, -2147483648 ]"},
                                     {2, "[64, -1, ... (1 more) ]"},
                                     {0, "[... (3 more) ]"}}) {
        EXPECT_EQ(printed([&] { nbt_print_tag_short(ints.get(), 0, most); }),
                  std::string("TAG_INT_ARRAY(\"h\"): (3 entries) ") + text + "\n");
    }
}

TEST(Print, Indentation) {
    EXPECT_EQ(printed([] { nbt_print_indent(0); }), "");
    EXPECT_EQ(printed([] { nbt_print_indent(-3); }), "");
    EXPECT_EQ(printed([] { nbt_print_indent(2); }), "      ");
}

TEST(Print, EndTagPrintsNothingAtAll) {
    nbt_tag end = {TAG_END, nullptr, nullptr};
    EXPECT_EQ(printed([&] { nbt_print_tag(&end, 3); }), "");
}

TEST(Print, EmptyCompoundClosesAtItsOwnLevel) {
    TagPtr c = make(nbt_new_compound, "c");
    EXPECT_EQ(printed([&] { nbt_print_tag(c.get(), 1); }),
              "   TAG_COMPOUND(\"c\"): (0 entries) { \n   }\n\n");
}

TEST(Print, NegativeLevelIndentsChildrenAtLevelZero) {
    TagPtr c = make(nbt_new_compound, "c");
    TagPtr inner = make(nbt_new_short, "s");
    ASSERT_EQ(nbt_set_short(inner.get(), -2), 0);
    add(c.get(), std::move(inner));
    EXPECT_EQ(printed([&] { nbt_print_tag(c.get(), -1); }),
              "TAG_COMPOUND(\"c\"): (1 entries) { \nTAG_SHORT(\"s\"): -2\n}\n\n");
}

TEST(Print, ListsOfContainersAndOfPayloadlessItems) {
    // A list of compounds holds bare records: items show no name.
    nbt_tag *raw = nullptr;
    ASSERT_EQ(nbt_new_list(&raw, "l", TAG_COMPOUND), 0);
    TagPtr list(raw);
    TagPtr holder = make(nbt_new_compound, "");
    TagPtr x = make(nbt_new_long, "x");
    ASSERT_EQ(nbt_set_long(x.get(), -5), 0);
    add(holder.get(), std::move(x));
    nbt_add_list_item(holder->value, list.get());
    holder->value = nullptr;

    EXPECT_EQ(printed([&] { nbt_print_tag(list.get(), 0); }), "TAG_LIST(\"l\"): (1 entries) { \n"
                                                              "   TAG_COMPOUND: (1 entries) { \n"
                                                              "      TAG_LONG(\"x\"): -5\n"
                                                              "   }\n"
                                                              "\n"
                                                              "}\n"
                                                              "\n");

    // As the reader leaves a list of end tags with a positive count.
    void *slots[2] = {nullptr, nullptr};
    nbt_list ends = {2, TAG_END, slots};
    EXPECT_EQ(printed([&] { nbt_print_value(TAG_LIST, &ends, 0); }),
              "(2 entries) { \n"
              "   TAG_END: <not implemented: 0x00>\n"
              "   TAG_END: <not implemented: 0x00>\n"
              "}\n"
              "\n");

    // A negative count as read from a file: no items.
    nbt_list negative = {-4, TAG_INT, nullptr};
    EXPECT_EQ(printed([&] { nbt_print_value(TAG_LIST, &negative, 0); }), "(-4 entries) { \n}\n\n");
}

TEST(Print, UnknownTagStillShowsItsName) {
    nbt_tag odd = {static_cast<nbt_type>(42), const_cast<char *>("odd"), nullptr};
    EXPECT_EQ(printed([&] { nbt_print_tag(&odd, 0); }),
              "TAG_Unknown(\"odd\"): <not implemented: 0x2A>\n");
}

} // namespace
