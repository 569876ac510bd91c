// Inputs that the fuzzer once found troublesome, kept as regression cases in
// tests/data/fuzz-regressions/. The extension of each file names the status
// nbt_parse must give: ".ok" (then the tree must also survive a write and a
// second read unchanged) or ".err". Leaks show up under the sanitizer build.
#include "support/files.h"
#include "support/nbt_tree_equal.h"
#include "support/temp_dir.h"
#include "support/world_check.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

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
        if (ext == ".err") {
            EXPECT_EQ(status, NBT_ERR);
            EXPECT_EQ(doc, nullptr);
            continue;
        }
        ASSERT_EQ(status, NBT_OK);
        const std::string copy = out.file("copy.nbt");
        ASSERT_GE(nbt_write(doc.get(), copy.c_str()), 0);
        NbtDoc again = parse_nbt_file(copy, &status);
        ASSERT_EQ(status, NBT_OK);
        EXPECT_EQ(nbt_tree_difference(doc->root, again->root), "");
    }
}

} // namespace
