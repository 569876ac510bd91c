// Small worlds on disk for the tests that run the tool on them.
#ifndef TESTS_LODECAST_WORLD_BUILDER_H
#define TESTS_LODECAST_WORLD_BUILDER_H

#include "support/chunk_bytes.h"
#include "support/files.h"
#include "support/run.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace world_test {

namespace fs = std::filesystem;

// Write the chunk document of (x, z), gzip-compressed, at root/rel,
// creating the folders on the way. Returns the full path.
inline std::string put_chunk(const fs::path &root, const std::string &rel, int32_t x, int32_t z) {
    const fs::path p = root / rel;
    fs::create_directories(p.parent_path());
    write_gzip_file(p.string(), make_chunk_document(x, z));
    return p.string();
}

inline void set_mtime(const std::string &path, time_t seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        throw std::runtime_error("utimensat failed on " + path);
    }
}

// The chunks a -v run reported updating, in sorted order (the walk follows
// the order of the directory listings, which the tests do not rely on).
inline std::vector<std::string> updated_chunks(const std::string &err) {
    const std::string head = "Updating chunk ";
    const std::string tail = "...";
    std::vector<std::string> out;
    for (const std::string &line : lines_of(err)) {
        if (line.rfind(head, 0) == 0 && line.size() >= head.size() + tail.size() &&
            line.compare(line.size() - tail.size(), tail.size(), tail) == 0) {
            out.push_back(line.substr(head.size(), line.size() - head.size() - tail.size()));
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

#ifdef LODECAST_EXE
inline RunResult run_tool(const std::vector<std::string> &args) {
    return run_program(LODECAST_EXE, args);
}
#endif

} // namespace world_test

#endif
