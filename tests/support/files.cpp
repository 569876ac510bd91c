#include "support/files.h"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <zlib.h>

Bytes read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string &path, const Bytes &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

Bytes gunzip_file(const std::string &path) {
    gzFile gz = gzopen(path.c_str(), "rb");
    if (gz == nullptr) {
        throw std::runtime_error("cannot open " + path);
    }
    Bytes out;
    unsigned char buf[65536];
    int n;
    while ((n = gzread(gz, buf, sizeof buf)) > 0) {
        out.insert(out.end(), buf, buf + n);
    }
    gzclose(gz);
    if (n < 0) {
        throw std::runtime_error("corrupt gzip data in " + path);
    }
    return out;
}

Bytes gzip_bytes(const Bytes &bytes) {
    z_stream zs{};
    if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    Bytes out(deflateBound(&zs, bytes.size()) + 32);
    zs.next_in = const_cast<Bytes::value_type *>(bytes.data());
    zs.avail_in = static_cast<uInt>(bytes.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    int rc = deflate(&zs, Z_FINISH);
    deflateEnd(&zs);
    if (rc != Z_STREAM_END) {
        throw std::runtime_error("deflate failed");
    }
    out.resize(zs.total_out);
    return out;
}

void write_gzip_file(const std::string &path, const Bytes &bytes) {
    write_file(path, gzip_bytes(bytes));
}
