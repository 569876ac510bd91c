#include "lodecast/formats/region_world.h"
#include "durable/durable.h"

#include "lodecast/formats/chunk_document.h"
#include "lodecast/formats/record_codec.h"
#include "lodecast/formats/staged_sink.h"
#include "lodecast/pipeline/output.h"
#include "lodecast/storage/section_blocks.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A record never spans more sectors than the location's count can say;
// a larger one goes to the chunk's external file.
constexpr size_t max_record_bytes =
    size_t{region::max_record_sectors} * region::sector_bytes - region::record_head_bytes;

constexpr const char *unknown_compression_reason = "its record has an unknown compression";

const char *damage_reason(region::status s) {
    switch (s) {
    case region::status::in_header:
        return "its location points into the header";
    case region::status::past_end:
        return "its record runs past the end of the file";
    case region::status::overlaps:
        return "its record overlaps another record";
    case region::status::bad_length:
        return "its record has an impossible length";
    case region::status::unknown_compression:
        return unknown_compression_reason;
    case region::status::io_error:
        return "its record could not be read";
    case region::status::external_missing:
        return "its external chunk file is missing";
    default:
        return "its record is damaged";
    }
}

// "Level" > name as an int, or false.
bool level_int(nbt_tag *root, const char *name, int32_t *out) {
    nbt_tag *t = find_in_level(root, name);
    int32_t *v = t == nullptr ? nullptr : nbt_cast_int(t);
    if (v == nullptr) {
        return false;
    }
    *out = *v;
    return true;
}

class region_unit : public world_unit {
  public:
    region_unit(std::string path, std::string rel, int fd, const struct stat &st,
                std::string folder, const struct stat &folder_st, int32_t rx, int32_t rz,
                chunk_shape shape)
        : path_(std::move(path)), rel_(std::move(rel)), folder_(std::move(folder)), fd_(fd),
          st_(st), folder_st_(folder_st), rx_(rx), rz_(rz), shape_(shape) {}

    // Reads the header; the unit's chunks are the slots that name a record.
    region::open_result open(const std::string &region_folder) {
        const region::open_result r = reader_.open(fd_);
        if (r != region::open_result::ok) {
            return r;
        }
        reader_.find_external(region_folder, rx_, rz_);
        for (int slot = 0; slot < region::slot_count; ++slot) {
            const region::location loc = reader_.location_of(slot);
            if (loc.offset == 0 && loc.sectors == 0) {
                continue;
            }
            const region::chunk_pos pos = region::chunk_of_slot(rx_, rz_, slot);
            slots_.push_back(slot);
            chunk_meta m;
            m.x = pos.x;
            m.z = pos.z;
            m.mtime = reader_.timestamp(slot);
            metas_.push_back(m);
        }
        reasons_.assign(slots_.size(), nullptr);
        compressions_.assign(slots_.size(), region::compression_zlib);
        externals_.assign(slots_.size(), 0);
        return r;
    }
    ~region_unit() override {
        if (staged_ != nullptr) {
            durable_stage_discard(staged_);
        }
        for (durable_staged *s : external_files_) {
            durable_stage_discard(s);
        }
        ::close(fd_);
    }

    const std::string &path() const override { return path_; }
    dev_t dev() const override { return st_.st_dev; }
    ino_t ino() const override { return st_.st_ino; }
    const std::string &folder() const override { return folder_; }
    dev_t folder_dev() const override { return folder_st_.st_dev; }
    ino_t folder_ino() const override { return folder_st_.st_ino; }
    size_t chunk_count() const override { return slots_.size(); }
    const chunk_meta &meta(size_t i) const override { return metas_[i]; }
    std::string label(size_t i) const override {
        return rel_ + " (" + std::to_string(metas_[i].x) + ", " + std::to_string(metas_[i].z) + ")";
    }

    std::string describe(size_t i) const override {
        return path_ + " (" + std::to_string(metas_[i].x) + ", " + std::to_string(metas_[i].z) +
               ")";
    }
    std::string why(size_t i) const override { return reasons_[i] != nullptr ? reasons_[i] : ""; }

    void report(size_t i, chunk_status status) const override {
        if (i == whole_unit) {
            out_printf("%s: the region file could not be written - left unchanged%s%s%s\n",
                       shown(path_).c_str(), errno_ != 0 ? " (" : "",
                       errno_ != 0 ? std::strerror(errno_) : "", errno_ != 0 ? ")" : "");
            return;
        }
        const char *why = reasons_[i];
        if (why == unknown_compression_reason) {
            // One line for the file: a mod's compressor names every record.
            if (!unknown_said_) {
                unknown_said_ = true;
                out_printf("%s: records of a compression lodecast does not know (%d) - kept as "
                           "they are\n",
                           shown(path_).c_str(), compressions_[i]);
            }
            return;
        }
        if (why == nullptr) {
            switch (status) {
            case chunk_status::init_failed:
                why = "out of memory";
                break;
            case chunk_status::too_large:
                why = "with its veins it would exceed the record size limit";
                break;
            case chunk_status::write_failed:
                why = "it could not be encoded";
                break;
            default:
                why = "not a valid chunk";
                break;
            }
        }
        out_printf("%s chunk (%d, %d): %s - record kept as it is\n", shown(path_).c_str(),
                   metas_[i].x, metas_[i].z, why);
    }

    chunk_status load(size_t i, nbt::document &out, chunk_io &io) const override {
        const int slot = slots_[i];
        region::status s = reader_.state(slot);
        if (s == region::status::ok) {
            region::record rec;
            rec.bytes.swap(io.raw);
            s = reader_.read_record(slot, rec);
            rec.bytes.swap(io.raw);
            compressions_[i] = rec.compression;
            externals_[i] = rec.external ? 1 : 0;
            if (s == region::status::ok) {
                return parse(i, rec.compression, out, io);
            }
        }
        reasons_[i] = damage_reason(s);
        return chunk_status::parse_failed;
    }

    // In the record's own compression; a record too large for the region
    // goes to an external file when accepted.
    chunk_status encode(size_t i, const nbt_file *doc, nbt::buffer &out,
                        chunk_io &io) const override {
        if (!encode_record(doc, compressions_[i], out.get(), io.codec.get(), io.raw)) {
            return chunk_status::write_failed;
        }
        return out.size() > region::max_external_bytes ? chunk_status::too_large : chunk_status::ok;
    }

    chunk_status accept(size_t i, nbt::buffer &&bytes) override {
        const int slot = slots_[i];
        if (bytes.empty() && staged_ == nullptr) {
            return chunk_status::ok; // nothing changed yet: carried over later
        }
        if (staged_ == nullptr && !begin_writing()) {
            return chunk_status::ok; // the commit reports it
        }
        carry_until(slot);
        if (bytes.empty()) {
            carry(slot);
        } else if (bytes.size() > max_record_bytes) {
            write_external(i, bytes);
        } else {
            if (writer_->add_record(slot, compressions_[i], bytes.data(), bytes.size(), now_) !=
                region::write_result::ok) {
                fail();
            }
            if (externals_[i] != 0) {
                stale_.push_back(external_path(i)); // removed once the region no longer needs it
            }
        }
        changed_ = true;
        next_slot_ = slot + 1;
        return chunk_status::ok;
    }

    // A file that could not even be opened for writing is reported too.
    bool changed() const override { return changed_ || staged_ != nullptr || failed_; }

    chunk_status commit(const durable_policy &durability) override {
        carry_until(region::slot_count);
        if (failed_ || writer_->finish() != region::write_result::ok ||
            durable_stage_sync(staged_, &durability) != DURABLE_OK || !may_rename()) {
            fail();
            return chunk_status::write_failed;
        }
        // External files first, each whole, so that the new region never
        // points at a missing one.
        for (durable_staged *&e : external_files_) {
            durable_staged *one = e;
            e = nullptr;
            if (durable_stage_sync(one, &durability) != DURABLE_OK) {
                fail();
                durable_stage_discard(one);
                return chunk_status::write_failed;
            }
            if (durable_stage_commit(one, &durability) != DURABLE_OK) {
                fail();
                return chunk_status::write_failed;
            }
        }
        durable_staged *s = staged_;
        staged_ = nullptr;
        if (durable_stage_commit(s, &durability) != DURABLE_OK) {
            fail();
            return chunk_status::write_failed;
        }
        for (const std::string &stale : stale_) {
            ::unlink(stale.c_str());
        }
        return chunk_status::ok;
    }

    bool owner_changed() const override { return report_.owner_changed != 0; }

  private:
    chunk_status parse(size_t i, uint8_t compression, nbt::document &out, chunk_io &io) const {
        std::vector<unsigned char> plain;
        record_payload payload;
        chunk_status st = chunk_status::invalid;
        switch (record_payload_of(compression, io.raw.data(), io.raw.size(), plain,
                                  max_chunk_decoded_bytes, &payload)) {
        case lz4_stream::result::ok:
            st = parse_chunk(payload.data, payload.size, payload.how, out, io);
            break;
        case lz4_stream::result::too_large:
            break;
        case lz4_stream::result::no_memory:
            return chunk_status::init_failed;
        case lz4_stream::result::damaged:
            reasons_[i] = "its LZ4 stream is damaged";
            return chunk_status::parse_failed;
        }
        if (st == chunk_status::parse_failed) {
            reasons_[i] = "its document does not decompress or parse";
        } else if (st == chunk_status::invalid) {
            reasons_[i] = "its document is over the limits of a chunk";
        }
        if (st != chunk_status::ok) {
            return st;
        }
        int32_t x = 0;
        int32_t z = 0;
        if (level_int(out->root, "xPos", &x) && level_int(out->root, "zPos", &z) &&
            (x != metas_[i].x || z != metas_[i].z)) {
            reasons_[i] = "its xPos and zPos do not match its place in the region file";
            out.reset();
            return chunk_status::invalid;
        }
        chunk_sections sections;
        if (shape_ == chunk_shape::sectioned &&
            sections.bind(out->root) == sections_shape::unknown_storage) {
            reasons_[i] = "a section holds block storage lodecast does not understand";
            out.reset();
            return chunk_status::invalid;
        }
        return chunk_status::ok;
    }

    bool begin_writing() {
        errno = 0; // a refusal without a system error leaves no stale reason
        if (durable_stage_open(path_.c_str(), &staged_, &report_) != DURABLE_OK) {
            staged_ = nullptr;
            fail();
            return false;
        }
        sink_ = std::make_unique<staged_sink>(staged_);
        writer_ = std::make_unique<region::writer>(*sink_);
        now_ = static_cast<uint32_t>(std::time(nullptr));
        return true;
    }

    std::string external_path(size_t i) const {
        return folder_ + "/" + region::external_name(metas_[i].x, metas_[i].z);
    }

    // The record's bytes into the chunk's external file, staged until the
    // commit, and its stub into the region.
    void write_external(size_t i, const nbt::buffer &bytes) {
        durable_staged *e = nullptr;
        if (durable_stage_open(external_path(i).c_str(), &e, nullptr) != DURABLE_OK) {
            fail();
            return;
        }
        external_files_.push_back(e);
        if (durable_stage_write(e, bytes.data(), bytes.size()) != DURABLE_OK ||
            writer_->add_external_stub(slots_[i], compressions_[i], now_) !=
                region::write_result::ok) {
            fail();
        }
    }

    // Carries every record from next_slot_ up to (not including) end over
    // as it is.
    void carry_until(int end) {
        for (; next_slot_ < end; ++next_slot_) {
            carry(next_slot_);
        }
    }
    void carry(int slot) {
        if (!failed_ && writer_->carry(reader_, slot, raw_) != region::write_result::ok) {
            fail();
        }
    }
    // The first failure's errno says why the file could not be written.
    void fail() {
        if (!failed_) {
            errno_ = errno;
        }
        failed_ = true;
    }

    std::string path_;
    std::string rel_;
    std::string folder_;
    int fd_;
    struct stat st_;
    struct stat folder_st_;
    int32_t rx_;
    int32_t rz_;
    chunk_shape shape_;
    region::reader reader_;
    std::vector<int> slots_;
    std::vector<chunk_meta> metas_;
    // Why chunk i's record was left alone; each written only by the thread
    // loading that chunk, read when it retires.
    mutable std::vector<const char *> reasons_;
    // Chunk i's compression byte and whether its record was external, as
    // its load found them (the same threading as reasons_).
    mutable std::vector<uint8_t> compressions_;
    mutable std::vector<uint8_t> externals_;
    mutable bool unknown_said_ = false;
    durable_staged *staged_ = nullptr;
    std::vector<durable_staged *> external_files_;
    std::vector<std::string> stale_;
    durable_report report_{};
    std::unique_ptr<staged_sink> sink_;
    std::unique_ptr<region::writer> writer_;
    std::vector<unsigned char> raw_;
    int next_slot_ = 0;
    uint32_t now_ = 0;
    bool changed_ = false;
    bool failed_ = false;
    int errno_ = 0;
};

} // namespace

region_world_format::region_world_format(std::string folder, std::string rel, region::extension ext,
                                         chunk_shape shape)
    : folder_(std::move(folder)), rel_(std::move(rel)), ext_(ext), shape_(shape) {}

bool region_world_format::open() {
    DIR *d = ::opendir(folder_.c_str());
    if (d == nullptr) {
        return false;
    }
    while (const dirent *e = ::readdir(d)) {
        entry f;
        region::extension ext;
        if (region::parse_file_name(e->d_name, &f.rx, &f.rz, &ext) && ext == ext_) {
            f.name = e->d_name;
            files_.push_back(std::move(f));
        }
    }
    ::closedir(d);
    std::sort(files_.begin(), files_.end(), [](const entry &a, const entry &b) {
        return a.rx != b.rx ? a.rx < b.rx : a.rz < b.rz;
    });
    return true;
}

world_format::step region_world_format::next(std::unique_ptr<world_unit> &out, walk_hooks &hooks) {
    struct stat folder_st {};
    if (at_ == 0 && ::stat(folder_.c_str(), &folder_st) == 0) {
        hooks.settle_folder(folder_st.st_dev, folder_st.st_ino);
    }
    while (at_ < files_.size()) {
        const entry &f = files_[at_++];
        const std::string path = folder_ + "/" + f.name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            const int err = errno;
            if (fd >= 0) {
                ::close(fd);
            }
            if (fd < 0 && err == ENOENT) {
                continue; // gone since the listing
            }
            hooks.skipped(path, fd < 0 ? std::strerror(err) : "not a regular file");
            continue;
        }
        ::stat(folder_.c_str(), &folder_st);
        auto unit = std::make_unique<region_unit>(path, rel_ + "/" + f.name, fd, st, folder_,
                                                  folder_st, f.rx, f.rz, shape_);
        const region::open_result r = unit->open(folder_);
        if (r != region::open_result::ok) {
            hooks.skipped(path, r == region::open_result::too_short
                                    ? "too short to be a region file"
                                    : std::strerror(errno));
            continue;
        }
        out = std::move(unit);
        return step::unit;
    }
    return step::end;
}
