// Reading and writing whole files, plain or gzip-compressed.
#ifndef TESTS_SUPPORT_FILES_H
#define TESTS_SUPPORT_FILES_H

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

Bytes read_file(const std::string &path);
void write_file(const std::string &path, const Bytes &bytes);
// The decompressed content of a gzip file (a plain file comes back as is).
Bytes gunzip_file(const std::string &path);
// bytes compressed into a gzip stream.
Bytes gzip_bytes(const Bytes &bytes);
void write_gzip_file(const std::string &path, const Bytes &bytes);

#endif
