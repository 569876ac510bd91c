#include "lodecast/formats/chunk_name.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

namespace {

TEST(CheckBase32, AcceptsDigitsAndLowerCaseLetters) {
    for (const char *name : {"0", "1z", "zz9", "tmp", "", "0123456789abcdefghijklmnopqrstuvwxyz"}) {
        EXPECT_EQ(check_base32(name), 1) << '"' << name << '"';
    }
}

TEST(CheckBase32, RejectsAnyOtherCharacter) {
    for (const char *name : {"1A", "a_b", ".", "..", "Tmp", "0A", "1_2", "a-b", "a b", "a/b"}) {
        EXPECT_EQ(check_base32(name), 0) << '"' << name << '"';
    }
}

TEST(CheckBase32, BytesAboveAsciiAreNeitherDigitsNorLetters) {
    // 0xB0 is '0' + 0x80 and 0xE1 is 'a' + 0x80: compared as signed bytes
    // they are negative and must not pass as a digit or a letter.
    EXPECT_EQ(check_base32("\xB0"), 0);
    EXPECT_EQ(check_base32("a\xE1"), 0);
    EXPECT_EQ(check_base32("\xFF"), 0);
}

TEST(CheckChunkname, AcceptedNames) {
    for (const char *name : {"c.0.0.dat", "c.-1a.3.dat", "c...dat", "c.0..dat", "c.1-2.--.dat",
                             "c.0.0.dat.bak", "c.0.0.datx", "c.-zz.100.dat", "c.z.-z.dat"}) {
        EXPECT_EQ(check_chunkname(name), 1) << name;
    }
}

TEST(CheckChunkname, RejectedNames) {
    for (const char *name : {"C.0.0.dat", "c.0.0.DAT", "c.A.0.dat", "c.0_0.0.dat", "c.0.0",
                             "c.0.0.", "c.0.0.da", "c.0.0.0.dat", "c..dat", "", "c", ".", "c.",
                             "c0.0.dat", "c.0.0.dta", "c.0 .0.dat", "c.\xB0.0.dat", "x.0.0.dat"}) {
        EXPECT_EQ(check_chunkname(name), 0) << name;
    }
}

TEST(CheckChunkname, NeverReadsPastTheEndOfAShortName) {
    // Each name sits alone in a heap buffer of exactly its size, so reading
    // beyond the terminator shows under AddressSanitizer.
    for (const std::string name : {"", "c", "c.", "c.0", "c.0.", "c.0.0.", "c.0.0.d", "c.0.0.da"}) {
        auto buf = std::make_unique<char[]>(name.size() + 1);
        std::copy(name.begin(), name.end(), buf.get());
        buf[name.size()] = '\0';
        EXPECT_EQ(check_chunkname(buf.get()), 0) << name;
    }
}

struct CoordsCase {
    const char *name;
    int32_t x;
    int32_t y;
};

TEST(ChunkToCoords, DecodesSignedBase36) {
    const CoordsCase cases[] = {
        {"c.0.0.dat", 0, 0},
        {"c.-1.3.dat", -1, 3},
        {"c.a.-a.dat", 10, -10},
        {"c.-1a.3.dat", -46, 3},
        {"c.10.z.dat", 36, 35},
        {"c.-zz.100.dat", -1295, 1296},
        {"c...dat", 0, 0},
        {"c.1-2.0.dat", -1298, 0},
        {"c.z.-z.dat", 35, -35},
        {"c.-l.3.dat", -21, 3},
        {"c.0.0.dat.bak", 0, 0},
        // Largest magnitudes that decode exactly.
        {"c.zik0z.-zik0z.dat", 59652323, -59652323},
        // Minus signs anywhere count as 0 digits and negate once.
        {"c.--1.1--.dat", -1, -1296},
    };
    for (const CoordsCase &c : cases) {
        chunk_coords cc{99, 99};
        chunk_to_coords(c.name, &cc);
        EXPECT_EQ(cc.x, c.x) << c.name;
        EXPECT_EQ(cc.y, c.y) << c.name;
    }
}

TEST(ChunkToCoords, LongCoordinatesWrapWithoutFailing) {
    // Far beyond 32 bits: the value is of no use, but decoding must be
    // defined (UBSan checks the arithmetic) and must stay on its part.
    chunk_coords cc{};
    chunk_to_coords("c.zzzzzzzzzzzzzzzzzzzzzzzz.-zzzzzzzzzzzzzzzzzzzzzzzzzzzz.dat", &cc);
    chunk_coords again{};
    chunk_to_coords("c.zzzzzzzzzzzzzzzzzzzzzzzz.-zzzzzzzzzzzzzzzzzzzzzzzzzzzz.dat", &again);
    EXPECT_EQ(cc.x, again.x);
    EXPECT_EQ(cc.y, again.y);

    // One symbol past the exact range still leaves the other part exact.
    chunk_to_coords("c.zzzzzzzzzzzzzzzzzzzzzz.-1a.dat", &cc);
    EXPECT_EQ(cc.y, -46);
}

} // namespace
