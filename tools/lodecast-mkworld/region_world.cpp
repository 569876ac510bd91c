#include "region_world.h"
#include "durable/durable.h"

#include "chunk_doc.h"
#include "lodecast/formats/chunk_document.h"
#include "lodecast/formats/record_codec.h"
#include "lodecast/formats/region_file.h"
#include "lodecast/formats/staged_sink.h"
#include "modern_chunk.h"
#include "nbt/nbt_io.h"
#include "sectioned_chunk.h"
#include "tags.h"

#include <algorithm>
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
    // How far (in chunks) x, z lies inside the range's edge: 0 on the edge.
    int32_t depth(int32_t x, int32_t z) const {
        return std::min(std::min(x - lo, hi - x), std::min(z - lo, hi - z));
    }
};

bool paletted(region_style style) {
    return style == region_style::paletted_1_16 || style == region_style::paletted_1_18;
}

nbt::document make_region_chunk(int32_t x, int32_t z, chunk_range range, region_style style) {
    if (!paletted(style)) {
        return style == region_style::sectioned ? make_sectioned_chunk(x, z) : make_chunk(x, z);
    }
    generation g = generation::full;
    if (range.hi - range.lo >= 4) {
        const int32_t d = range.depth(x, z);
        g = d == 0 ? generation::noise : d == 1 ? generation::features : generation::full;
    }
    return make_paletted_chunk(
        x, z, style == region_style::paletted_1_18 ? paletted_era::v1_18 : paletted_era::v1_16, g);
}

// Chunk (x, z)'s record into its external file beside the region, and its
// stub into the region.
bool write_external(const fs::path &folder, int32_t x, int32_t z, int slot, uint8_t compression,
                    const nbt::buffer &bytes, region::writer &out,
                    uint32_t timestamp = kTimestamp) {
    const fs::path file = folder / region::external_name(x, z);
    return durable_replace_file(file.c_str(), bytes.data(), bytes.size(), nullptr, nullptr) ==
               DURABLE_OK &&
           out.add_external_stub(slot, compression, timestamp) == region::write_result::ok;
}

bool is_external(const record_style &style, int32_t x, int32_t z) {
    return std::find(style.external.begin(), style.external.end(), std::pair{x, z}) !=
           style.external.end();
}

// The record of slot in style into out; false when it does not read as a
// document (it is then carried over).
bool restyle_record(const region::reader &in, int slot, region::chunk_pos c, const fs::path &folder,
                    const record_style &style, nbt_codec *codec, region::writer &out,
                    std::vector<fs::path> &stale, bool *failed) {
    region::record rec;
    std::vector<unsigned char> plain;
    record_payload payload;
    nbt::document doc = nbt::make_document();
    if (in.read_record(slot, rec) != region::status::ok || !doc ||
        record_payload_of(rec.compression, rec.bytes.data(), rec.bytes.size(), plain,
                          max_chunk_decoded_bytes, &payload) != lz4_stream::result::ok ||
        nbt_parse_memory(doc.get(), payload.data, payload.size, payload.how, nullptr, codec) !=
            NBT_OK) {
        return false;
    }
    nbt::buffer bytes;
    const bool ok = encode_record(doc.get(), style.compression, bytes.get(), codec, plain);
    const bool external = is_external(style, c.x, c.z) ||
                          bytes.size() > region::max_record_sectors * region::sector_bytes -
                                             region::record_head_bytes;
    *failed =
        !ok || !(external ? write_external(folder, c.x, c.z, slot, style.compression, bytes, out,
                                           rec.timestamp)
                          : out.add_record(slot, style.compression, bytes.data(), bytes.size(),
                                           rec.timestamp) == region::write_result::ok);
    if (rec.external && !external) {
        stale.push_back(folder / region::external_name(c.x, c.z));
    }
    return true;
}

// Writes region (rx, rz) with every chunk of range inside it, slots in index
// order; the file's size is added to *bytes. false after a message.
bool write_region(const fs::path &file, int32_t rx, int32_t rz, chunk_range range, nbt_codec *codec,
                  region_style style, const record_style &records, uint64_t *bytes) {
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "lodecast-mkworld: cannot create %s: %s\n", file.c_str(),
                     std::strerror(errno));
        return false;
    }
    region::fd_sink sink(fd);
    region::writer out(sink);
    nbt::buffer record;
    std::vector<unsigned char> scratch;
    bool ok = true;
    for (int slot = 0; slot < region::slot_count && ok; ++slot) {
        const region::chunk_pos c = region::chunk_of_slot(rx, rz, slot);
        if (!range.holds(c.x, c.z)) {
            continue;
        }
        nbt::document doc = make_region_chunk(c.x, c.z, range, style);
        const bool external = is_external(records, c.x, c.z);
        record.clear();
        ok = doc && encode_record(doc.get(), records.compression, record.get(), codec, scratch) &&
             (external ? write_external(file.parent_path(), c.x, c.z, slot, records.compression,
                                        record, out)
                       : out.add_record(slot, records.compression, record.data(), record.size(),
                                        kTimestamp) == region::write_result::ok);
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

// The mod loader's block registry of a sectioned world: some of the game's
// blocks and the two mod ores.
nbt::tag_ptr block_registry_tag() {
    static const struct {
        const char *name;
        int32_t id;
    } blocks[] = {{"minecraft:air", 0},          {"minecraft:stone", 1},
                  {"minecraft:grass", 2},        {"minecraft:dirt", 3},
                  {"minecraft:bedrock", 7},      {"minecraft:gravel", 13},
                  {"minecraft:gold_ore", 14},    {"minecraft:iron_ore", 15},
                  {"minecraft:coal_ore", 16},    {"minecraft:lapis_ore", 21},
                  {"minecraft:diamond_ore", 56}, {"minecraft:redstone_ore", 73},
                  {"lodecast:tin_ore", kTinOre}, {"lodecast:ruby_ore", kRubyOre}};
    nbt::tag_ptr fml = compound("FML");
    nbt::tag_ptr registries = compound("Registries");
    nbt::tag_ptr registry = compound("minecraft:blocks");
    nbt::tag_ptr ids = compound_list("ids");
    bool ok = fml && registries && registry && ids;
    for (const auto &b : blocks) {
        nbt::tag_ptr item = compound("");
        ok = ok && item && add(item.get(), string_tag("K", b.name)) &&
             add(item.get(), int_tag("V", b.id)) && add_item(ids.get(), std::move(item));
    }
    nbt_tag *reg = registry.get();
    nbt_tag *regs = registries.get();
    ok = ok && add(reg, std::move(ids)) && add(regs, std::move(registry)) &&
         add(fml.get(), std::move(registries));
    return ok ? std::move(fml) : nullptr;
}

// The game's own name for its version: "Version" {Id, Name, Snapshot}.
nbt::tag_ptr version_tag(int32_t data_version) {
    nbt::tag_ptr v = compound("Version");
    const bool ok =
        v && add(v.get(), int_tag("Id", data_version)) &&
        add(v.get(), string_tag("Name", data_version == data_version_1_18 ? "1.19.3" : "1.16.5")) &&
        add(v.get(), byte_tag("Snapshot", 0));
    return ok ? std::move(v) : nullptr;
}

// A plausible minimal level.dat; every value is fixed so that worlds are
// reproducible.
bool write_level_dat(const fs::path &file, uint64_t size_on_disk, region_style style) {
    nbt::document doc = nbt::make_document();
    nbt::tag_ptr root = compound("");
    nbt::tag_ptr data = compound("Data");
    if (!doc || !root || !data) {
        return false;
    }
    nbt_tag *d = data.get();
    const bool sectioned = style != region_style::flat;
    const int32_t data_version = style == region_style::paletted_1_18   ? data_version_1_18
                                 : style == region_style::paletted_1_16 ? data_version_1_16
                                                                        : sectioned_data_version;
    const bool ok =
        add(root.get(), std::move(data)) &&
        add(d, int_tag("version", sectioned ? sectioned_world_version : region_world_version)) &&
        (!sectioned || add(d, int_tag("DataVersion", data_version))) &&
        (style != region_style::sectioned || add(root.get(), block_registry_tag())) &&
        add(d, string_tag("LevelName", "lodecast demo")) && add(d, long_tag("RandomSeed", 0)) &&
        add(d, long_tag("LastPlayed", 0)) && add(d, int_tag("SpawnX", 0)) &&
        add(d, int_tag("SpawnY", 80)) && add(d, int_tag("SpawnZ", 0)) &&
        add(d, long_tag("Time", 0)) &&
        add(d, long_tag("SizeOnDisk", static_cast<int64_t>(size_on_disk))) &&
        (!paletted(style) || add(d, version_tag(data_version)));
    if (!ok) {
        return false;
    }
    doc->root = root.release();
    return nbt_write(doc.get(), file.c_str()) >= 0;
}

} // namespace

int make_region_world(const fs::path &dir, int side, region_style style,
                      const record_style &records) {
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
            const fs::path file =
                folder / region::file_name(rx, rz,
                                           style == region_style::flat ? region::extension::mcr
                                                                       : region::extension::mca);
            if (!write_region(file, rx, rz, range, codec.get(), style, records, &bytes)) {
                return 1;
            }
        }
    }
    if (!write_level_dat(dir / "level.dat", bytes, style)) {
        std::fprintf(stderr, "Cannot write %s\n", (dir / "level.dat").c_str());
        return 1;
    }
    std::fprintf(stderr, "Wrote %d chunks to %s\n", side * side, dir.c_str());
    return 0;
}

int restyle_region(const fs::path &file, const record_style &style) {
    int32_t rx = 0, rz = 0;
    region::extension ext;
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    region::reader in;
    if (!region::parse_file_name(file.filename().string(), &rx, &rz, &ext) || fd < 0 ||
        in.open(fd) != region::open_result::ok) {
        std::fprintf(stderr, "lodecast-mkworld: %s: not a readable region file\n", file.c_str());
        if (fd >= 0) {
            close(fd);
        }
        return 1;
    }
    const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    in.find_external(folder.string(), rx, rz);
    durable_staged *staged = nullptr;
    bool failed = durable_stage_open(file.c_str(), &staged, nullptr) != DURABLE_OK;
    staged_sink sink(staged);
    region::writer out(sink);
    nbt::codec codec = nbt::make_codec();
    std::vector<unsigned char> scratch;
    std::vector<fs::path> stale; // removed once the region no longer points at them
    for (int slot = 0; slot < region::slot_count && !failed; ++slot) {
        const region::chunk_pos c = region::chunk_of_slot(rx, rz, slot);
        if (!restyle_record(in, slot, c, folder, style, codec.get(), out, stale, &failed)) {
            failed = out.carry(in, slot, scratch) != region::write_result::ok;
        }
    }
    close(fd);
    failed = failed || out.finish() != region::write_result::ok ||
             durable_stage_sync(staged, nullptr) != DURABLE_OK;
    if (failed || durable_stage_commit(staged, nullptr) != DURABLE_OK) {
        if (failed) {
            durable_stage_discard(staged);
        }
        std::fprintf(stderr, "lodecast-mkworld: cannot rewrite %s\n", file.c_str());
        return 1;
    }
    for (const fs::path &p : stale) {
        ::unlink(p.c_str());
    }
    return 0;
}

} // namespace mkworld
