// Writing documents: exact bytes of each construct, the limits the writer
// enforces, and how a file is replaced (permissions kept, old content safe
// when writing fails, nothing left behind).

#include "durable/durable.h"
#include "nbt_file_helpers.h"
#include "support/child_run.h"
#include "support/chunk_bytes.h"
#include "support/files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace fs = std::filesystem;

namespace {

struct TagDeleter {
    void operator()(nbt_tag *t) const { nbt_free_tag(t); }
};
using TagPtr = std::unique_ptr<nbt_tag, TagDeleter>;

// A tag record with no name and no value, as the reader makes for TAG_END.
nbt_tag *bare_tag(nbt_type type) {
    auto *t = static_cast<nbt_tag *>(std::calloc(1, sizeof(nbt_tag)));
    t->type = type;
    return t;
}

nbt_tag *new_compound(const char *name) {
    nbt_tag *t = nullptr;
    EXPECT_EQ(nbt_new_compound(&t, name), 0);
    return t;
}

nbt_tag *new_list(const char *name, nbt_type type) {
    nbt_tag *t = nullptr;
    EXPECT_EQ(nbt_new_list(&t, name, type), 0);
    return t;
}

nbt_tag *new_string(const char *name, const std::string &text) {
    nbt_tag *t = nullptr;
    EXPECT_EQ(nbt_new_string(&t, name), 0);
    EXPECT_EQ(nbt_set_string(t, text.c_str()), 0);
    return t;
}

nbt_tag *new_float_bits(const char *name, uint32_t bits) {
    nbt_tag *t = nullptr;
    EXPECT_EQ(nbt_new_float(&t, name), 0);
    std::memcpy(t->value, &bits, 4);
    return t;
}

// Files in dir other than the given ones (temporary files left behind).
std::vector<std::string> other_files(const TempDir &dir, const std::vector<std::string> &known) {
    std::vector<std::string> found;
    for (const auto &e : fs::directory_iterator(dir.path())) {
        std::string name = e.path().filename().string();
        if (std::find(known.begin(), known.end(), name) == known.end()) {
            found.push_back(name);
        }
    }
    return found;
}

// Runs body in a forked child and returns its exit status (or 128 + signal).
int in_child(const std::function<int()> &body) {
    pid_t pid = fork();
    if (pid == 0) {
        _exit(body());
    }
    int ws = 0;
    if (pid < 0 || waitpid(pid, &ws, 0) != pid) {
        return -1;
    }
    return WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
}

// Writing status as a child's exit code (statuses are small negatives).
int exit_code(int status) {
    return status < 0 ? 100 - status : 0;
}

TEST(Write, ExampleDocumentComesBackByteForByte) {
    TempDir dir;
    Parsed p = parse_bytes(dir.file("in.nbt"), kExample, true);
    ASSERT_EQ(p.status, NBT_OK);
    EXPECT_EQ(nbt_write(p.doc.get(), dir.file("out.nbt").c_str()), 23);
    EXPECT_EQ(gunzip_file(dir.file("out.nbt")), kExample);
}

TEST(Write, GoldenBytesOfSmallDocuments) {
    struct Case {
        const char *what;
        std::function<nbt_tag *()> make;
        Bytes bytes;
    };
    const Case cases[] = {
        {"end root",
         [] { return bare_tag(TAG_END); },
         {
             0x00, // type: end, nothing else
         }},
        {"empty compound with empty name",
         [] { return new_compound(""); },
         {
             0x0A,       // type: compound
             0x00, 0x00, // name length 0
             0x00,       // end
         }},
        {"empty list of end tags named l",
         [] { return new_list("l", TAG_END); },
         {
             0x09,                   // type: list
             0x00, 0x01, 0x6C,       // name "l"
             0x00,                   // element type: end
             0x00, 0x00, 0x00, 0x00, // count 0
         }},
        {"list with a negative count",
         [] {
             nbt_tag *t = new_list("n", TAG_INT);
             nbt_cast_list(t)->length = -3;
             return t;
         },
         {
             0x09,                   // type: list
             0x00, 0x01, 0x6E,       // name "n"
             0x03,                   // element type: int
             0xFF, 0xFF, 0xFF, 0xFD, // count -3, no elements
         }},
        {"float whose reversal is a signalling NaN",
         [] { return new_float_bits("f", 0x3F80807F); },
         {
             0x05,                   // type: float
             0x00, 0x01, 0x66,       // name "f"
             0x3F, 0x80, 0x80, 0x7F, // the bits as held
         }},
        {"string cut at its zero byte",
         [] {
             nbt_tag *t = new_string("s", "abcd");
             static_cast<char *>(t->value)[2] = '\0';
             return t;
         },
         {
             0x08,             // type: string
             0x00, 0x01, 0x73, // name "s"
             0x00, 0x02,       // length 2
             0x61, 0x62,       // "ab"
         }},
        {"int and long arrays in a compound",
         [] {
             nbt_tag *c = new_compound("");
             nbt_tag *a = nullptr;
             const int32_t ints[] = {1, -2};
             nbt_new_int_array(&a, "i");
             nbt_set_int_array(a, ints, 2);
             nbt_add_tag(a, c);
             const int64_t longs[] = {0x0102030405060708};
             nbt_new_long_array(&a, "l");
             nbt_set_long_array(a, longs, 1);
             nbt_add_tag(a, c);
             return c;
         },
         {
             0x0A, 0x00, 0x00,                               // root compound
             0x0B, 0x00, 0x01, 0x69, 0x00, 0x00, 0x00, 0x02, // int array "i", 2
             0x00, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFE, // 1, -2
             0x0C, 0x00, 0x01, 0x6C, 0x00, 0x00, 0x00, 0x01, // long array "l", 1
             0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, // 0x0102030405060708
             0x00,                                           // end
         }},
        {"unassigned type inside a compound",
         [] {
             nbt_tag *c = new_compound("");
             nbt_tag *odd = nullptr;
             nbt_new_tag(&odd, static_cast<nbt_type>(77), "x");
             nbt_add_tag(odd, c);
             return c;
         },
         {
             0x0A,             // type: compound
             0x00, 0x00,       // name length 0
             0x4D,             // type 77
             0x00, 0x01, 0x78, // name "x", no payload
             0x00,             // end
         }},
    };
    TempDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        NbtFilePtr doc = document_with(c.make());
        const std::string out = dir.file("golden.nbt");
        EXPECT_EQ(nbt_write(doc.get(), out.c_str()), static_cast<int>(c.bytes.size()));
        EXPECT_EQ(gunzip_file(out), c.bytes);
    }
}

TEST(Write, LongestNameAndStringAreWritten) {
    TempDir dir;
    const std::string longest(32767, 'n');
    NbtFilePtr doc = document_with(new_string(longest.c_str(), longest));
    EXPECT_EQ(nbt_write(doc.get(), dir.file("long.nbt").c_str()), 1 + 2 * (2 + 32767));
    Parsed back = parse_path(dir.file("long.nbt"));
    ASSERT_EQ(back.status, NBT_OK);
    EXPECT_EQ(std::string(back.root()->name), longest);
    EXPECT_EQ(std::string(nbt_cast_string(back.root())), longest);
}

TEST(Write, UnwritableTreesAreRefusedBeforeTouchingTheFile) {
    const std::string too_long(32768, 'x');
    struct Case {
        const char *what;
        std::function<nbt_tag *()> make;
    };
    const Case cases[] = {
        {"name of 32768 bytes", [&] { return new_string(too_long.c_str(), "v"); }},
        {"string of 32768 bytes", [&] { return new_string("s", too_long); }},
        {"missing name",
         [] {
             nbt_tag *t = new_compound("");
             std::free(t->name);
             t->name = nullptr;
             return t;
         }},
        {"missing value",
         [] {
             nbt_tag *t = nullptr;
             nbt_new_tag(&t, TAG_INT, "i");
             return t;
         }},
        {"negative byte array length",
         [] {
             nbt_tag *t = nullptr;
             nbt_new_byte_array(&t, "a");
             nbt_cast_byte_array(t)->length = -1;
             return t;
         }},
        {"negative int array length",
         [] {
             nbt_tag *t = nullptr;
             nbt_new_int_array(&t, "a");
             nbt_cast_int_array(t)->length = -1;
             return t;
         }},
        {"long array without content",
         [] {
             nbt_tag *t = nullptr;
             nbt_new_long_array(&t, "a");
             std::free(nbt_cast_long_array(t)->content);
             *nbt_cast_long_array(t) = {1, nullptr};
             return t;
         }},
        {"end tag among a compound's children",
         [] {
             nbt_tag *c = new_compound("");
             nbt_tag *end = bare_tag(TAG_END);
             nbt_add_tag(end, c);
             return c;
         }},
        {"list of end tags with items",
         [] {
             nbt_tag *l = new_list("l", TAG_END);
             nbt_add_list_item(nullptr, l);
             return l;
         }},
        {"type number above 255",
         [] {
             nbt_tag *t = nullptr;
             nbt_new_tag(&t, static_cast<nbt_type>(256 + TAG_COMPOUND), "big");
             return t;
         }},
        {"513 nested compounds",
         [] {
             nbt_tag *root = new_compound("");
             nbt_tag *at = root;
             for (int i = 1; i < 513; ++i) {
                 at = nbt_add_tag(new_compound(""), at);
             }
             return root;
         }},
    };
    TempDir dir;
    const std::string existing = dir.file("existing.nbt");
    const Bytes old = gzip_bytes({0x0A, 0x00, 0x00, 0x00});
    write_file(existing, old);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        NbtFilePtr doc = document_with(c.make());
        EXPECT_EQ(nbt_write(doc.get(), dir.file("new.nbt").c_str()), NBT_ERR);
        EXPECT_FALSE(fs::exists(dir.file("new.nbt")));
        EXPECT_EQ(nbt_write(doc.get(), existing.c_str()), NBT_ERR);
        EXPECT_EQ(read_file(existing), old);
        nbt::buffer plain; // written part way in memory: nothing of it stays
        EXPECT_EQ(nbt_encode(doc.get(), NBT_UNCOMPRESSED, plain.get(), nullptr), NBT_ERR);
        EXPECT_EQ(plain.size(), 0u);
        nbt_file stream{}; // nor on a stream
        stream.fp = gzopen(dir.file("stream.gz").c_str(), "wb");
        EXPECT_EQ(nbt_write_tag(&stream, doc->root), NBT_ERR);
        gzclose(stream.fp);
        EXPECT_EQ(gunzip_file(dir.file("stream.gz")), Bytes{});
    }
    EXPECT_EQ(other_files(dir, {"existing.nbt", "stream.gz"}), std::vector<std::string>{});
}

TEST(Write, NestingAtTheLimitIsWritten) {
    nbt_tag *root = new_compound("");
    nbt_tag *at = root;
    for (int i = 1; i < 512; ++i) {
        at = nbt_add_tag(new_compound(""), at);
    }
    NbtFilePtr doc = document_with(root);
    TempDir dir;
    EXPECT_EQ(nbt_write(doc.get(), dir.file("deep.nbt").c_str()), 512 * 4);
}

TEST(Write, DocumentWithoutRootLeavesTheFileAlone) {
    TempDir dir;
    const std::string path = dir.file("keep.nbt");
    write_file(path, {1, 2, 3});
    NbtFilePtr doc = document_with(nullptr);
    EXPECT_EQ(nbt_write(doc.get(), path.c_str()), NBT_ERR);
    EXPECT_EQ(read_file(path), (Bytes{1, 2, 3}));
    EXPECT_EQ(nbt_write(doc.get(), dir.file("none.nbt").c_str()), NBT_ERR);
    EXPECT_FALSE(fs::exists(dir.file("none.nbt")));
}

TEST(Write, MissingFolderCannotBeCreated) {
    TempDir dir;
    NbtFilePtr doc = document_with(new_compound(""));
    EXPECT_EQ(nbt_write(doc.get(), dir.file("no/such/dir/c.0.0.dat").c_str()), NBT_EGZ);
}

TEST(Write, WritingTwiceGivesTheSameBytesAndKeepsTheTree) {
    nbt_tag *root = new_compound("");
    nbt_add_tag(new_float_bits("f", 0x3F80807F), root);
    nbt_tag *i = nullptr;
    nbt_new_int(&i, "i");
    nbt_set_int(i, 0x01020304);
    nbt_add_tag(i, root);
    NbtFilePtr doc = document_with(root);
    TempDir dir;
    ASSERT_EQ(nbt_write(doc.get(), dir.file("a.nbt").c_str()), 20);
    ASSERT_EQ(nbt_write(doc.get(), dir.file("b.nbt").c_str()), 20);
    EXPECT_EQ(gunzip_file(dir.file("a.nbt")), gunzip_file(dir.file("b.nbt")));
    uint32_t bits;
    std::memcpy(&bits, nbt_cast_compound(root)->tags[0]->value, 4);
    EXPECT_EQ(bits, 0x3F80807Fu);
    EXPECT_EQ(*nbt_cast_int(i), 0x01020304);
}

TEST(Write, ReplacingKeepsPermissionBits) {
    TempDir dir;
    NbtFilePtr doc = document_with(new_compound(""));
    for (mode_t mode : {0640, 0600, 0755}) {
        const std::string path = dir.file("perm.nbt");
        write_file(path, {0});
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        ASSERT_EQ(nbt_write(doc.get(), path.c_str()), 4);
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
    }
    // A new file gets the usual bits, less the umask.
    mode_t mask = umask(022);
    ASSERT_EQ(nbt_write(doc.get(), dir.file("fresh.nbt").c_str()), 4);
    umask(mask);
    struct stat st {};
    ASSERT_EQ(stat(dir.file("fresh.nbt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST(Write, ReplacingCarriesOwnerGroupAndAttributesNeverWidening) {
    if (geteuid() != 0 || !can_run_as_nobody()) {
        GTEST_SKIP() << "needs root that can drop to an unprivileged user";
    }
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    struct Case {
        bool as_nobody;
        gid_t file_gid;
        std::vector<gid_t> groups; // the writer's supplementary groups
        mode_t mode, new_mode;
        durable_report report;
        gid_t new_gid;
    } cases[] = {
        // Root keeps owner and group.
        {false, 100, {}, 0664, 0664, {0, 0, 0}, 100},
        // A member of the file's group keeps the group, not the owner.
        {true, 100, {100}, 0664, 0664, {1, 0, 0}, 100},
        // Otherwise the group's bits do not pass to the writer's group.
        {true, 0, {}, 02666, 0606, {1, 1, 0}, kNobodyGid},
    };
    const std::string path = dir.file("attr.nbt");
    for (const Case &c : cases) {
        write_file(path, {0});
        ASSERT_EQ(chown(path.c_str(), 0, c.file_gid), 0);
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        int code = in_child([&] {
            if (c.as_nobody && (setgroups(c.groups.size(), c.groups.data()) != 0 ||
                                setgid(kNobodyGid) != 0 || setuid(kNobodyUid) != 0)) {
                return 99;
            }
            durable_report r{7, 7, 7};
            if (durable_replace_file(path.c_str(), "new", 3, nullptr, &r) != DURABLE_OK) {
                return 98;
            }
            return r.owner_changed | r.group_changed << 1 | r.attributes_lost << 2;
        });
        EXPECT_EQ(code, c.report.owner_changed | c.report.group_changed << 1 |
                            c.report.attributes_lost << 2);
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, c.as_nobody ? kNobodyUid : 0u);
        EXPECT_EQ(st.st_gid, c.new_gid);
        EXPECT_EQ(st.st_mode & 07777, c.new_mode) << std::oct << c.mode;
    }
}

TEST(Write, ReplacingCopiesExtendedAttributes) {
    TempDir dir;
    const std::string path = dir.file("x.nbt");
    write_file(path, {0});
    if (setxattr(path.c_str(), "user.note", "kept", 4, 0) != 0) {
        GTEST_SKIP() << "the file system refuses user attributes";
    }
    durable_report r{7, 7, 7};
    ASSERT_EQ(durable_replace_file(path.c_str(), "new", 3, nullptr, &r), DURABLE_OK);
    char value[16] = {};
    EXPECT_EQ(getxattr(path.c_str(), "user.note", value, sizeof value), 4);
    EXPECT_STREQ(value, "kept");
    EXPECT_EQ(r.attributes_lost, 0);
    EXPECT_EQ(r.owner_changed, 0);
}

TEST(Write, ThroughALinkReplacesWhatItPointsTo) {
    TempDir dir;
    const std::string real = dir.file("real.nbt");
    const std::string link = dir.file("link.nbt");
    write_file(real, {0});
    ASSERT_EQ(symlink("real.nbt", link.c_str()), 0);
    NbtFilePtr doc = document_with(new_compound(""));
    ASSERT_EQ(nbt_write(doc.get(), link.c_str()), 4);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(gunzip_file(real), (Bytes{0x0A, 0x00, 0x00, 0x00}));
}

TEST(Write, FailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    TempDir dir;
    const std::string path = dir.file("c.0.0.dat");
    const Bytes old = read_file(std::string(LODECAST_TEST_DATA) + "/chunks/c.-o.4.dat");
    write_file(path, old);
    int code = in_child([&] {
        // A tiny file size limit plays a full disk: the write fails with
        // EFBIG instead of killing the process.
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim {
            512, 512
        };
        if (setrlimit(RLIMIT_FSIZE, &lim) != 0) {
            return 99;
        }
        Parsed p = parse_path(path);
        if (p.status != NBT_OK) {
            return 98;
        }
        return exit_code(nbt_write(p.doc.get(), path.c_str()));
    });
    EXPECT_EQ(code, exit_code(NBT_ERR));
    EXPECT_EQ(read_file(path), old);
    EXPECT_EQ(other_files(dir, {"c.0.0.dat"}), std::vector<std::string>{});
}

TEST(Write, ReadOnlyTargetIsRefused) {
    TempDir dir;
    const std::string path = dir.file("ro.nbt");
    const Bytes old = gzip_bytes({0x0A, 0x00, 0x00, 0x00});
    write_file(path, old);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    const bool root = geteuid() == 0;
    if (root) {
        if (!can_run_as_nobody()) {
            GTEST_SKIP() << "root cannot drop to an unprivileged user here";
        }
        // The folder stays writable: only the file's own bits may refuse.
        ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    }
    int code = in_child([&] {
        if (root &&
            (setgroups(0, nullptr) != 0 || setgid(kNobodyGid) != 0 || setuid(kNobodyUid) != 0)) {
            return 99;
        }
        NbtFilePtr doc = document_with(new_compound("new"));
        return exit_code(nbt_write(doc.get(), path.c_str()));
    });
    EXPECT_EQ(code, exit_code(NBT_EGZ));
    EXPECT_EQ(read_file(path), old);
    EXPECT_EQ(other_files(dir, {"ro.nbt"}), std::vector<std::string>{});
}

// ---- Stream-level steps on a stream the caller opened ----

TEST(WriteStream, StepsAppendTheirFieldsAndCountThem) {
    TempDir dir;
    const std::string path = dir.file("stream.nbt");
    gzFile fp = gzopen(path.c_str(), "wb");
    ASSERT_NE(fp, nullptr);
    nbt_file doc{};
    doc.fp = fp;

    char b = -2;
    int16_t s = 0x0102;
    int32_t i = -2;
    int64_t l = 0x0102030405060708;
    uint32_t fbits = 0x7F800001;
    float f;
    std::memcpy(&f, &fbits, 4);
    uint64_t dbits = 0x7FF0000000000001;
    double d;
    std::memcpy(&d, &dbits, 8);
    char text[] = "hey";
    unsigned char content[] = {9, 8};
    nbt_byte_array ba{2, content};
    TagPtr list(new_list("l", TAG_SHORT));
    nbt_cast_list(list.get())->length = -1;
    TagPtr comp(new_compound("c"));
    std::string too_long(32768, 'x');

    EXPECT_EQ(nbt_write_byte(&doc, &b), 1);
    EXPECT_EQ(nbt_write_short(&doc, &s), 2);
    EXPECT_EQ(nbt_write_int(&doc, &i), 4);
    EXPECT_EQ(nbt_write_long(&doc, &l), 8);
    EXPECT_EQ(nbt_write_float(&doc, &f), 4);
    EXPECT_EQ(nbt_write_double(&doc, &d), 8);
    EXPECT_EQ(nbt_write_string(&doc, text), 5);
    EXPECT_EQ(nbt_write_string(&doc, too_long.data()), NBT_ERR);
    EXPECT_EQ(nbt_write_byte_array(&doc, &ba), 6);
    EXPECT_EQ(nbt_write_list(&doc, nbt_cast_list(list.get())), 5);
    EXPECT_EQ(nbt_write_compound(&doc, nbt_cast_compound(comp.get())), 1);
    EXPECT_EQ(nbt_write_tag(&doc, comp.get()), 5);
    EXPECT_EQ(nbt_write_tag(&doc, nullptr), NBT_ERR);
    EXPECT_EQ(nbt_write_value(&doc, TAG_END, &b), 0);
    EXPECT_EQ(nbt_write_value(&doc, static_cast<nbt_type>(42), &b), 0);
    EXPECT_EQ(nbt_write_value(&doc, TAG_SHORT, &s), 2);
    ASSERT_EQ(gzclose(fp), Z_OK);

    const Bytes want = {
        0xFE,                                           // byte -2
        0x01, 0x02,                                     // short
        0xFF, 0xFF, 0xFF, 0xFE,                         // int -2
        0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, // long
        0x7F, 0x80, 0x00, 0x01,                         // float, signalling NaN
        0x7F, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, // double, signalling NaN
        0x00, 0x03, 0x68, 0x65, 0x79,                   // string "hey"
        0x00, 0x00, 0x00, 0x02, 0x09, 0x08,             // byte array
        0x02, 0xFF, 0xFF, 0xFF, 0xFF,                   // list of shorts, count -1
        0x00,                                           // empty compound payload
        0x0A, 0x00, 0x01, 0x63, 0x00,                   // compound tag "c"
        0x01, 0x02,                                     // short through nbt_write_value
    };
    EXPECT_EQ(gunzip_file(path), want);
    // Nothing in memory was reversed by writing.
    EXPECT_EQ(s, 0x0102);
    EXPECT_EQ(l, 0x0102030405060708);
    uint32_t after;
    std::memcpy(&after, &f, 4);
    EXPECT_EQ(after, 0x7F800001u);
}

} // namespace
