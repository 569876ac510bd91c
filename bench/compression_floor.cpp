// compression_floor <world dir>
//
// The least work a run over a world can do while still rewriting every
// chunk file safely: read the file, decompress and parse it, serialise and
// compress it again (the library's own steps, with one reused codec), write
// a temporary file beside it, sync it and rename it over the chunk. One
// thread, no veins. The tool's time per chunk is measured against this one.
//
// In a region world (a region/ folder holding .mcr or .mca files) the same for
// every region file: read each record, decompress and parse it, serialise
// and compress it again (zlib), lay the records into a temporary file
// beside it, sync it once and rename it over the region file.
//
// Prints the number of chunks and the time per chunk on standard output;
// exit status 1 when a file could not be rewritten.
#include "durable/durable.h"
#include "lodecast/formats/region_file.h"
#include "lodecast/formats/staged_sink.h"
#include "nbt/nbt.hpp"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

#ifndef NBT_COMPRESSOR
#define NBT_COMPRESSOR "unknown"
#endif

namespace fs = std::filesystem;

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

bool rewrite(const std::string &path, nbt_codec *codec, nbt::buffer &packed) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> raw((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
    nbt_file *f = nullptr;
    if (!in || nbt_init(&f) != NBT_OK) {
        return false;
    }
    nbt::document doc(f);
    packed.clear();
    // The file alone is synced before its rename, as the tool does.
    const durable_policy file_only{1, 0, nullptr, nullptr};
    return nbt_parse_memory(doc.get(), raw.data(), raw.size(), NBT_GZIP, nullptr, codec) ==
               NBT_OK &&
           nbt_encode(doc.get(), NBT_GZIP, packed.get(), codec) >= 0 &&
           durable_replace_file(path.c_str(), packed.data(), packed.size(), &file_only, nullptr) ==
               DURABLE_OK;
}

// Rewrites every record of the region file at path; the chunks it held, or
// -1 when it could not be rewritten.
long rewrite_region(const std::string &path, nbt_codec *codec, nbt::buffer &packed) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    region::reader in;
    if (fd < 0 || in.open(fd) != region::open_result::ok) {
        return -1;
    }
    durable::staged out;
    long chunks = 0;
    bool ok = out.open(path.c_str()) == DURABLE_OK;
    staged_sink sink(out.get());
    region::writer w(sink);
    region::record rec;
    for (int slot = 0; ok && slot < region::slot_count; ++slot) {
        if (in.state(slot) == region::status::absent) {
            continue;
        }
        nbt::document doc = nbt::make_document();
        packed.clear();
        ok = doc && in.read_record(slot, rec) == region::status::ok &&
             nbt_parse_memory(doc.get(), rec.bytes.data(), rec.bytes.size(), NBT_ZLIB, nullptr,
                              codec) == NBT_OK &&
             nbt_encode(doc.get(), NBT_ZLIB, packed.get(), codec) >= 0 &&
             w.add_record(slot, region::compression_zlib, packed.data(), packed.size(),
                          rec.timestamp) == region::write_result::ok;
        ++chunks;
    }
    close(fd);
    const durable_policy file_only{1, 0, nullptr, nullptr};
    ok = ok && w.finish() == region::write_result::ok &&
         durable_stage_sync(out.get(), &file_only) == DURABLE_OK &&
         out.commit(&file_only) == DURABLE_OK;
    return ok ? chunks : -1;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: %s <world dir>\n", argv[0]);
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    nbt::codec codec = nbt::make_codec();
    nbt::buffer packed;
    int failed = 0;
    size_t chunks = 0;
    std::vector<std::string> regions;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(fs::path(argv[1]) / "region", ec)) {
        if (e.path().extension() == ".mcr" || e.path().extension() == ".mca") {
            regions.push_back(e.path().string());
        }
    }
    const std::vector<std::string> files = regions.empty() ? chunk_files(argv[1]) : regions;
    for (const std::string &f : files) {
        const long n = regions.empty() ? (rewrite(f, codec.get(), packed) ? 1 : -1)
                                       : rewrite_region(f, codec.get(), packed);
        if (n < 0) {
            std::fprintf(stderr, "Could not rewrite %s\n", f.c_str());
            ++failed;
        }
        chunks += n < 0 ? 0 : static_cast<size_t>(n);
    }
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    std::printf("%zu chunks, %.3f ms per chunk (%s)\n", chunks,
                chunks == 0 ? 0.0 : took.count() / static_cast<double>(chunks), NBT_COMPRESSOR);
    return failed == 0 ? 0 : 1;
}
