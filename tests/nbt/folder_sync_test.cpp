// The folder sync after a file replacement: on by default, off for a caller
// that syncs its folders itself, kept for a write through a link into
// another folder; and the mode of a new file, read without touching the
// process's umask.

#include "nbt/atomic_file.h"
#include "nbt_file_helpers.h"
#include "support/files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Restores the switch however the test ends.
class FolderSyncSetting {
  public:
    explicit FolderSyncSetting(bool on) : before_(nbt_detail::folder_sync_enabled()) {
        nbt_detail::set_folder_sync(on);
    }
    ~FolderSyncSetting() { nbt_detail::set_folder_sync(before_); }
    FolderSyncSetting(const FolderSyncSetting &) = delete;
    FolderSyncSetting &operator=(const FolderSyncSetting &) = delete;

  private:
    bool before_;
};

// Folder syncs attempted while f runs.
template <typename F> unsigned long syncs_during(F f) {
    const unsigned long before = nbt_detail::folder_syncs_attempted();
    f();
    return nbt_detail::folder_syncs_attempted() - before;
}

// A document holding one compound named name with an int.
NbtFilePtr small_document(const char *name, int32_t value) {
    nbt_tag *root = nullptr;
    nbt_tag *number = nullptr;
    EXPECT_EQ(nbt_new_compound(&root, name), 0);
    EXPECT_EQ(nbt_new_int(&number, "n"), 0);
    EXPECT_EQ(nbt_set_int(number, value), 0);
    EXPECT_NE(nbt_add_tag(number, root), nullptr);
    return document_with(root);
}

int32_t read_back_int(const std::string &path) {
    Parsed p = parse_path(path);
    EXPECT_EQ(p.status, NBT_OK) << path;
    if (p.root() == nullptr) {
        return -1;
    }
    nbt_tag *n = nbt_find_tag_by_name("n", p.root());
    return n == nullptr ? -1 : *nbt_cast_int(n);
}

TEST(FolderSync, OnByDefaultEveryWriteSyncsItsFolder) {
    ASSERT_TRUE(nbt_detail::folder_sync_enabled());
    TempDir dir;
    NbtFilePtr doc = small_document("", 7);
    const std::string path = dir.file("a.nbt");
    EXPECT_EQ(syncs_during([&] { EXPECT_GT(nbt_write(doc.get(), path.c_str()), 0); }), 1u);
    EXPECT_EQ(syncs_during([&] { EXPECT_GT(nbt_write(doc.get(), path.c_str()), 0); }), 1u);
    EXPECT_EQ(read_back_int(path), 7);
}

TEST(FolderSync, TurnedOffWritesStillReplaceFilesWhole) {
    TempDir dir;
    FolderSyncSetting off(false);
    EXPECT_FALSE(nbt_detail::folder_sync_enabled());
    const std::string path = dir.file("b.nbt");
    write_file(path, {'o', 'l', 'd'});
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    // A new file and an existing one, written several times over.
    for (int32_t value : {1, 2, 3}) {
        NbtFilePtr doc = small_document("", value);
        EXPECT_EQ(syncs_during([&] {
                      EXPECT_GT(nbt_write(doc.get(), path.c_str()), 0);
                      EXPECT_GT(nbt_write(doc.get(), dir.file("new.nbt").c_str()), 0);
                  }),
                  0u);
        EXPECT_EQ(read_back_int(path), value);
        EXPECT_EQ(read_back_int(dir.file("new.nbt")), value);
    }
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    // Only the two files: no temporary file stays behind.
    int entries = 0;
    for (const auto &e : fs::directory_iterator(dir.path())) {
        EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
        ++entries;
    }
    EXPECT_EQ(entries, 2);
}

TEST(FolderSync, SwitchingBackOnSyncsAgain) {
    TempDir dir;
    NbtFilePtr doc = small_document("", 5);
    const std::string path = dir.file("c.nbt");
    {
        FolderSyncSetting off(false);
        EXPECT_EQ(syncs_during([&] { EXPECT_GT(nbt_write(doc.get(), path.c_str()), 0); }), 0u);
    }
    EXPECT_TRUE(nbt_detail::folder_sync_enabled());
    EXPECT_EQ(syncs_during([&] { EXPECT_GT(nbt_write(doc.get(), path.c_str()), 0); }), 1u);
}

TEST(FolderSync, AFailedWriteSyncsNothing) {
    TempDir dir;
    NbtFilePtr doc = small_document("", 5);
    const std::string missing = dir.file("no/such/folder/d.nbt");
    EXPECT_EQ(syncs_during([&] { EXPECT_EQ(nbt_write(doc.get(), missing.c_str()), NBT_EGZ); }), 0u);
}

TEST(FolderSync, ALinkIntoAnotherFolderSyncsThatFolderEvenWhenOff) {
    // The caller syncs the folder of the path it gave; the rename happened
    // in the folder the link leads to, which only the writer knows.
    TempDir dir;
    fs::create_directories(dir.path() / "elsewhere");
    fs::create_directories(dir.path() / "here");
    const std::string real = (dir.path() / "elsewhere" / "e.nbt").string();
    const std::string link = (dir.path() / "here" / "e.nbt").string();
    write_file(real, {0});
    ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
    FolderSyncSetting off(false);
    NbtFilePtr doc = small_document("", 9);
    EXPECT_EQ(syncs_during([&] { EXPECT_GT(nbt_write(doc.get(), link.c_str()), 0); }), 1u);
    EXPECT_EQ(read_back_int(real), 9);
    EXPECT_TRUE(fs::is_symlink(link));
    // A link to a file beside it renames in the caller's own folder.
    const std::string local_real = (dir.path() / "here" / "f.nbt").string();
    write_file(local_real, {0});
    ASSERT_EQ(symlink("f.nbt", (dir.path() / "here" / "g.nbt").c_str()), 0);
    const std::string here = (dir.path() / "here").string();
    // Written with the folder as the link's resolved path spells it.
    const std::string canonical = fs::canonical(here).string() + "/g.nbt";
    EXPECT_EQ(syncs_during([&] { EXPECT_GT(nbt_write(doc.get(), canonical.c_str()), 0); }), 0u);
    EXPECT_EQ(read_back_int(local_real), 9);
}

TEST(FolderSync, SyncFolderReportsWhetherItSynced) {
    TempDir dir;
    const std::string file = dir.file("plain");
    write_file(file, {1});
    struct Case {
        std::string path;
        bool ok;
    } cases[] = {
        {dir.path().string(), true},
        {".", true},
        {dir.file("missing"), false},
        {file, false}, // not a folder
        {"", false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(syncs_during([&] {
                      EXPECT_EQ(nbt_detail::sync_folder(c.path.c_str()), c.ok)
                          << "'" << c.path << "'";
                  }),
                  1u);
    }
}

TEST(FolderSync, NewFilesFollowTheUmaskOfTheMomentAndLeaveItAlone) {
    TempDir dir;
    NbtFilePtr doc = small_document("", 1);
    const mode_t saved = umask(022);
    struct Case {
        mode_t mask;
        mode_t mode;
    } cases[] = {{022, 0644}, {027, 0640}, {077, 0600}, {002, 0644}, {0, 0644}};
    int i = 0;
    for (const Case &c : cases) {
        const std::string path = dir.file("fresh" + std::to_string(i++) + ".nbt");
        umask(c.mask);
        const int written = nbt_write(doc.get(), path.c_str());
        // Reading the umask back shows whether the write changed it.
        const mode_t after = umask(c.mask);
        EXPECT_GT(written, 0);
        EXPECT_EQ(after, c.mask);
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.mode) << "umask " << std::oct << c.mask;
    }
    umask(saved);
}

} // namespace
