// Region files: 32 × 32 chunks in one file, each chunk a compressed record in
// whole 4096-byte sectors behind an 8192-byte header of locations and
// timestamps. A record too large for 255 sectors lives in an external file
// c.<x>.<z>.mcc beside the region (its compressed bytes only), the region
// keeping a one-sector stub whose compression byte has the external bit.
// This module only moves records in and out of the container; compressing
// and parsing the chunk documents is left to its callers.
#ifndef LODECAST_REGION_FILE_H
#define LODECAST_REGION_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace region {

inline constexpr uint32_t sector_bytes = 4096;
inline constexpr uint32_t header_bytes = 2 * sector_bytes;
inline constexpr int slot_count = 1024;
// The sector count of a location is 8 bits; the game never writes more.
inline constexpr uint32_t max_record_sectors = 255;
// A record starts with its 32-bit length and its compression byte.
inline constexpr uint32_t record_head_bytes = 5;
inline constexpr uint8_t compression_gzip = 1;
inline constexpr uint8_t compression_zlib = 2;
inline constexpr uint8_t compression_none = 3;
inline constexpr uint8_t compression_lz4 = 4; // lz4_stream.h
// A named compressor of a mod; records of it, like those of any other byte,
// can only be carried over.
inline constexpr uint8_t compression_custom = 127;
inline constexpr uint8_t external_bit = 0x80;
constexpr bool known_compression(uint8_t c) {
    return c >= compression_gzip && c <= compression_lz4;
}
// Far above any real chunk; an external file beyond it is not read.
inline constexpr uint32_t max_external_bytes = uint32_t{64} << 20;

// Slot of chunk (x, z) in its region's header; unsigned so that negative
// coordinates take their low bits without shifting a negative number.
constexpr int slot_of(int32_t x, int32_t z) {
    return static_cast<int>((static_cast<uint32_t>(x) & 31u) +
                            32u * (static_cast<uint32_t>(z) & 31u));
}
// Region holding chunk coordinate c (an arithmetic shift: floor for negatives).
constexpr int32_t region_of(int32_t c) {
    return c >> 5;
}

struct chunk_pos {
    int32_t x;
    int32_t z;
};
// Chunk coordinates of slot (0..1023) in region (rx, rz).
chunk_pos chunk_of_slot(int32_t rx, int32_t rz, int slot);

// Region files come in two kinds with the same container: .mcr holds chunk
// documents in one piece, .mca chunks cut into sections.
enum class extension { mcr, mca };

// True when name is exactly "r.<rx>.<rz>.mcr" or ".mca" with rx and rz
// decimal 32-bit integers (optional '-', no '+', no overflow).
bool parse_file_name(std::string_view name, int32_t *rx, int32_t *rz, extension *ext);
std::string file_name(int32_t rx, int32_t rz, extension ext);
// The external file of chunk (x, z): "c.<x>.<z>.mcc"; and its reverse.
std::string external_name(int32_t x, int32_t z);
bool parse_external_name(std::string_view name, int32_t *x, int32_t *z);

// What a slot of a file holds. The first five come from the header alone;
// bad_length and unknown_compression are found when the record is read.
enum class status {
    absent,              // location 0: no chunk
    ok,                  // the record is usable
    in_header,           // offset below 2: the record would be the header
    past_end,            // it runs beyond the file's end (its last sector may be cut)
    overlaps,            // shares a sector with another record
    bad_length,          // length 0, or longer than the record's sectors
    unknown_compression, // compression byte not one of 1 to 4
    io_error,            // the file could not be read
    external_missing,    // an external stub without its .mcc file
};
const char *status_name(status s);

enum class open_result { ok, too_short, io_error };

struct location {
    uint32_t offset;  // in sectors from the start of the file
    uint32_t sectors; // number of sectors
};

// One chunk's record; reused from read to read so that its buffer grows once.
struct record {
    uint8_t compression = 0; // without the external bit; set for unknown ones too
    bool external = false;   // the bytes came from the chunk's .mcc file
    uint32_t timestamp = 0;
    std::vector<unsigned char> bytes; // the compressed document
};

// Reads a region file through an open descriptor with pread, a record at a
// time: memory stays at the header plus the largest record read (1 MiB).
// The descriptor stays the caller's.
class reader {
  public:
    open_result open(int fd);
    // Where external records are read from: the region's folder and the
    // region's coordinates. Without it an external record is external_missing.
    void find_external(std::string folder, int32_t rx, int32_t rz);

    uint64_t file_size() const { return size_; }
    location location_of(int slot) const;
    uint32_t timestamp(int slot) const;
    // The slot's state as the header shows it (absent, ok, in_header,
    // past_end or overlaps); out of range slots are absent.
    status state(int slot) const;

    // The record's compression byte, compressed bytes and timestamp, from
    // the external file when the record is a stub. unknown_compression sets
    // out.compression; anything else but ok leaves out unspecified.
    status read_record(int slot, record &out) const;
    // The record's sectors exactly as the file holds them (sectors × 4096
    // bytes, zeros where the file ends early), whatever their state, so that
    // a record can be carried over untouched. ok, absent or io_error.
    status read_raw(int slot, std::vector<unsigned char> &out) const;

    // The sectors of the run of overlapping records slot belongs to (its
    // own sectors when it overlaps none).
    location cluster_of(int slot) const;
    // count sectors from first exactly as the file holds them, zeros where
    // it ends early. ok or io_error.
    status read_sectors(uint32_t first, uint32_t count, std::vector<unsigned char> &out) const;

  private:
    bool read_at(uint64_t offset, unsigned char *to, size_t n, size_t *got) const;
    status read_external(int slot, record &out) const;

    int fd_ = -1;
    uint64_t size_ = 0;
    std::string external_folder_;
    int32_t rx_ = 0;
    int32_t rz_ = 0;
    uint32_t locations_[slot_count] = {};
    uint32_t timestamps_[slot_count] = {};
    status states_[slot_count] = {};
    uint32_t cluster_start_[slot_count] = {};
    uint32_t cluster_end_[slot_count] = {};
};

// Where a writer puts a file: appended in order, then the header written
// over the space reserved for it (write_at only overwrites appended bytes).
class sink {
  public:
    virtual ~sink() = default;
    virtual bool append(const void *data, size_t n) = 0;
    virtual bool write_at(uint64_t offset, const void *data, size_t n) = 0;
};

// A file built in memory.
class memory_sink : public sink {
  public:
    bool append(const void *data, size_t n) override;
    bool write_at(uint64_t offset, const void *data, size_t n) override;
    std::vector<unsigned char> bytes;
};

// A plain file written through a descriptor the caller keeps and closes.
class fd_sink : public sink {
  public:
    explicit fd_sink(int fd) : fd_(fd) {}
    bool append(const void *data, size_t n) override;
    bool write_at(uint64_t offset, const void *data, size_t n) override;

  private:
    int fd_;
    uint64_t end_ = 0;
};

enum class write_result {
    ok,
    too_large,   // the record would need more than 255 sectors; nothing written
    slot_taken,  // the slot already has a record
    invalid,     // slot out of range, unknown compression, 0 sectors, or finished
    sink_failed, // the sink refused a write; the file is of no use
};

// Lays a region file out compactly: the header's space first, then each
// record where the previous one ends, in the order they are added; finish()
// writes the header. The file's size is a whole number of sectors.
class writer {
  public:
    explicit writer(sink &out) : out_(out) {}

    write_result add_record(int slot, uint8_t compression, const void *bytes, size_t n,
                            uint32_t timestamp);
    // The one-sector stub of a record whose bytes the caller puts into the
    // chunk's external file.
    write_result add_external_stub(int slot, uint8_t compression, uint32_t timestamp);
    // Carries over n_sectors × 4096 bytes of an old record (read_raw) as they are.
    write_result add_raw(int slot, const void *raw, uint32_t n_sectors, uint32_t timestamp);
    // Carries slot of from over, damaged or not, without adding anything
    // the old file did not hold: a sound record as add_raw; records that
    // overlap share their sectors again, copied once; a record running past
    // the end keeps the sectors the file has, and one wholly beyond it
    // points past the new file's end; a location inside the header or of
    // 0 sectors is kept as it was. scratch is a buffer reused between calls.
    write_result carry(const reader &from, int slot, std::vector<unsigned char> &scratch);
    write_result finish();

  private:
    write_result claim(int slot);
    bool append(const void *data, size_t n);
    bool reserve_header();
    void place(int slot, uint32_t n_sectors, uint32_t timestamp);

    sink &out_;
    uint32_t next_sector_ = 0; // 0 until the header's space is reserved
    bool failed_ = false;
    bool finished_ = false;
    uint32_t locations_[slot_count] = {};
    uint32_t timestamps_[slot_count] = {};
    // Overlapping records already copied: old first sector -> new one.
    std::vector<std::pair<uint32_t, uint32_t>> clusters_;
    // Records wholly past the old file's end, pointed past the new one's.
    std::vector<int> beyond_;
};

} // namespace region

#endif
