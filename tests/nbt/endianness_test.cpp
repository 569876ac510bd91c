// Byte order helpers: the host test and the unconditional byte reversals,
// which must carry float and double bit patterns through untouched.

#include "endianness.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <random>

namespace {

template <typename T, size_t N> T from_bytes(const std::array<uint8_t, N> &b) {
    static_assert(sizeof(T) == N);
    T v;
    std::memcpy(&v, b.data(), N);
    return v;
}

template <typename T> std::array<uint8_t, sizeof(T)> to_bytes(T v) {
    std::array<uint8_t, sizeof(T)> b;
    std::memcpy(b.data(), &v, sizeof(T));
    return b;
}

template <typename To, typename From> To bits_as(From v) {
    static_assert(sizeof(To) == sizeof(From));
    To out;
    std::memcpy(&out, &v, sizeof out);
    return out;
}

TEST(Endianness, HostOrderMatchesTheCompilersView) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    EXPECT_EQ(get_endianness(), 1);
#else
    EXPECT_EQ(get_endianness(), 0);
#endif
}

TEST(Endianness, IntegerReversalsByAddress) {
    uint16_t s = from_bytes<uint16_t>(std::array<uint8_t, 2>{1, 2});
    swaps(&s);
    EXPECT_EQ(to_bytes(s), (std::array<uint8_t, 2>{2, 1}));

    uint32_t i = from_bytes<uint32_t>(std::array<uint8_t, 4>{1, 2, 3, 4});
    swapi(&i);
    EXPECT_EQ(to_bytes(i), (std::array<uint8_t, 4>{4, 3, 2, 1}));

    uint64_t l = from_bytes<uint64_t>(std::array<uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8});
    swapl(&l);
    EXPECT_EQ(to_bytes(l), (std::array<uint8_t, 8>{8, 7, 6, 5, 4, 3, 2, 1}));
}

TEST(Endianness, IntegerReversalsByValue) {
    uint16_t s = 0x8000;
    swaps(&s);
    EXPECT_EQ(s, 0x0080);
    uint32_t i = 0x80FF0001u;
    swapi(&i);
    EXPECT_EQ(i, 0x0100FF80u);
    uint64_t l = UINT64_C(0x0123456789ABCDEF);
    swapl(&l);
    EXPECT_EQ(l, UINT64_C(0xEFCDAB8967452301));
}

TEST(Endianness, FloatReversalKeepsASignallingNaNPattern) {
    const float f = bits_as<float>(UINT32_C(0x3F80807F)); // about 1.0039214
    const float swapped = swapf(f);
    EXPECT_EQ(bits_as<uint32_t>(swapped), UINT32_C(0x7F80803F)) << "a signalling NaN";
    EXPECT_EQ(bits_as<uint32_t>(swapf(swapped)), UINT32_C(0x3F80807F));
}

TEST(Endianness, DoubleToIntegerAndBack) {
    EXPECT_EQ(swpd(1.0), UINT64_C(0x000000000000F03F));
    EXPECT_EQ(uswpd(UINT64_C(0x000000000000F03F)), 1.0);
    EXPECT_EQ(bits_as<uint64_t>(swapd(1.0)), UINT64_C(0x000000000000F03F));
}

TEST(Endianness, DoubleReversalKeepsNaNPatterns) {
    // Signalling NaNs with and without payload, a quiet NaN with payload,
    // and patterns that only become NaNs once reversed.
    const uint64_t patterns[] = {UINT64_C(0x7FF0000000000001), UINT64_C(0xFFF4000000000000),
                                 UINT64_C(0x7FF8DEADBEEF0001), UINT64_C(0x01000000000080FF),
                                 UINT64_C(0x00000000000000F0), UINT64_C(0x8000000000000000)};
    for (uint64_t p : patterns) {
        const uint64_t reversed = __builtin_bswap64(p);
        EXPECT_EQ(bits_as<uint64_t>(swapd(bits_as<double>(p))), reversed) << std::hex << p;
        EXPECT_EQ(bits_as<uint64_t>(swapd(swapd(bits_as<double>(p)))), p) << std::hex << p;
        EXPECT_EQ(swpd(bits_as<double>(p)), reversed) << std::hex << p;
        EXPECT_EQ(bits_as<uint64_t>(uswpd(swpd(bits_as<double>(p)))), p) << std::hex << p;
    }
}

TEST(Endianness, EveryReversalUndoesItselfOnRandomPatterns) {
    std::mt19937_64 gen(20261207);
    for (int n = 0; n < 100000; ++n) {
        const uint64_t p = gen();
        uint16_t s = static_cast<uint16_t>(p);
        swaps(&s);
        ASSERT_EQ(s, __builtin_bswap16(static_cast<uint16_t>(p)));
        swaps(&s);
        ASSERT_EQ(s, static_cast<uint16_t>(p));

        uint32_t i = static_cast<uint32_t>(p);
        swapi(&i);
        ASSERT_EQ(i, __builtin_bswap32(static_cast<uint32_t>(p)));
        swapi(&i);
        ASSERT_EQ(i, static_cast<uint32_t>(p));

        uint64_t l = p;
        swapl(&l);
        ASSERT_EQ(l, __builtin_bswap64(p));
        swapl(&l);
        ASSERT_EQ(l, p);

        const uint32_t p32 = static_cast<uint32_t>(p >> 32);
        const float f = swapf(bits_as<float>(p32));
        ASSERT_EQ(bits_as<uint32_t>(f), __builtin_bswap32(p32));
        ASSERT_EQ(bits_as<uint32_t>(swapf(f)), p32);

        const double d = swapd(bits_as<double>(p));
        ASSERT_EQ(bits_as<uint64_t>(d), __builtin_bswap64(p));
        ASSERT_EQ(bits_as<uint64_t>(swapd(d)), p);
        ASSERT_EQ(bits_as<uint64_t>(uswpd(swpd(bits_as<double>(p)))), p);
    }
}

TEST(Endianness, EveryFloatExponentAndNaNBoundaryPattern) {
    // All patterns whose low 16 bits come from a fixed set: this walks
    // every exponent and sign, the NaN and infinity boundaries included.
    const uint32_t lows[] = {0x0000, 0x0001, 0x7FFF, 0x8000, 0xFFFF, 0x807F};
    for (uint32_t high = 0; high <= 0xFFFF; ++high) {
        for (uint32_t low : lows) {
            const uint32_t p = (high << 16) | low;
            const float f = swapf(bits_as<float>(p));
            ASSERT_EQ(bits_as<uint32_t>(f), __builtin_bswap32(p)) << std::hex << p;
            ASSERT_EQ(bits_as<uint32_t>(swapf(f)), p) << std::hex << p;
        }
    }
}

} // namespace
