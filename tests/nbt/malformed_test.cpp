// Documents the reader must refuse, one fault per case: a document cut
// short anywhere below the root is refused, whatever was due there. Every refusal must leave the
// root null and nothing allocated (the sanitizer build checks for leaks).

#include "heap_usage.h"
#include "nbt_file_helpers.h"
#include "support/chunk_bytes.h"
#include "support/files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

const std::string kChunkDir = std::string(LODECAST_TEST_DATA) + "/chunks/";

// depth compounds, each the only child of the one before.
Bytes nested_compounds(int depth) {
    NbtBytes b;
    for (int i = 0; i < depth; ++i) {
        b.head(TAG_COMPOUND, "");
    }
    for (int i = 0; i < depth; ++i) {
        b.end();
    }
    return b.bytes();
}

// A root list of lists, depth lists deep; the innermost is empty.
Bytes nested_lists(int depth) {
    NbtBytes b;
    b.head(TAG_LIST, "");
    for (int i = 1; i < depth; ++i) {
        b.u8(TAG_LIST).i32(1); // element type list, one element
    }
    b.u8(TAG_END).i32(0); // the innermost list is empty
    return b.bytes();
}

// A small document whose gzip form has room for a damaged deflate block.
Bytes sample_document() {
    return NbtBytes()
        .head(TAG_COMPOUND, "")
        .head(TAG_STRING, "text")
        .str("some words to compress, some words to compress")
        .byte_array("bytes", Bytes(300, 0x42))
        .end()
        .bytes();
}

struct BadCase {
    const char *what;
    Bytes data; // stored as it is (tests of gzip faults hold gzip data)
    int status;
};

std::vector<BadCase> bad_cases() {
    const Bytes gz = gzip_bytes(sample_document());
    auto damaged = [&](size_t index, uint8_t value) {
        Bytes b = gz;
        b.at(index) = value;
        return b;
    };
    auto flipped = [&](size_t from_end) {
        Bytes b = gz;
        b[b.size() - from_end] ^= 0x01;
        return b;
    };
    return {
        {"EOF inside a payload", NbtBytes().head(TAG_INT, "i").i16(0).bytes(), NBT_ERR},
        {"EOF inside a name", NbtBytes().u8(TAG_BYTE).i16(5).raw({'a', 'b'}).bytes(), NBT_ERR},
        {"EOF inside a name length", {TAG_BYTE, 0x00}, NBT_ERR},
        {"EOF inside a string value", NbtBytes().head(TAG_STRING, "s").i16(9).raw({'x'}).bytes(),
         NBT_ERR},
        {"EOF inside byte array content",
         NbtBytes().head(TAG_BYTE_ARRAY, "a").i32(10).raw({1, 2, 3}).bytes(), NBT_ERR},
        {"EOF inside a list count", NbtBytes().head(TAG_LIST, "l").u8(TAG_INT).i16(0).bytes(),
         NBT_ERR},
        {"EOF inside list elements",
         NbtBytes().head(TAG_LIST, "l").u8(TAG_SHORT).i32(3).i16(1).bytes(), NBT_ERR},
        {"EOF inside a long two levels down",
         NbtBytes()
             .head(TAG_COMPOUND, "")
             .head(TAG_COMPOUND, "in")
             .head(TAG_LONG, "v")
             .i32(0)
             .bytes(),
         NBT_ERR},
        {"negative name length", NbtBytes().u8(TAG_BYTE).i16(-1).raw({'a', 'b', 1}).bytes(),
         NBT_ERR},
        {"negative string length (32768)",
         NbtBytes().head(TAG_STRING, "s").u8(0x80).u8(0x00).raw(Bytes(8, 'x')).bytes(), NBT_ERR},
        {"negative byte array length",
         NbtBytes().head(TAG_BYTE_ARRAY, "a").i32(-1).raw(Bytes(8, 0)).bytes(), NBT_ERR},
        {"byte array longer than the data",
         NbtBytes().head(TAG_BYTE_ARRAY, "a").i32(INT32_MAX).raw(Bytes(8, 0)).bytes(), NBT_ERR},
        {"negative int array count",
         NbtBytes().head(TAG_INT_ARRAY, "a").i32(-1).raw(Bytes(8, 0)).bytes(), NBT_ERR},
        {"negative long array count",
         NbtBytes().head(TAG_LONG_ARRAY, "a").i32(INT32_MIN).raw(Bytes(8, 0)).bytes(), NBT_ERR},
        {"int array longer than the data",
         NbtBytes().head(TAG_INT_ARRAY, "a").i32(3).raw(Bytes(11, 0)).bytes(), NBT_ERR},
        // 2^29 + 1 longs are 8 bytes when counted in 32 bits.
        {"long array whose size wraps in 32 bits",
         NbtBytes().head(TAG_LONG_ARRAY, "a").i32(0x20000001).raw(Bytes(8, 0)).bytes(), NBT_ERR},
        {"EOF inside a list of long arrays",
         NbtBytes().head(TAG_LIST, "l").u8(TAG_LONG_ARRAY).i32(2).i32(1).i64(5).i32(1).bytes(),
         NBT_ERR},
        {"list of end tags with a count", NbtBytes().head(TAG_LIST, "l").u8(TAG_END).i32(1).bytes(),
         NBT_ERR},
        {"list of an unassigned type with a count",
         NbtBytes().head(TAG_LIST, "l").u8(13).i32(2).raw({0, 0}).bytes(), NBT_ERR},
        {"list count beyond the data",
         NbtBytes().head(TAG_LIST, "l").u8(TAG_INT).i32(INT32_MAX).i32(1).bytes(), NBT_ERR},
        {"EOF where a type is due in the root", {0x0A, 0x00, 0x00}, NBT_ERR},
        {"EOF where a type is due two levels down",
         NbtBytes()
             .head(TAG_COMPOUND, "")
             .head(TAG_COMPOUND, "in")
             .head(TAG_SHORT, "s")
             .i16(3)
             .bytes(),
         NBT_ERR},
        {"EOF right after the count of a list of compounds",
         NbtBytes().head(TAG_COMPOUND, "").head(TAG_LIST, "l").u8(TAG_COMPOUND).i32(2).bytes(),
         NBT_ERR},
        {"EOF one compound later",
         NbtBytes()
             .head(TAG_COMPOUND, "")
             .head(TAG_LIST, "l")
             .u8(TAG_COMPOUND)
             .i32(2)
             .head(TAG_INT, "i")
             .i32(1)
             .end()
             .bytes(),
         NBT_ERR},
        {"513 nested compounds", nested_compounds(513), NBT_ERR},
        {"513 nested lists", nested_lists(513), NBT_ERR},
        {"corrupt deflate data", damaged(10, 0xFF), NBT_ERR},
        {"wrong CRC", flipped(8), NBT_ERR},
        {"wrong length in the trailer", flipped(4), NBT_ERR},
        {"truncated gzip", Bytes(gz.begin(), gz.end() - 12), NBT_ERR},
    };
}

TEST(Malformed, EachFaultIsRefusedWithNothingLeft) {
    TempDir dir;
    for (const BadCase &c : bad_cases()) {
        SCOPED_TRACE(c.what);
        Parsed p = parse_bytes(dir.file("bad.nbt"), c.data, false);
        EXPECT_EQ(p.status, c.status);
        EXPECT_EQ(p.root(), nullptr);
    }
}

#ifndef NBT_TEST_ASAN
// Address space of this process now, in bytes.
size_t address_space_in_use() {
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0;
    statm >> pages;
    return pages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

TEST(Malformed, DeclaredSizesAreNotAllocatedAhead) {
    // Under an address space limit far below the declared sizes, a reader
    // that allocated them first would answer NBT_EMEM; one that checks them
    // against the data (or grows with it) answers NBT_ERR. The sanitizer
    // build reserves too much address space for such a limit.
    TempDir dir;
    const Bytes huge_array =
        NbtBytes().head(TAG_BYTE_ARRAY, "a").i32(INT32_MAX).raw(Bytes(64, 1)).bytes();
    const Bytes huge_list =
        NbtBytes().head(TAG_LIST, "l").u8(TAG_LONG).i32(INT32_MAX).i64(5).bytes();
    write_gzip_file(dir.file("array.nbt"), huge_array);
    write_gzip_file(dir.file("list.nbt"), huge_list);
    pid_t pid = fork();
    if (pid == 0) {
        struct rlimit lim {};
        lim.rlim_cur = lim.rlim_max = address_space_in_use() + (size_t{256} << 20);
        if (setrlimit(RLIMIT_AS, &lim) != 0) {
            _exit(99);
        }
        int code = 0;
        for (const char *name : {"array.nbt", "list.nbt"}) {
            Parsed p = parse_path(dir.file(name));
            code = code * 2 + (p.status == NBT_ERR ? 0 : 1);
        }
        nbt_file doc{};
        doc.fp = gzopen(dir.file("array.nbt").c_str(), "rb");
        gzseek(doc.fp, 4, SEEK_SET); // past the type byte and name
        unsigned char *content = nullptr;
        code = code * 2 + (nbt_read_byte_array(&doc, &content) == NBT_ERR ? 0 : 1);
        gzclose(doc.fp);
        doc.fp = gzopen(dir.file("list.nbt").c_str(), "rb");
        gzseek(doc.fp, 4, SEEK_SET);
        char type = 0;
        void **items = nullptr;
        code = code * 2 + (nbt_read_list(&doc, &type, &items) == NBT_ERR ? 0 : 1);
        gzclose(doc.fp);
        _exit(code);
    }
    ASSERT_GT(pid, 0);
    int ws = 0;
    ASSERT_EQ(waitpid(pid, &ws, 0), pid);
    ASSERT_TRUE(WIFEXITED(ws));
    // One bit per case, 0 when it was refused as malformed.
    EXPECT_EQ(WEXITSTATUS(ws), 0);
}
#endif

TEST(Malformed, UndamagedSampleIsAccepted) {
    // Guards the gzip cases above: their fault is the only thing wrong.
    TempDir dir;
    Parsed p = parse_bytes(dir.file("ok.nbt"), gzip_bytes(sample_document()), false);
    ASSERT_EQ(p.status, NBT_OK);
    EXPECT_EQ(nbt_get_length(p.root()), 2);
}

TEST(Malformed, NestingUpToTheLimitIsAccepted) {
    TempDir dir;
    Parsed c = parse_bytes(dir.file("c.nbt"), nested_compounds(512), true);
    ASSERT_EQ(c.status, NBT_OK);
    nbt_tag *t = c.root();
    int levels = 1;
    while (nbt_get_length(t) == 1) {
        t = nbt_cast_compound(t)->tags[0];
        ++levels;
    }
    EXPECT_EQ(levels, 512);

    Parsed l = parse_bytes(dir.file("l.nbt"), nested_lists(512), true);
    ASSERT_EQ(l.status, NBT_OK);
    nbt_list *list = nbt_cast_list(l.root());
    levels = 1;
    while (list->length == 1) {
        list = static_cast<nbt_list *>(list->content[0]);
        ++levels;
    }
    EXPECT_EQ(levels, 512);
}

TEST(Malformed, EveryPrefixOfAPlainDocument) {
    // The example document; every cut is refused, also where a type byte
    // is due (an open compound is not closed by the end of the data).
    const Bytes doc = {
        0x0A, 0x00, 0x00,             // root compound, empty name
        0x02, 0x00, 0x01, 0x73,       // short "s"
        0x01, 0x02,                   // 258
        0x09, 0x00, 0x01, 0x6C,       // list "l"
        0x03, 0x00, 0x00, 0x00, 0x01, // of one int
        0x00, 0x00, 0x00, 0x07,       // 7
        0x00,                         // end of the root
    };
    // Prefix length -> children of the accepted root.
    const std::vector<std::pair<size_t, int>> accepted = {{23, 2}};
    TempDir dir;
    for (size_t n = 0; n <= doc.size(); ++n) {
        SCOPED_TRACE("prefix of " + std::to_string(n) + " bytes");
        Parsed p = parse_bytes(dir.file("p.nbt"), Bytes(doc.begin(), doc.begin() + n), false);
        if (n == 0) {
            ASSERT_EQ(p.status, NBT_OK);
            EXPECT_EQ(p.root()->type, TAG_END);
            continue;
        }
        int children = -1;
        for (auto [len, kids] : accepted) {
            if (len == n) {
                children = kids;
            }
        }
        if (children < 0) {
            EXPECT_EQ(p.status, NBT_ERR);
            EXPECT_EQ(p.root(), nullptr);
        } else {
            ASSERT_EQ(p.status, NBT_OK);
            EXPECT_EQ(nbt_get_length(p.root()), children);
        }
    }
}

TEST(Malformed, EveryPrefixOfAGzipChunkIsRefused) {
    // Only the empty prefix is a document (an empty file); a gzip stream
    // cut anywhere, header and trailer included, is refused.
    TempDir dir;
    for (const char *name : {"c.-o.4.dat", "c.-l.5.dat"}) {
        SCOPED_TRACE(name);
        const Bytes whole = read_file(kChunkDir + name);
        for (size_t n = 0; n < whole.size(); ++n) {
            // A fresh name each time: rewriting one file in place makes the
            // file system flush it on every close, which is slow.
            const std::string path = dir.file("cut" + std::to_string(n) + ".dat");
            Parsed p = parse_bytes(path, Bytes(whole.begin(), whole.begin() + n), false);
            std::remove(path.c_str());
            if (n == 0) {
                ASSERT_EQ(p.status, NBT_OK);
                EXPECT_EQ(p.root()->type, TAG_END);
                continue;
            }
            ASSERT_EQ(p.status, NBT_ERR) << "prefix of " << n << " bytes";
            ASSERT_EQ(p.root(), nullptr) << "prefix of " << n << " bytes";
        }
        Parsed p = parse_bytes(dir.file("cut.dat"), whole, false);
        EXPECT_EQ(p.status, NBT_OK);
    }
}

} // namespace
