// compression_floor <world dir>
//
// The least work a run over a world can do while still rewriting every
// chunk file safely: read the file, decompress it, compress it again (same
// library and level as the tool), write a temporary file beside it, sync it
// and rename it over the chunk. One thread, no parsing, no veins. The tool's
// time per chunk is measured against this one.
//
// Prints the number of chunk files and the time per chunk on standard
// output; exit status 1 when a file could not be rewritten.
#include "nbt/byte_buffer.h"
#include "nbt/gzip_codec.h"
#include "nbt/nbt.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using nbt_detail::ByteBuffer;

namespace {

// Chunk files where the tool looks for them: two folder levels down.
std::vector<std::string> chunk_files(const fs::path &world) {
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(world, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (it.depth() == 2 && it->is_regular_file() && name.rfind("c.", 0) == 0) {
            files.push_back(it->path().string());
        }
    }
    return files;
}

bool write_all(int fd, const unsigned char *p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w <= 0) {
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

bool rewrite(const std::string &path, ByteBuffer &plain, ByteBuffer &packed) {
    plain.clear();
    packed.clear();
    if (nbt_detail::read_gzip_file(path.c_str(), plain) != NBT_OK ||
        nbt_detail::gzip_encode(plain.data(), plain.size(), packed) != NBT_OK) {
        return false;
    }
    const fs::path p(path);
    std::string tmp = p.parent_path().string();
    tmp += "/.";
    tmp += p.filename().string();
    tmp += ".XXXXXX";
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool ok = write_all(fd, packed.data(), packed.size()) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
    }
    return ok;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: %s <world dir>\n", argv[0]);
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    const std::vector<std::string> files = chunk_files(argv[1]);
    ByteBuffer plain;
    ByteBuffer packed;
    int failed = 0;
    for (const std::string &f : files) {
        if (!rewrite(f, plain, packed)) {
            std::fprintf(stderr, "Could not rewrite %s\n", f.c_str());
            ++failed;
        }
    }
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    std::printf("%zu chunks, %.3f ms per chunk (%s)\n", files.size(),
                files.empty() ? 0.0 : took.count() / static_cast<double>(files.size()),
                nbt_detail::libdeflate_available() ? "libdeflate" : "zlib");
    return failed == 0 ? 0 : 1;
}
