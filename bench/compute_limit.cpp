// compute_limit <world dir>
//
// The least CPU any tool that rewrites every chunk of a world at the default
// level can spend per chunk: every chunk document is read into memory first
// (not timed), then, timed, on one thread, each is decompressed with
// libdeflate and compressed again at level 6 in the same container (gzip
// for chunk files, zlib for region records). Nothing is parsed, written or
// synced, so the figure does not move with the disk; bench/world-bench
// divides the tool's times by it.
//
// Prints "<n> chunks, <ms> ms per chunk (compute limit; CPU <ms> ms per
// chunk; ...)" on standard output;
// exit status 1 when a document does not decompress.
#include "lodecast/formats/region_file.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <libdeflate.h>
#include <string>
#include <system_error>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct document {
    bool gzip; // else zlib
    std::vector<unsigned char> bytes;
};

std::vector<unsigned char> read_file(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
}

// The region files the tool walks: .mca in a sectioned world, else .mcr.
std::vector<fs::path> region_files(const fs::path &world) {
    std::vector<fs::path> mcr, mca;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(world / "region", ec)) {
        (e.path().extension() == ".mca" ? mca : mcr).push_back(e.path());
    }
    return mca.empty() ? mcr : mca;
}

bool load_region(const fs::path &p, std::vector<document> &docs) {
    const int fd = open(p.c_str(), O_RDONLY | O_CLOEXEC);
    region::reader in;
    const bool opened = fd >= 0 && in.open(fd) == region::open_result::ok;
    region::record rec;
    for (int slot = 0; opened && slot < region::slot_count; ++slot) {
        if (in.state(slot) == region::status::ok &&
            in.read_record(slot, rec) == region::status::ok) {
            docs.push_back({rec.compression == region::compression_gzip, rec.bytes});
        }
    }
    if (fd >= 0) {
        close(fd);
    }
    return opened;
}

// Chunk files where the tool looks for them: two folder levels down.
void load_chunk_files(const fs::path &world, std::vector<document> &docs) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(world, ec), end; !ec && it != end; it.increment(ec)) {
        if (it.depth() == 2 && it->is_regular_file() &&
            it->path().filename().string().rfind("c.", 0) == 0) {
            docs.push_back({true, read_file(it->path())});
        }
    }
}

// This thread's CPU time: on a busy machine it moves less than the clock.
double thread_cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: %s <world dir>\n", argv[0]);
        return 1;
    }
    std::vector<document> docs;
    const std::vector<fs::path> regions = region_files(argv[1]);
    for (const fs::path &p : regions) {
        if (!load_region(p, docs)) {
            std::fprintf(stderr, "Could not read %s\n", p.c_str());
            return 1;
        }
    }
    if (regions.empty()) {
        load_chunk_files(argv[1], docs);
    }

    libdeflate_decompressor *d = libdeflate_alloc_decompressor();
    libdeflate_compressor *c = libdeflate_alloc_compressor(6);
    if (d == nullptr || c == nullptr) {
        std::fprintf(stderr, "Out of memory\n");
        return 1;
    }
    // Reused from chunk to chunk, as a tool would.
    std::vector<unsigned char> plain(1 << 20), packed;
    size_t bytes_out = 0;
    int failed = 0;
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = thread_cpu_ms();
    for (const document &doc : docs) {
        size_t got = 0;
        libdeflate_result r;
        for (;;) {
            r = doc.gzip ? libdeflate_gzip_decompress(d, doc.bytes.data(), doc.bytes.size(),
                                                      plain.data(), plain.size(), &got)
                         : libdeflate_zlib_decompress(d, doc.bytes.data(), doc.bytes.size(),
                                                      plain.data(), plain.size(), &got);
            if (r != LIBDEFLATE_INSUFFICIENT_SPACE || plain.size() >= (size_t{64} << 20)) {
                break;
            }
            plain.resize(2 * plain.size());
        }
        if (r != LIBDEFLATE_SUCCESS) {
            ++failed;
            continue;
        }
        const size_t bound = doc.gzip ? libdeflate_gzip_compress_bound(c, got)
                                      : libdeflate_zlib_compress_bound(c, got);
        if (packed.size() < bound) {
            packed.resize(bound);
        }
        bytes_out +=
            doc.gzip ? libdeflate_gzip_compress(c, plain.data(), got, packed.data(), packed.size())
                     : libdeflate_zlib_compress(c, plain.data(), got, packed.data(), packed.size());
    }
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    const double cpu = thread_cpu_ms() - cpu_start;
    libdeflate_free_compressor(c);
    libdeflate_free_decompressor(d);
    if (failed != 0) {
        std::fprintf(stderr, "%d documents did not decompress\n", failed);
    }
    const size_t n = docs.size() - static_cast<size_t>(failed);
    const double per = n == 0 ? 0.0 : 1.0 / static_cast<double>(n);
    std::printf("%zu chunks, %.4f ms per chunk (compute limit; CPU %.4f ms per chunk; %zu bytes "
                "out)\n",
                n, took.count() * per, cpu * per, bytes_out);
    return failed == 0 ? 0 : 1;
}
