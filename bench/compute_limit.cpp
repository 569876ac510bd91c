// compute_limit [-j <threads>] <world dir>
//
// The least CPU any tool that rewrites every chunk of a world at the default
// level can spend per chunk: every chunk document is read into memory first
// (not timed), then, timed, on one thread, each is decompressed with
// libdeflate and compressed again at level 6 in the same container (gzip
// for chunk files, zlib for region records). Nothing is parsed, written or
// synced, so the figure does not move with the disk; bench/world-bench
// divides the tool's times by it.
//
// With -j the documents are shared out among that many threads, each with
// its own compressor: what all cores can reach at best, on this machine as
// loaded as it is now.
//
// Prints "<n> chunks, <ms> ms per chunk (compute limit, <t> threads; CPU
// <ms> ms per chunk; ...)" on standard output;
// exit status 1 when a document does not decompress.
#include "lodecast/formats/region_file.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <libdeflate.h>
#include <string>
#include <system_error>
#include <thread>
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

struct share {
    size_t chunks = 0;
    size_t failed = 0;
    size_t bytes_out = 0;
    double cpu_ms = 0;
};

// Documents first, first + step, ...: decompressed and compressed again.
void run_share(const std::vector<document> &docs, size_t first, size_t step, share &out) {
    const double cpu_start = thread_cpu_ms();
    libdeflate_decompressor *d = libdeflate_alloc_decompressor();
    libdeflate_compressor *c = libdeflate_alloc_compressor(6);
    // Reused from chunk to chunk, as a tool would.
    std::vector<unsigned char> plain(1 << 20), packed;
    for (size_t i = first; d != nullptr && c != nullptr && i < docs.size(); i += step) {
        const document &doc = docs[i];
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
            ++out.failed;
            continue;
        }
        const size_t bound = doc.gzip ? libdeflate_gzip_compress_bound(c, got)
                                      : libdeflate_zlib_compress_bound(c, got);
        if (packed.size() < bound) {
            packed.resize(bound);
        }
        out.bytes_out +=
            doc.gzip ? libdeflate_gzip_compress(c, plain.data(), got, packed.data(), packed.size())
                     : libdeflate_zlib_compress(c, plain.data(), got, packed.data(), packed.size());
        ++out.chunks;
    }
    if (d == nullptr || c == nullptr) {
        out.failed = docs.size(); // out of memory
    }
    libdeflate_free_compressor(c);
    libdeflate_free_decompressor(d);
    out.cpu_ms = thread_cpu_ms() - cpu_start;
}

} // namespace

int main(int argc, char **argv) {
    int threads = 1;
    if (argc == 4 && std::string(argv[1]) == "-j") {
        threads = std::atoi(argv[2]);
        argv += 2;
        argc -= 2;
    }
    if (argc != 2 || threads < 1 || threads > 256) {
        std::fprintf(stderr, "Usage: %s [-j <threads>] <world dir>\n", argv[0]);
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

    // Every thread is started before the clock, and waits for it.
    std::vector<share> shares(static_cast<size_t>(threads));
    std::vector<std::thread> pool;
    std::atomic<bool> go{false};
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            while (!go.load()) {
                std::this_thread::yield();
            }
            run_share(docs, static_cast<size_t>(t), static_cast<size_t>(threads),
                      shares[static_cast<size_t>(t)]);
        });
    }
    const auto start = std::chrono::steady_clock::now();
    go = true;
    for (std::thread &t : pool) {
        t.join();
    }
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    share all;
    for (const share &sh : shares) {
        all.chunks += sh.chunks;
        all.failed += sh.failed;
        all.bytes_out += sh.bytes_out;
        all.cpu_ms += sh.cpu_ms;
    }
    if (all.failed != 0) {
        std::fprintf(stderr, "%zu documents did not decompress\n", all.failed);
    }
    const double per = all.chunks == 0 ? 0.0 : 1.0 / static_cast<double>(all.chunks);
    std::printf("%zu chunks, %.4f ms per chunk (compute limit, %d thread%s; CPU %.4f ms per chunk; "
                "%zu bytes out)\n",
                all.chunks, took.count() * per, threads, threads == 1 ? "" : "s", all.cpu_ms * per,
                all.bytes_out);
    return all.failed == 0 ? 0 : 1;
}
