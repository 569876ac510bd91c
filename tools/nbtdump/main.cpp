// nbtdump: prints NBT files (gzip-compressed or plain) as an indented tree on
// standard output, one after the other, with the library's tree printer.
#include "escaped_tree.h"
#include "lodecast/pipeline/file_problem.h"
#include "lodecast/run/std_fds.h"
#include "nbt/nbt.hpp"
#include "region_dump.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char usage_text[] = "Usage: nbtdump [--chunk <x>,<z>] [--max-array <n>] [--] <file>...\n"
                          "Prints each NBT file (gzip-compressed or plain) as an indented tree\n"
                          "on standard output, one file after the other, with nothing between.\n"
                          "A region file (r.<x>.<z>.mcr or .mca) is printed chunk by chunk,\n"
                          "an external chunk file (c.<x>.<z>.mcc) as its chunk.\n"
                          "A file that cannot be read gets one line on standard error.\n"
                          "  --chunk <x>,<z>  in region files (.mcr, .mca), only that chunk\n"
                          "  --max-array <n>  print the first n elements of each array, then\n"
                          "                   \"... (<count> more)\"\n"
                          "  --               every following argument is a file\n"
                          "  -h, --help       this text\n"
                          "  --version        the version and the compression library\n"
                          "Exit status: 0 when every file was printed, 1 when one or more could\n"
                          "not be read, 2 when no file was given.\n";

using nbt_file_ptr = nbt::document;

// Print one file; 0 when printed, 1 after a message on standard error.
int dump_file(const char *path, const nbtdump::print_options &opt) {
    if (opt.one_chunk) {
        std::fprintf(stderr, "nbtdump: %s: --chunk picks a chunk of a region file (.mcr, .mca)\n",
                     path);
        return 1;
    }
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
        std::fprintf(stderr, "nbtdump: %s: %s\n", path, nbt_status_name(NBT_EMEM));
        return 1;
    }
    if (file->root != nullptr) {
        nbt_print_tag_short(file->root, 0, opt.max_array);
    }
    // Keep the tree on stdout ahead of a later file's message on stderr.
    std::fflush(stdout);
    return 0;
}

// "<x>,<z>": two decimal 32-bit integers.
bool parse_chunk(const char *text, nbtdump::print_options &opt) {
    long long x = 0, z = 0;
    int used = 0;
    if (std::sscanf(text, "%lld,%lld%n", &x, &z, &used) != 2 || text[used] != '\0' ||
        x < INT32_MIN || x > INT32_MAX || z < INT32_MIN || z > INT32_MAX) {
        return false;
    }
    opt.one_chunk = true;
    opt.x = static_cast<int32_t>(x);
    opt.z = static_cast<int32_t>(z);
    return true;
}

bool parse_count(const char *text, nbtdump::print_options &opt) {
    char *end = nullptr;
    errno = 0;
    const long n = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || n < 0 || n > INT32_MAX) {
        return false;
    }
    opt.max_array = static_cast<int32_t>(n);
    return true;
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
    nbtdump::print_options opt;
    for (; first < argc; first += 2) {
        const bool chunk = std::strcmp(argv[first], "--chunk") == 0;
        if (!chunk && std::strcmp(argv[first], "--max-array") != 0) {
            break;
        }
        if (first + 1 >= argc ||
            !(chunk ? parse_chunk(argv[first + 1], opt) : parse_count(argv[first + 1], opt))) {
            std::fprintf(stderr, "nbtdump: %s needs %s\n%s", argv[first],
                         chunk ? "<x>,<z> (chunk coordinates)" : "a count 0 or more", usage_text);
            return 2;
        }
    }
    if (first < argc && std::strcmp(argv[first], "--") == 0) {
        ++first;
    }
    if (first >= argc) {
        std::fputs(usage_text, stderr);
        return 2;
    }
    int result = 0;
    for (int i = first; i < argc; ++i) {
        result |= nbtdump::is_region_file(argv[i])     ? nbtdump::dump_region(argv[i], opt)
                  : nbtdump::is_external_file(argv[i]) ? nbtdump::dump_external(argv[i], opt)
                                                       : dump_file(argv[i], opt);
    }
    if (!close_stdout()) {
        std::fprintf(stderr, "nbtdump: cannot write standard output: %s\n", std::strerror(errno));
        result = 1;
    }
    return result;
}
