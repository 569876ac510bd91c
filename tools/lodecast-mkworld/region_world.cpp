#include "region_world.h"

#include "chunk_doc.h"
#include "lodecast/region_file.h"
#include "nbt/nbt_io.h"
#include "tags.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace mkworld {

namespace {

// Every record gets the same time so that two runs give the same bytes.
constexpr uint32_t kTimestamp = 1300000000;

struct chunk_range {
    int32_t lo;
    int32_t hi; // inclusive
    bool holds(int32_t x, int32_t z) const { return x >= lo && x <= hi && z >= lo && z <= hi; }
};

// Writes region (rx, rz) with every chunk of range inside it, slots in index
// order; the file's size is added to *bytes. false after a message.
bool write_region(const fs::path &file, int32_t rx, int32_t rz, chunk_range range, nbt_codec *codec,
                  uint64_t *bytes) {
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "Cannot create %s: %s\n", file.c_str(), std::strerror(errno));
        return false;
    }
    region::fd_sink sink(fd);
    region::writer out(sink);
    nbt::buffer encoded;
    bool ok = true;
    for (int slot = 0; slot < region::slot_count && ok; ++slot) {
        const region::chunk_pos c = region::chunk_of_slot(rx, rz, slot);
        if (!range.holds(c.x, c.z)) {
            continue;
        }
        nbt::document doc = make_chunk(c.x, c.z);
        encoded.clear();
        ok = doc && nbt_encode(doc.get(), NBT_ZLIB, encoded.get(), codec) >= 0 &&
             out.add_record(slot, region::compression_zlib, encoded.data(), encoded.size(),
                            kTimestamp) == region::write_result::ok;
    }
    ok = ok && out.finish() == region::write_result::ok;
    struct stat st {};
    ok = ok && fstat(fd, &st) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "Cannot write %s\n", file.c_str());
        return false;
    }
    *bytes += static_cast<uint64_t>(st.st_size);
    return true;
}

// A plausible minimal level.dat; every value is fixed so that worlds are
// reproducible.
bool write_level_dat(const fs::path &file, uint64_t size_on_disk) {
    nbt::document doc = nbt::make_document();
    nbt::tag_ptr root = compound("");
    nbt::tag_ptr data = compound("Data");
    if (!doc || !root || !data) {
        return false;
    }
    nbt_tag *d = data.get();
    const bool ok = add(root.get(), std::move(data)) &&
                    add(d, int_tag("version", region_world_version)) &&
                    add(d, string_tag("LevelName", "lodecast demo")) &&
                    add(d, long_tag("RandomSeed", 0)) && add(d, long_tag("LastPlayed", 0)) &&
                    add(d, int_tag("SpawnX", 0)) && add(d, int_tag("SpawnY", 80)) &&
                    add(d, int_tag("SpawnZ", 0)) && add(d, long_tag("Time", 0)) &&
                    add(d, long_tag("SizeOnDisk", static_cast<int64_t>(size_on_disk)));
    if (!ok) {
        return false;
    }
    doc->root = root.release();
    return nbt_write(doc.get(), file.c_str()) >= 0;
}

} // namespace

int make_region_world(const fs::path &dir, int side) {
    const int32_t lo = -(side / 2);
    const chunk_range range{lo, lo + side - 1};
    const fs::path folder = dir / "region";
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        std::fprintf(stderr, "Cannot create %s: %s\n", folder.c_str(), ec.message().c_str());
        return 1;
    }
    nbt::codec codec = nbt::make_codec();
    uint64_t bytes = 0;
    for (int32_t rx = region::region_of(range.lo); rx <= region::region_of(range.hi); ++rx) {
        for (int32_t rz = region::region_of(range.lo); rz <= region::region_of(range.hi); ++rz) {
            const fs::path file = folder / region::file_name(rx, rz, region::extension::mcr);
            if (!write_region(file, rx, rz, range, codec.get(), &bytes)) {
                return 1;
            }
        }
    }
    if (!write_level_dat(dir / "level.dat", bytes)) {
        std::fprintf(stderr, "Cannot write %s\n", (dir / "level.dat").c_str());
        return 1;
    }
    std::fprintf(stderr, "Wrote %d chunks to %s\n", side * side, dir.c_str());
    return 0;
}

} // namespace mkworld
