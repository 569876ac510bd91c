// The packing of palette indices in its three variants.
#include "lodecast/storage/palette_packing.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

const packing all_packings[] = {packing::spanning, packing::padded, packing::sparse_padded};

TEST(PalettePacking, WidthsAndLengthsByVariant) {
    struct row {
        size_t n;
        int bits[3];      // spanning, padded, sparse padded
        int32_t longs[3]; // array lengths
    };
    const row rows[] = {
        {1, {4, 4, 0}, {256, 256, 0}},         {2, {4, 4, 4}, {256, 256, 256}},
        {16, {4, 4, 4}, {256, 256, 256}},      {17, {5, 5, 5}, {320, 342, 342}},
        {65, {7, 7, 7}, {448, 456, 456}},      {128, {7, 7, 7}, {448, 456, 456}},
        {256, {8, 8, 8}, {512, 512, 512}},     {257, {9, 9, 9}, {576, 586, 586}},
        {4096, {12, 12, 12}, {768, 820, 820}},
    };
    for (const row &r : rows) {
        for (int v = 0; v < 3; ++v) {
            SCOPED_TRACE("n " + std::to_string(r.n) + " variant " + std::to_string(v));
            EXPECT_EQ(index_bits(all_packings[v], r.n), r.bits[v]);
            EXPECT_EQ(packed_length(all_packings[v], r.bits[v]), r.longs[v]);
        }
    }
    EXPECT_EQ(packing_for(1444), packing::spanning);
    EXPECT_EQ(packing_for(2526), packing::spanning);
    EXPECT_EQ(packing_for(2527), packing::padded);
    EXPECT_EQ(packing_for(2843), packing::padded);
    EXPECT_EQ(packing_for(2844), packing::sparse_padded);
}

TEST(PalettePacking, RoundTripsAtEveryWidth) {
    std::mt19937 gen(21);
    for (packing p : all_packings) {
        for (size_t n : {2, 16, 17, 32, 100, 128, 300, 4096}) {
            SCOPED_TRACE("variant " + std::to_string(static_cast<int>(p)) + " n " +
                         std::to_string(n));
            section_indices in{};
            std::uniform_int_distribution<int> pick(0, static_cast<int>(n) - 1);
            for (uint16_t &i : in) {
                i = static_cast<uint16_t>(pick(gen));
            }
            in[4095] = static_cast<uint16_t>(n - 1); // the largest index, last
            const int bits = index_bits(p, n);
            const std::vector<int64_t> longs = pack_indices(p, bits, in);
            ASSERT_EQ(static_cast<int32_t>(longs.size()), packed_length(p, bits));
            section_indices out{};
            ASSERT_TRUE(
                unpack_indices(p, n, longs.data(), static_cast<int32_t>(longs.size()), out));
            EXPECT_EQ(out, in);
            // One entry fewer: the largest index is now out of range.
            if (index_bits(p, n - 1) == bits) {
                EXPECT_FALSE(unpack_indices(p, n - 1, longs.data(),
                                            static_cast<int32_t>(longs.size()), out));
            }
            // A length one short or one long is not this storage.
            std::vector<int64_t> longer = longs;
            longer.push_back(0);
            EXPECT_FALSE(
                unpack_indices(p, n, longs.data(), static_cast<int32_t>(longs.size()) - 1, out));
            EXPECT_FALSE(
                unpack_indices(p, n, longer.data(), static_cast<int32_t>(longer.size()), out));
        }
    }
}

// 5-bit indices 0 = 1, 11 = 31, 12 = 0b10110, 13 = 3, the rest 0 (a palette
// of 32): index 12 straddles the first two longs when spanning, and starts
// the second long when padded (12 per long, 4 bits of padding).
TEST(PalettePacking, HandBuiltLongsBitForBit) {
    section_indices in{};
    in[0] = 1;
    in[11] = 31;
    in[12] = 0b10110;
    in[13] = 3;
    struct row {
        packing p;
        uint64_t first, second;
    };
    const row rows[] = {
        {packing::spanning, 0x6F80000000000001u, 0x7u},
        {packing::padded, 0x0F80000000000001u, 0x76u},
        {packing::sparse_padded, 0x0F80000000000001u, 0x76u},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(static_cast<int>(r.p));
        std::vector<int64_t> want(static_cast<size_t>(packed_length(r.p, 5)), 0);
        want[0] = static_cast<int64_t>(r.first);
        want[1] = static_cast<int64_t>(r.second);
        EXPECT_EQ(pack_indices(r.p, 5, in), want);
        section_indices out{};
        ASSERT_TRUE(unpack_indices(r.p, 32, want.data(), static_cast<int32_t>(want.size()), out));
        EXPECT_EQ(out, in);
    }
}

TEST(PalettePacking, OneEntryWithoutArrayFromSparse) {
    section_indices out{};
    out.fill(7);
    EXPECT_TRUE(unpack_indices(packing::sparse_padded, 1, nullptr, 0, out));
    EXPECT_EQ(out, section_indices{});
    // Before 2844 a one-entry palette still has its 256 longs.
    EXPECT_FALSE(unpack_indices(packing::padded, 1, nullptr, 0, out));
    EXPECT_FALSE(unpack_indices(packing::sparse_padded, 0, nullptr, 0, out));
}

} // namespace
