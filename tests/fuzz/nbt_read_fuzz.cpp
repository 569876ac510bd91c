// libFuzzer target for the NBT reader and writer. Any input either fails to
// parse, leaving nothing allocated, or parses into a tree that the
// stream-level reader reads alike, that writes out, reads back equal, and
// writes out again to the same decompressed bytes.
#include "nbt/nbt.hpp"
#include "nbt/nbt_io.h"
#include "support/nbt_tree_equal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

using NbtDoc = nbt::document;

[[noreturn]] void fail(const char *what, const std::string &detail = "") {
    std::fprintf(stderr, "nbt_read_fuzz: %s %s\n", what, detail.c_str());
    std::abort();
}

// The input goes to an in-memory file that the reader opens by path.
const std::string &input_path() {
    static const std::string path = [] {
        const int fd = memfd_create("nbt-fuzz-input", 0);
        if (fd < 0) {
            fail("memfd_create failed");
        }
        return "/proc/self/fd/" + std::to_string(fd);
    }();
    return path;
}

void set_input(const uint8_t *data, size_t size) {
    FILE *f = std::fopen(input_path().c_str(), "wb"); // truncates the memfd
    if (f == nullptr || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) {
        fail("cannot write the input file");
    }
}

// The writer needs a real folder: its temporary file goes beside the
// target. A plain array, so that it outlives the static strings when the
// exit handler removes the folder.
char out_dir[64];

void remove_output_dir() {
    for (const char *name : {"/a.nbt", "/b.nbt"}) {
        std::remove((std::string(out_dir) + name).c_str());
    }
    rmdir(out_dir);
}

std::string output_dir() {
    if (out_dir[0] == '\0') {
        std::snprintf(out_dir, sizeof out_dir, "%s/nbt-fuzz-XXXXXX",
                      access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        if (mkdtemp(out_dir) == nullptr) {
            fail("mkdtemp failed");
        }
        std::atexit(remove_output_dir);
    }
    return out_dir;
}

NbtDoc parse(const std::string &path, int *status) {
    nbt_file *raw = nullptr;
    if (nbt_init(&raw) != NBT_OK) {
        fail("nbt_init failed");
    }
    NbtDoc doc(raw);
    *status = nbt_parse(doc.get(), path.c_str());
    if (*status != NBT_OK) {
        if (doc->root != nullptr) {
            fail("a failed parse left a root behind");
        }
        return nullptr;
    }
    if (doc->root == nullptr) {
        fail("a successful parse gave no root");
    }
    return doc;
}

std::vector<unsigned char> decompressed(const std::string &path) {
    gzFile gz = gzopen(path.c_str(), "rb");
    if (gz == nullptr) {
        fail("cannot open", path);
    }
    std::vector<unsigned char> out;
    unsigned char buf[16384];
    int n;
    while ((n = gzread(gz, buf, sizeof buf)) > 0) {
        out.insert(out.end(), buf, buf + n);
    }
    if (gzclose(gz) != Z_OK || n < 0) {
        fail("the writer's output is not a clean gzip stream", path);
    }
    return out;
}

// Reads the input again through the stream-level reader, which shares the
// parser but reads from an open gzip stream in bounded steps. It must accept
// whatever nbt_parse accepted, with an equal tree; where nbt_parse refused
// the input it may still accept it (it does not read the stream to its
// end), but must not crash or leak either way.
void check_stream_reader(const nbt_tag *parsed) {
    gzFile gz = gzopen(input_path().c_str(), "rb");
    if (gz == nullptr) {
        fail("cannot reopen the input");
    }
    nbt_file handle{gz, nullptr};
    auto *tag = static_cast<nbt_tag *>(std::calloc(1, sizeof(nbt_tag)));
    if (tag == nullptr) {
        fail("calloc failed");
    }
    const int type = nbt_read_tag(&handle, &tag);
    gzclose(gz);
    if (parsed != nullptr) {
        if (type < 0) {
            fail("the stream reader refused what nbt_parse read, status", std::to_string(type));
        }
        if (std::string diff = nbt_tree_difference(parsed, tag); !diff.empty()) {
            fail("the stream reader read another tree:", diff);
        }
    }
    nbt_free_tag(tag);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    set_input(data, size);
    // The skeleton reader takes the same bytes as a plain document: a
    // status or a compound root, never a crash or a leak.
    NbtDoc skeleton = nbt::make_document();
    const int s = nbt_parse_skeleton(skeleton.get(), data, size);
    if (s == NBT_OK ? skeleton->root->type != TAG_COMPOUND : s != NBT_ERR && s != NBT_EMEM) {
        fail("the skeleton reader gave", std::to_string(s));
    }
    int status = 0;
    NbtDoc first = parse(input_path(), &status);
    check_stream_reader(first != nullptr ? first->root : nullptr);
    if (first == nullptr) {
        if (status != NBT_ERR && status != NBT_EMEM) {
            fail("unexpected status", std::to_string(status));
        }
        return 0;
    }
    const std::string a = output_dir() + "/a.nbt";
    const std::string b = output_dir() + "/b.nbt";
    const int written = nbt_write(first.get(), a.c_str());
    if (written < 0) {
        fail("a tree that was read cannot be written, status", std::to_string(written));
    }
    NbtDoc second = parse(a, &status);
    if (second == nullptr) {
        fail("the written file does not read back, status", std::to_string(status));
    }
    if (std::string diff = nbt_tree_difference(first->root, second->root); !diff.empty()) {
        fail("the tree read back differs:", diff);
    }
    if (nbt_write(second.get(), b.c_str()) != written) {
        fail("the second write gave another byte count");
    }
    const std::vector<unsigned char> bytes_a = decompressed(a);
    if (bytes_a != decompressed(b) || bytes_a.size() != static_cast<size_t>(written)) {
        fail("the two writes differ");
    }
    return 0;
}
