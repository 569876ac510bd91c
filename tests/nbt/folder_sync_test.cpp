// Which syncs a file replacement makes under each durability, counted by
// an injected sync function: the file before its rename, its folder after
// it, a link's folder where the caller cannot know it; and the mode of a
// new file, read without touching the process's umask.

#include "durable/durable.h"
#include "nbt/nbt_io.h"
#include "nbt_file_helpers.h"
#include "support/files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <fcntl.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Every sync asked for: the folder's path for a folder, "file" for a file.
struct SyncLog {
    std::vector<std::string> synced;
    durable_policy durability(int file, int folder) {
        return {file, folder, &SyncLog::record, this};
    }
    static int record(int fd, void *context) {
        struct stat st {};
        std::string what = "file";
        if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            what = fs::read_symlink("/proc/self/fd/" + std::to_string(fd)).string();
        }
        static_cast<SyncLog *>(context)->synced.push_back(what);
        return fsync(fd);
    }
};

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

TEST(FolderSync, EachDurabilitySyncsWhatItNames) {
    TempDir dir;
    const std::string path = dir.file("a.nbt");
    const std::string folder = fs::canonical(dir.path()).string();
    struct Case {
        int file, folder;
        std::vector<std::string> synced;
    } cases[] = {
        {1, 1, {"file", folder}},
        {1, 0, {"file"}},
        {0, 1, {folder}},
        {0, 0, {}},
    };
    for (const Case &c : cases) {
        for (const bool existed : {false, true}) {
            if (!existed) {
                unlink(path.c_str());
            }
            SyncLog log;
            const durable_policy d = log.durability(c.file, c.folder);
            ASSERT_EQ(durable_replace_file(path.c_str(), "new", 3, &d, nullptr), DURABLE_OK);
            EXPECT_EQ(log.synced, c.synced) << c.file << c.folder << existed;
            EXPECT_EQ(read_file(path), (Bytes{'n', 'e', 'w'}));
        }
    }
    // Only the file: no temporary file stays behind.
    int entries = 0;
    for (const auto &e : fs::directory_iterator(dir.path())) {
        EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(FolderSync, AFailedReplacementSyncsNothingAndLeavesNothing) {
    TempDir dir;
    SyncLog log;
    const durable_policy d = log.durability(1, 1);
    const std::string missing = dir.file("no/such/folder/d.nbt");
    EXPECT_EQ(durable_replace_file(missing.c_str(), "x", 1, &d, nullptr), DURABLE_EDENIED);
    // A staged file that is discarded is removed.
    durable_staged *s = nullptr;
    ASSERT_EQ(durable_stage_open(dir.file("e.nbt").c_str(), &s, nullptr), DURABLE_OK);
    ASSERT_EQ(durable_stage_write(s, "abc", 3), DURABLE_OK);
    ASSERT_EQ(durable_stage_sync(s, &d), DURABLE_OK);
    durable_stage_discard(s);
    EXPECT_EQ(log.synced, std::vector<std::string>{"file"});
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(FolderSync, ALinkIntoAnotherFolderSyncsThatFolderWithTheFile) {
    // The caller syncs the folder of the path it gave; the rename happened
    // in the folder the link leads to, which only the writer knows.
    TempDir dir;
    fs::create_directories(dir.path() / "elsewhere");
    fs::create_directories(dir.path() / "here");
    const std::string real = (dir.path() / "elsewhere" / "e.nbt").string();
    const std::string link = (dir.path() / "here" / "e.nbt").string();
    write_file(real, {0});
    ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
    const std::string elsewhere = fs::canonical(dir.path() / "elsewhere").string();
    struct Case {
        int file, folder;
        std::vector<std::string> synced;
    } cases[] = {{1, 0, {"file", elsewhere}}, {0, 0, {}}, {1, 1, {"file", elsewhere}}};
    for (const Case &c : cases) {
        SyncLog log;
        const durable_policy d = log.durability(c.file, c.folder);
        ASSERT_EQ(durable_replace_file(link.c_str(), "ln", 2, &d, nullptr), DURABLE_OK);
        EXPECT_EQ(log.synced, c.synced) << c.file << c.folder;
    }
    EXPECT_EQ(read_file(real), (Bytes{'l', 'n'}));
    EXPECT_TRUE(fs::is_symlink(link));
    // A link to a file beside it renames in the caller's own folder.
    write_file((dir.path() / "here" / "f.nbt").string(), {0});
    ASSERT_EQ(symlink("f.nbt", (dir.path() / "here" / "g.nbt").c_str()), 0);
    const std::string canonical = fs::canonical(dir.path() / "here").string() + "/g.nbt";
    SyncLog log;
    const durable_policy d = log.durability(1, 0);
    ASSERT_EQ(durable_replace_file(canonical.c_str(), "g", 1, &d, nullptr), DURABLE_OK);
    EXPECT_EQ(log.synced, std::vector<std::string>{"file"});
}

TEST(FolderSync, SyncFolderReportsWhetherItSynced) {
    TempDir dir;
    const std::string file = dir.file("plain");
    write_file(file, {1});
    struct Case {
        std::string path;
        int filesystem;
        int status;
        size_t synced;
    } cases[] = {
        {dir.path().string(), 0, DURABLE_OK, 1},
        {".", 1, DURABLE_OK, 1},
        {dir.file("missing"), 0, DURABLE_ERR, 0},
        {file, 0, DURABLE_ERR, 0}, // not a folder
        {"", 1, DURABLE_ERR, 0},
    };
    for (const Case &c : cases) {
        SyncLog log;
        const durable_policy d = log.durability(1, 1);
        EXPECT_EQ(durable_sync_folder(c.path.c_str(), c.filesystem, &d), c.status) << c.path;
        EXPECT_EQ(log.synced.size(), c.synced) << c.path;
        EXPECT_EQ(durable_sync_folder(c.path.c_str(), c.filesystem, nullptr), c.status) << c.path;
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

TEST(FolderSync, AStagedFileNeverTakesAStandardDescriptor) {
    // With 0, 1 and 2 closed, open() would hand out 0 first: whatever then
    // writes to standard output or error would write into the file.
    TempDir dir;
    const std::string path = dir.file("f.nbt");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(0);
        close(1);
        close(2);
        durable_staged *s = nullptr;
        bool ok = durable_stage_open(path.c_str(), &s, nullptr) == DURABLE_OK;
        for (int fd = 0; fd < 3; ++fd) {
            ok = ok && fcntl(fd, F_GETFD) == -1;
        }
        ok = ok && durable_stage_write(s, "x", 1) == DURABLE_OK &&
             durable_stage_commit(s, nullptr) == DURABLE_OK;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(read_file(path), (Bytes{'x'}));
}

} // namespace
