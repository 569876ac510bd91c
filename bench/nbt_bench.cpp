// One chunk through the NBT library: parsing a chunk file, writing it back
// (through the temporary file, synced), and the gzip steps alone with each
// compressor the build has.
#include "nbt/byte_buffer.h"
#include "nbt/gzip_codec.h"
#include "nbt/nbt.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

using nbt_detail::ByteBuffer;
using nbt_detail::gzip_library;

const std::string sample = std::string(LODECAST_BENCH_DATA) + "/chunks/c.-j.6.dat";

// A private copy of the sample chunk in a temporary folder.
class ScratchChunk {
  public:
    ScratchChunk() {
        char tmpl[] = "/tmp/nbt_bench.XXXXXX";
        dir_ = ::mkdtemp(tmpl) != nullptr ? tmpl : "/tmp";
        path_ = dir_ + "/c.0.0.dat";
        ByteBuffer bytes;
        if (nbt_detail::read_whole_file(sample.c_str(), bytes) == NBT_OK) {
            if (FILE *f = std::fopen(path_.c_str(), "wb")) {
                std::fwrite(bytes.data(), 1, bytes.size(), f);
                std::fclose(f);
            }
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

// A build without libdeflate has only the zlib cases to show.
bool skip_missing(benchmark::State &state, gzip_library lib) {
    if (lib == gzip_library::libdeflate && !nbt_detail::libdeflate_available()) {
        state.SkipWithError("built without libdeflate");
        return true;
    }
    return false;
}

void BM_Deflate(benchmark::State &state, gzip_library lib) {
    if (skip_missing(state, lib)) {
        return;
    }
    ByteBuffer plain;
    nbt_detail::read_gzip_file(sample.c_str(), plain);
    for (auto _ : state) {
        ByteBuffer out;
        nbt_detail::gzip_encode(plain.data(), plain.size(), out, lib);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * plain.size()));
}

void BM_Inflate(benchmark::State &state, gzip_library lib) {
    if (skip_missing(state, lib)) {
        return;
    }
    ByteBuffer packed;
    nbt_detail::read_whole_file(sample.c_str(), packed);
    for (auto _ : state) {
        ByteBuffer out;
        nbt_detail::gzip_decode(packed.data(), packed.size(), out, lib);
        benchmark::DoNotOptimize(out.data());
    }
}

BENCHMARK_CAPTURE(BM_Deflate, zlib, gzip_library::zlib)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Inflate, zlib, gzip_library::zlib)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Deflate, libdeflate, gzip_library::libdeflate)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Inflate, libdeflate, gzip_library::libdeflate)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
