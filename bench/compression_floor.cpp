// compression_floor <world dir>
//
// The least work a run over a world can do while still rewriting every
// chunk file safely: read the file, decompress and parse it, serialise and
// compress it again (the library's own steps, with one reused codec), write
// a temporary file beside it, sync it and rename it over the chunk. One
// thread, no veins. The tool's time per chunk is measured against this one.
//
// Prints the number of chunk files and the time per chunk on standard
// output; exit status 1 when a file could not be rewritten.
#include "nbt/nbt.hpp"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
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
    const nbt_durability file_only{1, 0, nullptr, nullptr};
    return nbt_parse_memory(doc.get(), raw.data(), raw.size(), NBT_GZIP, nullptr, codec) ==
               NBT_OK &&
           nbt_encode(doc.get(), NBT_GZIP, packed.get(), codec) >= 0 &&
           nbt_replace_file(path.c_str(), packed.data(), packed.size(), &file_only, nullptr) ==
               NBT_OK;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: %s <world dir>\n", argv[0]);
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    const std::vector<std::string> files = chunk_files(argv[1]);
    nbt_codec *c = nullptr;
    if (nbt_codec_new(&c) != NBT_OK) {
        return 1;
    }
    nbt::codec codec(c);
    nbt::buffer packed;
    int failed = 0;
    for (const std::string &f : files) {
        if (!rewrite(f, codec.get(), packed)) {
            std::fprintf(stderr, "Could not rewrite %s\n", f.c_str());
            ++failed;
        }
    }
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    std::printf("%zu chunks, %.3f ms per chunk (%s)\n", files.size(),
                files.empty() ? 0.0 : took.count() / static_cast<double>(files.size()),
                NBT_COMPRESSOR);
    return failed == 0 ? 0 : 1;
}
