// lodecast-restore: puts every file of a backup folder (lodecast -backup)
// back at its place in the world, one file at a time, each atomically.
#include "lodecast/living/backup.h"
#include "lodecast/pipeline/output.h"
#include "lodecast/run/std_fds.h"
#include "nbt/nbt_io.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char restore_usage[] =
    "Usage: lodecast-restore <backup dir> <world dir>\n"
    "Puts every file that lodecast -backup kept in <backup dir> back into the world,\n"
    "at the same relative path, each one replaced atomically. Stop the game first:\n"
    "the restore takes no session lock. The backup folder is left as it is.\n"
    "Exit status: 0 when every file was restored, 1 otherwise.\n";

// The backup's files by relative path, in name order; temporary files of
// a copy cut short (their names begin with a dot) are not the world's.
bool backed_up_files(const fs::path &dir, std::vector<std::string> &out, std::string &error) {
    std::error_code ec;
    fs::recursive_directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') {
            if (it->is_directory(ec)) {
                it.disable_recursion_pending();
            }
            continue;
        }
        if (it->is_regular_file(ec)) {
            out.push_back(fs::relative(it->path(), dir, ec).string());
        }
    }
    if (ec) {
        error = ec.message();
        return false;
    }
    std::sort(out.begin(), out.end());
    return true;
}

} // namespace

int main(int argc, char **argv) {
    open_missing_std_fds();
    if (const int status = answer_help_or_version(argc, argv, "lodecast-restore", restore_usage);
        status >= 0) {
        return status;
    }
    if (argc != 3) {
        std::fputs(restore_usage, stderr);
        return 1;
    }
    const std::string backup = argv[1];
    const std::string world = argv[2];
    std::error_code ec;
    if (!fs::is_directory(world, ec)) {
        std::fprintf(stderr, "lodecast-restore: %s is not a world folder\n", shown(world).c_str());
        return 1;
    }
    std::vector<std::string> files;
    std::string error;
    if (!fs::is_directory(backup, ec) || !backed_up_files(backup, files, error)) {
        std::fprintf(stderr, "lodecast-restore: cannot read backup folder %s%s%s\n",
                     shown(backup).c_str(), error.empty() ? "" : ": ", error.c_str());
        return 1;
    }
    int status = 0;
    size_t restored = 0;
    for (const std::string &rel : files) {
        error.clear();
        const std::string dest = world + "/" + rel;
        if (!make_parents(dest) || !put_in_place(backup + "/" + rel, dest, error)) {
            std::fprintf(stderr, "lodecast-restore: cannot restore %s: %s\n", shown(rel).c_str(),
                         error.empty() ? "cannot create its folder" : error.c_str());
            status = 1;
            continue;
        }
        std::printf("restored %s\n", shown(rel).c_str());
        ++restored;
    }
    // Each rename is atomic; one sync of the file system makes them last.
    (void)nbt_sync_folder(world.c_str(), 1, nullptr);
    std::printf("%zu of %zu files restored into %s\n", restored, files.size(),
                shown(world).c_str());
    return close_stdout() ? status : 1;
}
