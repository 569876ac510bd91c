// Inputs that the fuzzer once found troublesome, kept as regression cases in
// tests/data/fuzz-regressions/. The extension of each file names the status
// nbt_parse must give: ".ok" (then the tree must also survive a write and a
// second read unchanged) or ".err"; the stream-level reader must give the
// same status and tree. Leaks show up under the sanitizer build.
#include "support/files.h"
#include "support/nbt_tree_equal.h"
#include "support/temp_dir.h"
#include "support/world_check.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <utility>
#include <zlib.h>

namespace fs = std::filesystem;

namespace {

struct TagFree {
    void operator()(nbt_tag *t) const { nbt_free_tag(t); }
};
using TagPtr = std::unique_ptr<nbt_tag, TagFree>;

// Reads the file at path through the stream-level reader: nbt_read_tag on
// a gzip stream opened here. The status and the tag read (null on failure).
std::pair<int, TagPtr> stream_read(const std::string &path) {
    gzFile gz = gzopen(path.c_str(), "rb");
    if (gz == nullptr) {
        return {NBT_EGZ, nullptr};
    }
    nbt_file handle{gz, nullptr};
    TagPtr tag(static_cast<nbt_tag *>(std::calloc(1, sizeof(nbt_tag))));
    nbt_tag *raw = tag.get();
    const int status = nbt_read_tag(&handle, &raw);
    gzclose(gz);
    return {status < 0 ? status : NBT_OK, status < 0 ? nullptr : std::move(tag)};
}

std::vector<fs::path> regression_files() {
    std::vector<fs::path> files;
    for (const auto &e :
         fs::directory_iterator(std::string(LODECAST_TEST_DATA) + "/fuzz-regressions")) {
        files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(FuzzRegression, EveryKeptInputGivesItsStatus) {
    const std::vector<fs::path> files = regression_files();
    ASSERT_FALSE(files.empty());
    TempDir out;
    for (const fs::path &file : files) {
        SCOPED_TRACE(file.filename().string());
        const std::string ext = file.extension().string();
        ASSERT_TRUE(ext == ".ok" || ext == ".err") << "name the expected status";
        int status = 0;
        NbtDoc doc = parse_nbt_file(file.string(), &status);
        // The stream-level reader shares the parser and must agree.
        auto [stream_status, stream_tag] = stream_read(file.string());
        if (ext == ".err") {
            EXPECT_EQ(status, NBT_ERR);
            EXPECT_EQ(doc, nullptr);
            EXPECT_EQ(stream_status, NBT_ERR);
            continue;
        }
        ASSERT_EQ(status, NBT_OK);
        ASSERT_EQ(stream_status, NBT_OK);
        EXPECT_EQ(nbt_tree_difference(doc->root, stream_tag.get()), "");
        const std::string copy = out.file("copy.nbt");
        ASSERT_GE(nbt_write(doc.get(), copy.c_str()), 0);
        NbtDoc again = parse_nbt_file(copy, &status);
        ASSERT_EQ(status, NBT_OK);
        EXPECT_EQ(nbt_tree_difference(doc->root, again->root), "");
    }
}

TEST(FuzzRegression, ListsOfCompoundsNeedAByteEach) {
    // An empty compound as a list element takes at least its end byte;
    // past the end of the data it would take none, so a few bytes could
    // declare millions of them. Both readers refuse a count larger than the
    // bytes that remain after the count, also the stream reader, which
    // cannot know the length ahead.
    struct Case {
        const char *label;
        Bytes data;
        int status;
    };
    const Bytes head = {
        0x0A, 0x00, 0x00,      // root compound, empty name
        0x09, 0x00, 0x01, 'l', // list "l"
        0x0A,                  // of compounds
    };
    auto with = [&](const Bytes &rest) {
        Bytes b = head;
        b.insert(b.end(), rest.begin(), rest.end());
        return b;
    };
    const std::vector<Case> cases = {
        {"a million compounds, then the end", with({0x00, 0x0F, 0x42, 0x40}), NBT_ERR},
        {"2^31-1 compounds, then the end", with({0x7F, 0xFF, 0xFF, 0xFF}), NBT_ERR},
        {"three compounds, two end bytes", with({0x00, 0x00, 0x00, 0x03, 0x00, 0x00}), NBT_ERR},
        {"two compounds, two end bytes, the root's end",
         with({0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00}), NBT_OK},
        // One compound holding a byte, cut short, and a second one past the
        // end: refused like the cut right after the count.
        {"a compound cut short, then one past the end",
         with({0x00, 0x00, 0x00, 0x02, 0x01, 0x00, 0x01, 'b', 0x05}), NBT_ERR},
    };
    TempDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        const std::string path = dir.file("doc.nbt");
        write_gzip_file(path, c.data);
        int status = 0;
        NbtDoc doc = parse_nbt_file(path, &status);
        EXPECT_EQ(status, c.status);
        auto [stream_status, tag] = stream_read(path);
        EXPECT_EQ(stream_status, c.status);
        if (doc != nullptr && tag != nullptr) {
            EXPECT_EQ(nbt_tree_difference(doc->root, tag.get()), "");
        }
    }
}

} // namespace
