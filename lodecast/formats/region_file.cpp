#include "lodecast/formats/region_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace region {

namespace {

uint32_t get_be32(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

void put_be32(unsigned char *p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

bool valid_slot(int slot) {
    return slot >= 0 && slot < slot_count;
}

// One decimal 32-bit integer at the front of s, consumed. Leading zeros and
// "-0" are refused so that every region has exactly one name.
bool take_int(std::string_view &s, int32_t *out) {
    const bool negative = !s.empty() && s[0] == '-';
    const size_t first = negative ? 1 : 0;
    const int64_t limit = negative ? INT64_C(2147483648) : INT64_C(2147483647);
    int64_t value = 0;
    size_t i = first;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        value = value * 10 + (s[i] - '0');
        if (value > limit) {
            return false;
        }
    }
    const size_t digits = i - first;
    if (digits == 0 || (digits > 1 && s[first] == '0') || (negative && value == 0)) {
        return false;
    }
    *out = static_cast<int32_t>(negative ? -value : value);
    s.remove_prefix(i);
    return true;
}

bool take(std::string_view &s, std::string_view prefix) {
    if (!s.starts_with(prefix)) {
        return false;
    }
    s.remove_prefix(prefix.size());
    return true;
}

// Writes all of data at offset, through interruptions and short writes.
bool pwrite_all(int fd, uint64_t offset, const void *data, size_t n) {
    const auto *p = static_cast<const unsigned char *>(data);
    while (n > 0) {
        const ssize_t w = pwrite(fd, p, n, static_cast<off_t>(offset));
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
        offset += static_cast<uint64_t>(w);
    }
    return true;
}

const unsigned char zero_sector[sector_bytes] = {};

} // namespace

chunk_pos chunk_of_slot(int32_t rx, int32_t rz, int slot) {
    // Unsigned arithmetic: regions far out wrap instead of overflowing.
    const auto s = static_cast<uint32_t>(slot);
    return {static_cast<int32_t>(static_cast<uint32_t>(rx) * 32u + (s & 31u)),
            static_cast<int32_t>(static_cast<uint32_t>(rz) * 32u + ((s >> 5) & 31u))};
}

bool parse_file_name(std::string_view name, int32_t *rx, int32_t *rz, extension *ext) {
    int32_t x = 0;
    int32_t z = 0;
    if (!take(name, "r.") || !take_int(name, &x) || !take(name, ".") || !take_int(name, &z)) {
        return false;
    }
    if (name == ".mcr") {
        *ext = extension::mcr;
    } else if (name == ".mca") {
        *ext = extension::mca;
    } else {
        return false;
    }
    *rx = x;
    *rz = z;
    return true;
}

std::string file_name(int32_t rx, int32_t rz, extension ext) {
    return "r." + std::to_string(rx) + "." + std::to_string(rz) +
           (ext == extension::mcr ? ".mcr" : ".mca");
}

std::string external_name(int32_t x, int32_t z) {
    return "c." + std::to_string(x) + "." + std::to_string(z) + ".mcc";
}

bool parse_external_name(std::string_view name, int32_t *x, int32_t *z) {
    int32_t a = 0;
    int32_t b = 0;
    if (!take(name, "c.") || !take_int(name, &a) || !take(name, ".") || !take_int(name, &b) ||
        name != ".mcc") {
        return false;
    }
    *x = a;
    *z = b;
    return true;
}

const char *status_name(status s) {
    switch (s) {
    case status::absent:
        return "absent";
    case status::ok:
        return "ok";
    case status::in_header:
        return "location inside the header";
    case status::past_end:
        return "record past the end of the file";
    case status::overlaps:
        return "record overlapping another";
    case status::bad_length:
        return "bad record length";
    case status::unknown_compression:
        return "unknown compression";
    case status::io_error:
        return "read error";
    case status::external_missing:
        return "external chunk file missing";
    }
    return "?";
}

bool reader::read_at(uint64_t offset, unsigned char *to, size_t n, size_t *got) const {
    *got = 0;
    while (*got < n) {
        const ssize_t r = pread(fd_, to + *got, n - *got, static_cast<off_t>(offset + *got));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0) {
            return false;
        }
        if (r == 0) {
            break; // end of file
        }
        *got += static_cast<size_t>(r);
    }
    return true;
}

open_result reader::open(int fd) {
    fd_ = fd;
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size < 0) {
        return open_result::io_error;
    }
    size_ = static_cast<uint64_t>(st.st_size);
    if (size_ < header_bytes) {
        return open_result::too_short;
    }
    unsigned char header[header_bytes];
    size_t got = 0;
    if (!read_at(0, header, header_bytes, &got) || got != header_bytes) {
        return open_result::io_error;
    }

    // Sectors [start, end) of every record that lies past the header, to
    // find overlaps by sorting them: bounded, and no quadratic pass.
    struct span {
        uint64_t start;
        uint64_t end;
        int slot;
    };
    std::array<span, slot_count> spans;
    int n_spans = 0;
    // Sectors the file holds, the last one perhaps cut short: servers leave
    // it unpadded, and a record may end in it (read_record checks its length).
    const uint64_t held = (size_ + sector_bytes - 1) / sector_bytes;
    for (int slot = 0; slot < slot_count; ++slot) {
        const uint32_t loc = get_be32(header + 4 * slot);
        locations_[slot] = loc;
        timestamps_[slot] = get_be32(header + sector_bytes + 4 * slot);
        const uint64_t offset = loc >> 8;
        const uint64_t end = offset + (loc & 0xffu);
        if (loc == 0) {
            states_[slot] = status::absent;
        } else if (offset < header_bytes / sector_bytes) {
            states_[slot] = status::in_header;
            continue;
        } else if (end > held) {
            states_[slot] = status::past_end;
        } else {
            states_[slot] = status::ok;
        }
        if (end > offset) {
            spans[n_spans++] = {offset, end, slot};
        }
    }
    std::sort(spans.begin(), spans.begin() + n_spans,
              [](const span &a, const span &b) { return a.start < b.start; });
    // A span overlaps an earlier one exactly when it starts before the
    // furthest end so far; the span holding that end overlaps it too. Spans
    // that overlap one after the other make one cluster.
    for (int slot = 0; slot < slot_count; ++slot) {
        cluster_start_[slot] = locations_[slot] >> 8;
        cluster_end_[slot] = (locations_[slot] >> 8) + (locations_[slot] & 0xffu);
    }
    uint64_t furthest = 0;
    int holder = -1;
    int cluster = 0; // first span of the current cluster
    for (int i = 0; i <= n_spans; ++i) {
        if (i == n_spans || spans[i].start >= furthest) {
            for (int j = cluster; j < i && i - cluster > 1; ++j) {
                cluster_start_[spans[j].slot] = static_cast<uint32_t>(spans[cluster].start);
                cluster_end_[spans[j].slot] = static_cast<uint32_t>(furthest);
            }
            cluster = i;
            if (i == n_spans) {
                break;
            }
        } else {
            for (int slot : {spans[i].slot, holder}) {
                if (states_[slot] == status::ok) {
                    states_[slot] = status::overlaps;
                }
            }
        }
        if (spans[i].end > furthest) {
            furthest = spans[i].end;
            holder = spans[i].slot;
        }
    }
    return open_result::ok;
}

location reader::location_of(int slot) const {
    if (!valid_slot(slot)) {
        return {0, 0};
    }
    return {locations_[slot] >> 8, locations_[slot] & 0xffu};
}

uint32_t reader::timestamp(int slot) const {
    return valid_slot(slot) ? timestamps_[slot] : 0;
}

status reader::state(int slot) const {
    return valid_slot(slot) ? states_[slot] : status::absent;
}

location reader::cluster_of(int slot) const {
    if (!valid_slot(slot)) {
        return {0, 0};
    }
    return {cluster_start_[slot], cluster_end_[slot] - cluster_start_[slot]};
}

void reader::find_external(std::string folder, int32_t rx, int32_t rz) {
    external_folder_ = std::move(folder);
    rx_ = rx;
    rz_ = rz;
}

status reader::read_external(int slot, record &out) const {
    if (external_folder_.empty()) {
        return status::external_missing;
    }
    const chunk_pos c = chunk_of_slot(rx_, rz_, slot);
    const std::string path = external_folder_ + "/" + external_name(c.x, c.z);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT ? status::external_missing : status::io_error;
    }
    struct stat st {};
    status s = status::ok;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        s = status::io_error;
    } else if (st.st_size <= 0 || static_cast<uint64_t>(st.st_size) > max_external_bytes) {
        s = status::bad_length;
    } else {
        out.bytes.resize(static_cast<size_t>(st.st_size));
        size_t total = 0;
        while (total < out.bytes.size()) {
            const ssize_t r = ::read(fd, out.bytes.data() + total, out.bytes.size() - total);
            if (r < 0 && errno == EINTR) {
                continue;
            }
            if (r <= 0) {
                break;
            }
            total += static_cast<size_t>(r);
        }
        s = total == out.bytes.size() ? status::ok : status::io_error;
    }
    ::close(fd);
    return s;
}

status reader::read_record(int slot, record &out) const {
    const status s = state(slot);
    if (s != status::ok) {
        return s;
    }
    const location loc = location_of(slot);
    const uint64_t start = uint64_t{loc.offset} * sector_bytes;
    const uint64_t room = uint64_t{loc.sectors} * sector_bytes;
    unsigned char head[record_head_bytes];
    size_t got = 0;
    if (room < record_head_bytes) {
        return status::bad_length;
    }
    if (!read_at(start, head, record_head_bytes, &got) || got != record_head_bytes) {
        return status::io_error;
    }
    // The length counts the compression byte but not itself.
    const uint32_t length = get_be32(head);
    if (length == 0 || uint64_t{length} + 4 > room) {
        return status::bad_length;
    }
    if (start + 4 + length > size_) {
        return status::past_end;
    }
    out.compression = head[4] & static_cast<uint8_t>(~external_bit);
    out.external = (head[4] & external_bit) != 0;
    out.timestamp = timestamps_[slot];
    if (!known_compression(out.compression)) {
        return status::unknown_compression;
    }
    if (out.external) {
        return read_external(slot, out);
    }
    out.bytes.resize(length - 1);
    if (!read_at(start + record_head_bytes, out.bytes.data(), length - 1, &got) ||
        got != length - 1) {
        return status::io_error; // the file shrank since it was opened
    }
    return status::ok;
}

status reader::read_raw(int slot, std::vector<unsigned char> &out) const {
    if (state(slot) == status::absent) {
        return status::absent;
    }
    const location loc = location_of(slot);
    return read_sectors(loc.offset, loc.sectors, out);
}

status reader::read_sectors(uint32_t first, uint32_t count, std::vector<unsigned char> &out) const {
    out.resize(size_t{count} * sector_bytes);
    size_t got = 0;
    if (!read_at(uint64_t{first} * sector_bytes, out.data(), out.size(), &got)) {
        return status::io_error;
    }
    std::fill(out.begin() + static_cast<ptrdiff_t>(got), out.end(), 0);
    return status::ok;
}

bool memory_sink::append(const void *data, size_t n) {
    const auto *p = static_cast<const unsigned char *>(data);
    try {
        bytes.insert(bytes.end(), p, p + n);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

bool memory_sink::write_at(uint64_t offset, const void *data, size_t n) {
    if (offset > bytes.size() || n > bytes.size() - offset) {
        return false;
    }
    std::memcpy(bytes.data() + offset, data, n);
    return true;
}

bool fd_sink::append(const void *data, size_t n) {
    if (!pwrite_all(fd_, end_, data, n)) {
        return false;
    }
    end_ += n;
    return true;
}

bool fd_sink::write_at(uint64_t offset, const void *data, size_t n) {
    return offset <= end_ && n <= end_ - offset && pwrite_all(fd_, offset, data, n);
}

write_result writer::claim(int slot) {
    if (finished_ || !valid_slot(slot)) {
        return write_result::invalid;
    }
    if (failed_) {
        return write_result::sink_failed;
    }
    return locations_[slot] != 0 ? write_result::slot_taken : write_result::ok;
}

bool writer::append(const void *data, size_t n) {
    if (!failed_ && !out_.append(data, n)) {
        failed_ = true;
    }
    return !failed_;
}

// The header's space comes before the first record; it is written last.
bool writer::reserve_header() {
    if (next_sector_ == 0) {
        if (!append(zero_sector, sector_bytes) || !append(zero_sector, sector_bytes)) {
            return false;
        }
        next_sector_ = header_bytes / sector_bytes;
    }
    return true;
}

// Notes where the record of n_sectors just appended lies.
void writer::place(int slot, uint32_t n_sectors, uint32_t timestamp) {
    locations_[slot] = next_sector_ << 8 | n_sectors;
    timestamps_[slot] = timestamp;
    next_sector_ += n_sectors;
}

write_result writer::add_record(int slot, uint8_t compression, const void *bytes, size_t n,
                                uint32_t timestamp) {
    const write_result r = claim(slot);
    if (r != write_result::ok) {
        return r;
    }
    if (!known_compression(compression)) {
        return write_result::invalid;
    }
    if (n > max_record_sectors * sector_bytes - record_head_bytes) {
        return write_result::too_large;
    }
    const size_t total = n + record_head_bytes;
    const auto n_sectors = static_cast<uint32_t>((total + sector_bytes - 1) / sector_bytes);
    unsigned char head[record_head_bytes];
    put_be32(head, static_cast<uint32_t>(n + 1));
    head[4] = compression;
    if (!reserve_header() || !append(head, sizeof head) || !append(bytes, n) ||
        !append(zero_sector, size_t{n_sectors} * sector_bytes - total)) {
        return write_result::sink_failed;
    }
    place(slot, n_sectors, timestamp);
    return write_result::ok;
}

write_result writer::add_external_stub(int slot, uint8_t compression, uint32_t timestamp) {
    const write_result r = claim(slot);
    if (r != write_result::ok) {
        return r;
    }
    if (!known_compression(compression)) {
        return write_result::invalid;
    }
    const unsigned char head[record_head_bytes] = {
        0, 0, 0, 1, static_cast<unsigned char>(compression | external_bit)};
    if (!reserve_header() || !append(head, sizeof head) ||
        !append(zero_sector, sector_bytes - sizeof head)) {
        return write_result::sink_failed;
    }
    place(slot, 1, timestamp);
    return write_result::ok;
}

write_result writer::carry(const reader &from, int slot, std::vector<unsigned char> &scratch) {
    const write_result r = claim(slot);
    if (r != write_result::ok || from.state(slot) == status::absent) {
        return r;
    }
    const location loc = from.location_of(slot);
    const uint32_t timestamp = from.timestamp(slot);
    if (loc.sectors == 0 || from.state(slot) == status::in_header) {
        // No sectors of the file to copy: the entry itself is what is kept.
        locations_[slot] = loc.offset << 8 | loc.sectors;
        timestamps_[slot] = timestamp;
        return write_result::ok;
    }
    const auto file_sectors =
        static_cast<uint32_t>((from.file_size() + sector_bytes - 1) / sector_bytes);
    if (loc.offset >= file_sectors) {
        locations_[slot] = loc.sectors; // placed by finish()
        timestamps_[slot] = timestamp;
        beyond_.push_back(slot);
        return write_result::ok;
    }
    // A cluster of overlapping records is copied with the first of them.
    const location cluster = from.cluster_of(slot);
    const uint32_t end = std::min(cluster.offset + cluster.sectors, file_sectors);
    auto copied = std::find_if(clusters_.begin(), clusters_.end(),
                               [&](const auto &c) { return c.first == cluster.offset; });
    if (copied == clusters_.end()) {
        if (!reserve_header()) {
            return write_result::sink_failed;
        }
        if (from.read_sectors(cluster.offset, end - cluster.offset, scratch) != status::ok) {
            failed_ = true;
            return write_result::sink_failed;
        }
        if (!append(scratch.data(), scratch.size())) {
            return write_result::sink_failed;
        }
        copied = clusters_.emplace(clusters_.end(), cluster.offset, next_sector_);
        next_sector_ += end - cluster.offset;
    }
    locations_[slot] = (copied->second + loc.offset - cluster.offset) << 8 |
                       std::min(loc.sectors, file_sectors - loc.offset);
    timestamps_[slot] = timestamp;
    return write_result::ok;
}

write_result writer::add_raw(int slot, const void *raw, uint32_t n_sectors, uint32_t timestamp) {
    const write_result r = claim(slot);
    if (r != write_result::ok) {
        return r;
    }
    if (n_sectors == 0) {
        return write_result::invalid;
    }
    if (n_sectors > max_record_sectors) {
        return write_result::too_large;
    }
    if (!reserve_header() || !append(raw, size_t{n_sectors} * sector_bytes)) {
        return write_result::sink_failed;
    }
    place(slot, n_sectors, timestamp);
    return write_result::ok;
}

write_result writer::finish() {
    if (finished_) {
        return write_result::invalid;
    }
    if (failed_ || !reserve_header()) {
        return write_result::sink_failed;
    }
    for (int slot : beyond_) {
        locations_[slot] = next_sector_ << 8 | (locations_[slot] & 0xffu);
    }
    unsigned char header[header_bytes];
    for (int slot = 0; slot < slot_count; ++slot) {
        put_be32(header + 4 * slot, locations_[slot]);
        put_be32(header + sector_bytes + 4 * slot, timestamps_[slot]);
    }
    if (!out_.write_at(0, header, header_bytes)) {
        failed_ = true;
        return write_result::sink_failed;
    }
    finished_ = true;
    return write_result::ok;
}

} // namespace region
