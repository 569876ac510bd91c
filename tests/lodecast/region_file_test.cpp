#include "lodecast/formats/region_file.h"

#include "lodecast/formats/lz4_stream.h"

#include "support/files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <map>
#include <unistd.h>
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace {

using region::open_result;
using region::status;
using region::write_result;

const std::string fixture = std::string(LODECAST_TEST_DATA) + "/regions/r.-1.0.mcr";

// bytes written to a file and opened by a reader.
struct OnDisk {
    explicit OnDisk(const Bytes &bytes) {
        write_file(dir.file("r.0.0.mcr"), bytes);
        fd = open(dir.file("r.0.0.mcr").c_str(), O_RDONLY);
        opened = reader.open(fd);
    }
    ~OnDisk() { close(fd); }
    TempDir dir;
    int fd;
    region::reader reader;
    open_result opened;
};

// One block of the LZ4 stream as the game frames it, checksum and all.
Bytes lz4_block(uint8_t token, const Bytes &body, const std::string &plain) {
    const uint32_t sum =
        plain.empty() ? 0 : XXH32(plain.data(), plain.size(), 0x9747b28c) & 0xfffffff;
    Bytes b = {'L', 'Z', '4', 'B', 'l', 'o', 'c', 'k', token};
    for (const uint32_t v :
         {static_cast<uint32_t>(body.size()), static_cast<uint32_t>(plain.size()), sum}) {
        b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    }
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

Bytes operator+(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(Lz4Stream, HandBuiltStreamsReadAndWriteByteForByte) {
    // "hello" as one LZ4 sequence of five literals, "abc" stored, the end block.
    const Bytes end = lz4_block(0x16, {}, "");
    const Bytes stream = lz4_block(0x26, {0x50, 'h', 'e', 'l', 'l', 'o'}, "hello") +
                         lz4_block(0x16, {'a', 'b', 'c'}, "abc") + end;
    Bytes out;
    ASSERT_EQ(lz4_stream::decode(stream.data(), stream.size(), out, 100), lz4_stream::result::ok);
    EXPECT_EQ(std::string(out.begin(), out.end()), "helloabc");
    EXPECT_EQ(lz4_stream::decode(stream.data(), stream.size(), out, 7),
              lz4_stream::result::too_large);
    // Three bytes LZ4 cannot shrink are stored; 64 KiB and one of zeros make
    // a compressed full block and a stored one.
    Bytes written;
    ASSERT_TRUE(lz4_stream::encode(reinterpret_cast<const unsigned char *>("abc"), 3, written));
    EXPECT_TRUE(written == lz4_block(0x16, {'a', 'b', 'c'}, "abc") + end);
    const Bytes zeros(65537, 0);
    written.clear();
    ASSERT_TRUE(lz4_stream::encode(zeros.data(), zeros.size(), written));
    const size_t packed = written.size() - 3 * 21 - 1;
    EXPECT_LT(packed, 1000u);
    const Bytes full = lz4_block(0x26, Bytes(packed), std::string(65536, '\0'));
    EXPECT_TRUE(std::equal(full.begin(), full.begin() + 21, written.begin()));
    EXPECT_TRUE(Bytes(written.end() - 43, written.end()) ==
                lz4_block(0x16, {0}, std::string(1, '\0')) + end);
    ASSERT_EQ(lz4_stream::decode(written.data(), written.size(), out, 1 << 20),
              lz4_stream::result::ok);
    EXPECT_TRUE(out == zeros);

    // Damage of every kind is refused: checksum, magic, method, lengths, no end.
    const size_t body = 21, second = 21 + 6;
    const std::pair<size_t, uint8_t> damage[] = {
        {17, 0x01}, {0, 'X'},           {8, 0x36},          {9, 0x01},
        {13, 0x01}, {second + 9, 0x05}, {second + 8, 0x1f}, {body, 0x60}};
    for (const auto &[at, value] : damage) {
        Bytes bad = stream;
        bad[at] ^= value;
        EXPECT_EQ(lz4_stream::decode(bad.data(), bad.size(), out, 100), lz4_stream::result::damaged)
            << at;
    }
    const Bytes unended(stream.begin(), stream.end() - 21);
    EXPECT_EQ(lz4_stream::decode(unended.data(), unended.size(), out, 100),
              lz4_stream::result::damaged);
}

TEST(RegionGeometry, SlotsRegionsAndBack) {
    // x, z, slot, rx, rz
    const int32_t cases[][5] = {
        {0, 0, 0, 0, 0},        {31, 1, 63, 0, 0},
        {-1, -1, 1023, -1, -1}, {-32, 33, 32, -1, 1},
        {-33, 64, 31, -2, 2},   {INT32_MAX, INT32_MIN, 31, 67108863, -67108864}};
    for (const auto &c : cases) {
        EXPECT_EQ(region::slot_of(c[0], c[1]), c[2]) << c[0] << "," << c[1];
        EXPECT_TRUE(region::region_of(c[0]) == c[3] && region::region_of(c[1]) == c[4]) << c[0];
        const region::chunk_pos back = region::chunk_of_slot(c[3], c[4], c[2]);
        EXPECT_TRUE(back.x == c[0] && back.z == c[1]) << c[0] << "," << c[1];
    }
}

TEST(RegionFileName, AcceptedNamesPrintBackTheSameOthersAreRefused) {
    int32_t rx = 0, rz = 0;
    region::extension ext{};
    for (const char *name :
         {"r.0.0.mcr", "r.-1.0.mcr", "r.2.-1.mca", "r.-2147483648.2147483647.mca"}) {
        EXPECT_TRUE(region::parse_file_name(name, &rx, &rz, &ext)) << name;
        EXPECT_EQ(region::file_name(rx, rz, ext), name);
    }
    for (const char *name :
         {"r.0.0", "r.0.mcr", "r..0.mcr", "R.0.0.mcr", "", "c.0.0.mcr", "r.0.0.MCR",
          "r.0.0.mcr.bak", "r.0.0.0.mcr", "r.+1.0.mcr", "r.-.0.mcr", "r.01.0.mcr", "r.-0.0.mcr",
          "r.1 .0.mca", "r.0.0x1.mca", "r.2147483648.0.mcr", "r.0.-2147483649.mca"}) {
        EXPECT_FALSE(region::parse_file_name(name, &rx, &rz, &ext)) << name;
    }
}

TEST(RegionWriter, RecordsReadBackInACompactPaddedLayout) {
    // slot, compression, size, timestamp: 4091 bytes fill one sector, 4092 need two, and
    // 255 sectors is the most.
    const uint32_t cases[][4] = {
        {0, 2, 1, 99},          {5, 1, 4091, 0},   {31, 2, 4092, UINT32_MAX},
        {200, 3, 3, 1},         {201, 4, 5000, 2}, {900, 2, 255 * 4096 - 5, 7},
        {1023, 2, 10000, 12345}};
    region::memory_sink mem;
    region::writer w(mem);
    Bytes bytes(255 * 4096 + 1024); // each record starts at its slot
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7);
    }
    for (const auto &c : cases) {
        ASSERT_EQ(w.add_record(c[0], c[1], &bytes[c[0]], c[2], c[3]), write_result::ok);
    }
    const size_t before = mem.bytes.size();
    EXPECT_EQ(w.add_record(6, 2, bytes.data(), 255 * 4096 - 4, 0), write_result::too_large);
    EXPECT_EQ(w.add_raw(6, bytes.data(), 256, 0), write_result::too_large);
    EXPECT_EQ(w.add_record(5, 2, bytes.data(), 1, 0), write_result::slot_taken);
    EXPECT_EQ(w.add_record(6, 127, bytes.data(), 1, 0), write_result::invalid);
    EXPECT_EQ(w.add_record(1024, 2, bytes.data(), 1, 0), write_result::invalid);
    EXPECT_EQ(w.add_raw(6, bytes.data(), 0, 0), write_result::invalid);
    EXPECT_EQ(mem.bytes.size(), before);
    ASSERT_EQ(w.finish(), write_result::ok);
    EXPECT_EQ(w.add_record(6, 2, bytes.data(), 1, 0), write_result::invalid);

    OnDisk disk(mem.bytes);
    ASSERT_EQ(disk.opened, open_result::ok);
    uint32_t next = 2;
    region::record rec;
    Bytes raw;
    for (const auto &c : cases) {
        const region::location loc = disk.reader.location_of(c[0]);
        EXPECT_TRUE(loc.offset == next && loc.sectors == (c[2] + 5 + 4095) / 4096) << c[0];
        next += loc.sectors;
        ASSERT_EQ(disk.reader.read_record(c[0], rec), status::ok) << c[0];
        EXPECT_TRUE(rec.compression == c[1] && rec.timestamp == c[3]) << c[0];
        EXPECT_TRUE(
            std::equal(rec.bytes.begin(), rec.bytes.end(), &bytes[c[0]], &bytes[c[0] + c[2]]));
        ASSERT_EQ(disk.reader.read_raw(c[0], raw), status::ok);
        EXPECT_TRUE(std::all_of(raw.begin() + 5 + c[2], raw.end(), [](uint8_t v) { return !v; }));
    }
    EXPECT_EQ(mem.bytes.size(), size_t{next} * 4096);
    EXPECT_EQ(disk.reader.read_record(6, rec), status::absent);
}

TEST(RegionReader, RealFileReadsAndCarriesOverThroughAFile) {
    OnDisk old(read_file(fixture));
    ASSERT_EQ(old.opened, open_result::ok);
    TempDir dir;
    const int fd = open(dir.file("copy").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    region::fd_sink file(fd);
    region::writer w(file);
    region::record rec, copied;
    Bytes raw;
    for (int slot = 0; slot < region::slot_count; ++slot) {
        if (old.reader.read_raw(slot, raw) == status::ok) {
            const uint32_t sectors = old.reader.location_of(slot).sectors;
            ASSERT_EQ(w.add_raw(slot, raw.data(), sectors, old.reader.timestamp(slot)),
                      write_result::ok);
        }
    }
    ASSERT_EQ(w.finish(), write_result::ok);
    close(fd);

    OnDisk copy(read_file(dir.file("copy")));
    EXPECT_EQ(copy.reader.file_size(), (2 + 58) * 4096); // 58 one-sector records, compact
    for (int slot = 0; slot < region::slot_count; ++slot) {
        EXPECT_EQ(copy.reader.state(slot), old.reader.state(slot)) << slot;
        if (old.reader.state(slot) == status::ok) {
            ASSERT_EQ(old.reader.read_record(slot, rec), status::ok) << slot;
            EXPECT_TRUE(rec.compression == 2 && rec.bytes.at(0) == 0x78) << slot;
            ASSERT_EQ(copy.reader.read_record(slot, copied), status::ok) << slot;
            EXPECT_TRUE(copied.bytes == rec.bytes && copied.timestamp == rec.timestamp) << slot;
        }
    }
}

TEST(RegionReader, DamagedFilesAreClassifiedSlotBySlot) {
    // Two neighbouring records of the fixture (sectors 10 and 11) and its
    // last one (sector 59, at the file's end).
    const int a = 94, b = 95, last = 159;
    struct Case {
        const char *what;
        size_t at; // where bytes are patched in
        Bytes bytes;
        size_t cut; // the file's new size, if not 0
        std::map<int, status> damaged;
    };
    const Case cases[] = {
        {"inside the header", 4 * a, {0, 0, 1, 1}, 0, {{a, status::in_header}}},
        {"past the end", 4 * a, {0, 0, 60, 1}, 0, {{a, status::past_end}}},
        {"cut short", 0, {}, 59 * 4096 + 100, {{last, status::past_end}}},
        {"last sector unpadded", 59 * 4096, {0, 0, 0, 96}, 59 * 4096 + 100, {}},
        {"overlapping", 4 * a, {0, 0, 10, 2}, 0, {{a, status::overlaps}, {b, status::overlaps}}},
        {"length 0", 10 * 4096, {0, 0, 0, 0}, 0, {{a, status::bad_length}}},
        {"length beyond", 10 * 4096, {0, 0, 0x0f, 0xfd}, 0, {{a, status::bad_length}}},
        {"length up to the end", 10 * 4096, {0, 0, 0x0f, 0xfc}, 0, {}},
        {"compression 127", 10 * 4096 + 4, {127}, 0, {{a, status::unknown_compression}}},
        {"compression 3", 10 * 4096 + 4, {3}, 0, {}},
        {"shorter than the header", 0, {}, 8191, {}},
        {"0 sectors", 4 * a, {0, 0, 10, 0}, 0, {{a, status::bad_length}}},
        {"1 MiB far past the end", 4 * a, {0, 0x13, 0x88, 0xff}, 0, {{a, status::past_end}}},
    };
    const Bytes original = read_file(fixture);
    const OnDisk intact(original);
    region::record rec;
    Bytes raw;
    for (const Case &c : cases) {
        Bytes f = original;
        std::copy(c.bytes.begin(), c.bytes.end(), f.begin() + c.at);
        f.resize(c.cut ? c.cut : f.size());
        OnDisk disk(f);
        ASSERT_EQ(disk.opened, f.size() < 8192 ? open_result::too_short : open_result::ok);
        for (int slot = 0; disk.opened == open_result::ok && slot < region::slot_count; ++slot) {
            const status was = intact.reader.state(slot);
            const status want = c.damaged.contains(slot) ? c.damaged.at(slot) : was;
            EXPECT_EQ(disk.reader.read_record(slot, rec), want) << c.what << " " << slot;
            // Raw sectors as the file holds them, zeros beyond its end.
            const region::location loc = disk.reader.location_of(slot);
            const size_t from = std::min<size_t>(loc.offset * 4096, f.size());
            Bytes want_raw(f.begin() + from,
                           f.begin() + std::min(from + loc.sectors * 4096, f.size()));
            want_raw.resize(loc.sectors * 4096);
            EXPECT_EQ(disk.reader.read_raw(slot, raw), was);
            EXPECT_TRUE(was == status::absent || raw == want_raw) << c.what << " " << slot;
        }
        if (disk.opened != open_result::ok) {
            continue;
        }
        // Carried over, every slot keeps its entry and the bytes of its
        // sectors, and the file never grows.
        region::memory_sink mem;
        region::writer w(mem);
        for (int slot = 0; slot < region::slot_count; ++slot) {
            ASSERT_EQ(w.carry(disk.reader, slot, raw), write_result::ok) << c.what << slot;
        }
        ASSERT_EQ(w.finish(), write_result::ok);
        EXPECT_LE(mem.bytes.size(), (f.size() + 4095) / 4096 * 4096) << c.what;
        OnDisk copy(mem.bytes);
        Bytes now;
        for (int slot = 0; slot < region::slot_count; ++slot) {
            const status was = disk.reader.state(slot);
            EXPECT_EQ(copy.reader.location_of(slot).sectors, disk.reader.location_of(slot).sectors)
                << c.what << " " << slot;
            if (was == status::ok || was == status::overlaps) {
                disk.reader.read_raw(slot, raw);
                copy.reader.read_raw(slot, now);
                EXPECT_TRUE(raw == now) << c.what << " " << slot;
            }
        }
    }
}

} // namespace
