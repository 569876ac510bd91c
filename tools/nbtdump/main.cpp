// nbtdump: prints NBT files (gzip-compressed or plain) as an indented tree on
// standard output, one after the other, with the library's tree printer.
#include "escaped_tree.h"
#include "lodecast/pipeline/file_problem.h"
#include "lodecast/run/std_fds.h"
#include "nbt/nbt.hpp"
#include "region_dump.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char usage_text[] = "Usage: nbtdump [--] <file>...\n"
                          "Prints each NBT file (gzip-compressed or plain) as an indented tree\n"
                          "on standard output, one file after the other, with nothing between.\n"
                          "A region file (r.<x>.<z>.mcr or .mca) is printed chunk by chunk,\n"
                          "an external chunk file (c.<x>.<z>.mcc) as its chunk.\n"
                          "A file that cannot be read gets one line on standard error.\n"
                          "  --              every following argument is a file\n"
                          "  -h, --help      this text\n"
                          "  --version       the version and the compression library\n"
                          "Exit status: 0 when every file was printed, 1 when one or more could\n"
                          "not be read, 2 when no file was given.\n";

using nbt_file_ptr = nbt::document;

// Print one file; 0 when printed, 1 after a message on standard error.
int dump_file(const char *path) {
    nbt_file *raw = nullptr;
    if (nbt_init(&raw) != NBT_OK) {
        std::fprintf(stderr, "nbtdump: %s: %s\n", path, nbt_status_name(NBT_EMEM));
        return 1;
    }
    nbt_file_ptr file(raw);
    int status = nbt_parse(file.get(), path);
    if (status != NBT_OK) {
        const std::string why = unreadable_reason(status, errno);
        std::fprintf(stderr, "nbtdump: %s: %s\n", path, why.c_str());
        return 1;
    }
    if (file->root != nullptr && !nbtdump::escape_controls(file->root)) {
        std::fprintf(stderr, "nbtdump: %s: out of memory\n", path);
        return 1;
    }
    if (file->root != nullptr) {
        nbt_print_tag(file->root, 0);
    }
    // Keep the tree on stdout ahead of a later file's message on stderr.
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    open_missing_std_fds();
    if (const int status = answer_help_or_version(argc, argv, "nbtdump", usage_text); status >= 0) {
        return status;
    }
    int first = 1;
    if (argc > 1 && std::strcmp(argv[1], "-h") == 0) {
        std::fputs(usage_text, stdout);
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--") == 0) {
        first = 2;
    }
    if (first >= argc) {
        std::fputs(usage_text, stderr);
        return 2;
    }
    int result = 0;
    for (int i = first; i < argc; ++i) {
        result |= nbtdump::is_region_file(argv[i])     ? nbtdump::dump_region(argv[i])
                  : nbtdump::is_external_file(argv[i]) ? nbtdump::dump_external(argv[i])
                                                       : dump_file(argv[i]);
    }
    if (!close_stdout()) {
        std::fprintf(stderr, "nbtdump: cannot write standard output: %s\n", std::strerror(errno));
        result = 1;
    }
    return result;
}
