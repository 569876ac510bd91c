// One chunk through the NBT library: parsing a chunk file, writing it back
// (through the temporary file, synced), and the steps in memory with a
// reused codec, in each compressed format.
#include "nbt/nbt.hpp"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string sample = std::string(LODECAST_BENCH_DATA) + "/chunks/c.-j.6.dat";

std::vector<unsigned char> file_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A private copy of the sample chunk in a temporary folder.
class ScratchChunk {
  public:
    ScratchChunk() {
        char tmpl[] = "/tmp/nbt_bench.XXXXXX";
        dir_ = ::mkdtemp(tmpl) != nullptr ? tmpl : "/tmp";
        path_ = dir_ + "/c.0.0.dat";
        const std::vector<unsigned char> bytes = file_bytes(sample);
        if (FILE *f = std::fopen(path_.c_str(), "wb")) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
    }
    ~ScratchChunk() {
        ::unlink(path_.c_str());
        ::rmdir(dir_.c_str());
    }
    const char *path() const { return path_.c_str(); }

  private:
    std::string dir_;
    std::string path_;
};

void BM_ParseChunk(benchmark::State &state) {
    for (auto _ : state) {
        nbt_file *nf = nullptr;
        nbt_init(&nf);
        if (nbt_parse(nf, sample.c_str()) != NBT_OK) {
            state.SkipWithError("cannot parse the sample chunk");
        }
        benchmark::DoNotOptimize(nf->root);
        nbt_free(nf);
    }
}
BENCHMARK(BM_ParseChunk)->Unit(benchmark::kMicrosecond);

void BM_WriteChunk(benchmark::State &state) {
    ScratchChunk scratch;
    nbt_file *nf = nullptr;
    nbt_init(&nf);
    if (nbt_parse(nf, scratch.path()) != NBT_OK) {
        state.SkipWithError("cannot parse the sample chunk");
    }
    for (auto _ : state) {
        if (nbt_write(nf, scratch.path()) < 0) {
            state.SkipWithError("write failed");
        }
    }
    nbt_free(nf);
}
BENCHMARK(BM_WriteChunk)->Unit(benchmark::kMicrosecond);

// The sample chunk in format c, made with the library's own encoder.
std::vector<unsigned char> sample_in(nbt_compression c, nbt_codec *codec) {
    nbt_file *f = nullptr;
    nbt_init(&f);
    nbt::document doc(f);
    nbt::buffer out;
    if (nbt_parse(doc.get(), sample.c_str()) == NBT_OK) {
        nbt_encode(doc.get(), c, out.get(), codec);
    }
    return {out.data(), out.data() + out.size()};
}

nbt::codec new_codec() {
    nbt_codec *c = nullptr;
    nbt_codec_new(&c);
    return nbt::codec(c);
}

void BM_Encode(benchmark::State &state, nbt_compression c) {
    nbt::codec codec = new_codec();
    const std::vector<unsigned char> bytes = sample_in(c, codec.get());
    nbt_file *f = nullptr;
    nbt_init(&f);
    nbt::document doc(f);
    nbt_parse_memory(doc.get(), bytes.data(), bytes.size(), c, nullptr, codec.get());
    nbt::buffer out;
    for (auto _ : state) {
        out.clear();
        if (nbt_encode(doc.get(), c, out.get(), codec.get()) < 0) {
            state.SkipWithError("encode failed");
        }
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_ParseMemory(benchmark::State &state, nbt_compression c) {
    nbt::codec codec = new_codec();
    const std::vector<unsigned char> bytes = sample_in(c, codec.get());
    for (auto _ : state) {
        nbt_file *f = nullptr;
        nbt_init(&f);
        nbt::document doc(f);
        if (nbt_parse_memory(doc.get(), bytes.data(), bytes.size(), c, nullptr, codec.get()) !=
            NBT_OK) {
            state.SkipWithError("parse failed");
        }
        benchmark::DoNotOptimize(doc->root);
    }
}

BENCHMARK_CAPTURE(BM_Encode, gzip, NBT_GZIP)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ParseMemory, gzip, NBT_GZIP)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Encode, zlib, NBT_ZLIB)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ParseMemory, zlib, NBT_ZLIB)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
