#include "lodecast/living/chunk_record.h"
#include "durable/durable.h"

#include "lodecast/formats/dimension.h"
#include "lodecast/formats/level_data.h"
#include "nbt/nbt.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

const char record_folder[] = "lodecast-data";

namespace {

const char header[] = "lodecast record 1";

bool write_all(int fd, const std::string &text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool sync_folder(const std::string &dir) {
    return durable_sync_folder(dir.c_str(), 0, nullptr) == DURABLE_OK;
}

} // namespace

std::string record_settings(const std::string &ore, const options *opt) {
    std::string rule;
    const std::pair<uint32_t, const char *> rules[] = {
        {OPT_OVER_ORES, "ores"}, {OPT_OVER_BLOCKS, "blocks"}, {OPT_OVER_ALL, "all"}};
    for (const auto &[bit, name] : rules) {
        if (opt->set & bit) {
            if (!rule.empty()) {
                rule += '+';
            }
            rule += name;
        }
    }
    std::ostringstream s;
    s << "ore=" << ore << " rounds=" << opt->rounds << " min=" << opt->min_depth
      << " max=" << opt->max_depth << " size=" << opt->size
      << " data=" << ((opt->set & OPT_DATA) ? std::to_string(opt->data) : "-")
      << " replace=" << (rule.empty() ? "stone" : rule);
    // The distributions' settings only when given, so that older records
    // still match runs without them.
    if (opt->set & OPT_SPREAD) {
        s << " spread";
    }
    if (opt->set & OPT_TRIANGLE) {
        s << " tri";
    }
    if (opt->set & OPT_AIR) {
        s << " air=" << opt->air_chance;
    }
    if (opt->set & OPT_EVERY) {
        s << " every=" << opt->every;
    }
    if ((opt->set & OPT_BIOME) && opt->biome_names != nullptr) {
        s << " biome=" << opt->biome_names;
    }
    if (opt->set & OPT_SAVED_BEFORE) {
        s << " saved-before=" << opt->saved_before;
    }
    return s.str();
}

std::string record_dimension(const options *opt) {
    return dimension_key((opt->set & OPT_DIMENSION) ? opt->dimension : nullptr);
}

std::string world_identity(const std::string &world) {
    nbt::document doc;
    if (read_level_dat(world, doc) == level_read::ok) {
        nbt_tag *data = nbt_find_tag_by_name("Data", doc->root);
        nbt_tag *name = nbt_find_tag_by_name("LevelName", data);
        nbt_tag *seed = nbt_find_tag_by_name("RandomSeed", data);
        const char *n = name != nullptr ? nbt_cast_string(name) : nullptr;
        const int64_t *s = seed != nullptr ? nbt_cast_long(seed) : nullptr;
        if (n != nullptr && s != nullptr) {
            std::string text = "level seed=" + std::to_string(*s) + " name=" + n;
            for (char &c : text) {
                c = c == '\n' || c == '\r' ? ' ' : c; // one line whatever the name
            }
            return text;
        }
    }
    char real[PATH_MAX];
    return std::string("path ") +
           (::realpath(world.c_str(), real) != nullptr ? real : world.c_str());
}

chunk_record::chunk_record(std::string world, std::string dimension, std::string settings)
    : world_(std::move(world)), path_(world_ + "/" + record_folder + "/record"),
      dimension_(std::move(dimension)), settings_(std::move(settings)),
      identity_(world_identity(world_)) {}

chunk_record::~chunk_record() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool chunk_record::parse_line(const std::string &line, int number, std::string &error) {
    const auto bad = [&](const char *why) {
        error = path_ + " line " + std::to_string(number) + ": " + why;
        return false;
    };
    if (number == 1) {
        return line == header ||
               bad("not a lodecast record of this version (\"lodecast record 1\")");
    }
    // A later "world" line is a record taken over by another world.
    if (line.rfind("world ", 0) == 0) {
        found_identity_ = line.substr(6);
        return true;
    }
    if (number == 2) {
        return bad("no \"world\" line");
    }
    std::istringstream fields(line);
    char sign = 0;
    std::string dim;
    long long x = 0;
    long long z = 0;
    std::string rest;
    if (!(fields >> sign >> dim >> x >> z) || (sign != '+' && sign != '-') || x < INT32_MIN ||
        x > INT32_MAX || z < INT32_MIN || z > INT32_MAX || !std::getline(fields, rest) ||
        rest.rfind(" ore=", 0) != 0) {
        return bad("not a chunk line (\"+|- <dimension> <x> <z> ore=...\")");
    }
    if (dim == dimension_ && rest.size() == settings_.size() + 1 && rest.ends_with(settings_)) {
        const std::pair<int32_t, int32_t> c{static_cast<int32_t>(x), static_cast<int32_t>(z)};
        if (sign == '+') {
            done_.insert(c);
        } else {
            done_.erase(c);
        }
    }
    return true;
}

bool chunk_record::read_lines(int fd, off_t &whole, std::string &error) {
    // Line by line as it is read: what stays is the chunks of this run's
    // settings, not the text.
    char buf[65536];
    std::string line;
    int number = 0;
    uint64_t total = 0;
    struct stat st {};
    // Refused whatever it holds, before a byte is read; and should it grow
    // while being read, at the limit.
    const auto too_large = [&] {
        error = path_ + " is larger than " + std::to_string(record_size_limit >> 20) +
                " MiB, the most lodecast reads; move it away to start a new record";
        return false;
    };
    if (::fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) > record_size_limit) {
        return too_large();
    }
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = "cannot read " + path_ + ": " + std::strerror(errno);
            return false;
        }
        if (n == 0) {
            break;
        }
        total += static_cast<uint64_t>(n);
        if (total > record_size_limit) {
            return too_large();
        }
        for (const char *p = buf, *end = buf + n; p < end;) {
            const char *nl = static_cast<const char *>(std::memchr(p, '\n', end - p));
            line.append(p, nl != nullptr ? nl : end);
            p = nl != nullptr ? nl + 1 : end;
            if (nl != nullptr && !parse_line(line, ++number, error)) {
                return false;
            }
            if (nl != nullptr) {
                line.clear();
            }
        }
    }
    // A last line without its line break is an append cut short: its commit
    // never started, so it is left out (and cut off before appending).
    whole = static_cast<off_t>(total - line.size());
    if (found_identity_.empty()) {
        error = path_ + ": no \"world\" line";
        return false;
    }
    return true;
}

bool chunk_record::open(bool writable, bool adopt, const durable_policy &durability,
                        std::string &error) {
    const std::string folder = world_ + "/" + record_folder;
    const auto fail = [&](const std::string &what) {
        error = what + ": " + std::strerror(errno);
        return false;
    };
    durability_ = durability;
    // Appends go to the end whoever else has it open; a link or a FIFO is
    // refused before anything is read from it (a FIFO would block).
    int fd = ::open(path_.c_str(), (writable ? O_RDWR | O_APPEND : O_RDONLY) | O_NOFOLLOW |
                                       O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && (errno != ENOENT || !writable)) {
        if (errno == ELOOP) {
            error = path_ + " is not a regular file";
            return false;
        }
        return errno == ENOENT ? true : fail("cannot open " + path_);
    }
    struct stat st {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        error = path_ + " is not a regular file";
        return false;
    }
    if (fd >= 0) {
        off_t whole = 0;
        if (!read_lines(fd, whole, error)) {
            ::close(fd);
            return false;
        }
        const bool foreign = found_identity_ != identity_;
        if (foreign && !adopt) {
            ::close(fd);
            error = path_ + " was written for another world (" + found_identity_ +
                    "; this one is " + identity_ + ")";
            return false;
        }
        if (writable && whole != st.st_size && ::ftruncate(fd, whole) != 0) {
            ::close(fd);
            return fail("cannot repair " + path_);
        }
        if (!writable) {
            ::close(fd);
            return true;
        }
        fd_ = fd;
        if (::lseek(fd_, 0, SEEK_END) < 0 ||
            (foreign && !write_line("world " + identity_ + "\n"))) {
            return fail("cannot append to " + path_);
        }
        return true;
    }
    // A new record: the header lands on disk, and its name in the folders,
    // before any chunk line can be needed.
    if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        return fail("cannot create " + folder);
    }
    fd = ::open(path_.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return fail("cannot create " + path_);
    }
    fd_ = fd;
    if (!write_all(fd_, std::string(header) + "\nworld " + identity_ + "\n") || ::fsync(fd_) != 0 ||
        !sync_folder(folder) || !sync_folder(world_)) {
        return fail("cannot write " + path_);
    }
    return true;
}

bool chunk_record::has(int32_t x, int32_t z) const {
    return done_.count({x, z}) != 0;
}

bool chunk_record::append(char sign, const std::vector<std::pair<int32_t, int32_t>> &chunks,
                          bool sync) {
    std::string text;
    for (const auto &[x, z] : chunks) {
        text += std::string(1, sign) + " " + dimension_ + " " + std::to_string(x) + " " +
                std::to_string(z) + " " + settings_ + "\n";
    }
    std::lock_guard<std::mutex> lock(m_);
    return write_line(text, sync);
}

bool chunk_record::write_line(const std::string &text, bool sync) {
    const off_t at = fd_ >= 0 ? ::lseek(fd_, 0, SEEK_END) : -1;
    if (at < 0) {
        return false;
    }
    if (write_all(fd_, text) && (!sync || sync_data())) {
        return true;
    }
    // Lines cut short by a full disk would run into the next ones.
    (void)::ftruncate(fd_, at);
    return false;
}

bool chunk_record::add(const std::vector<std::pair<int32_t, int32_t>> &chunks, bool sync) {
    return append('+', chunks, sync);
}

bool chunk_record::sync() {
    std::lock_guard<std::mutex> lock(m_);
    return fd_ >= 0 && sync_data();
}

bool chunk_record::sync_data() {
    return durability_.sync != nullptr ? durability_.sync(fd_, durability_.context) == 0
                                       : ::fdatasync(fd_) == 0;
}

bool chunk_record::retract(const std::vector<std::pair<int32_t, int32_t>> &chunks) {
    return append('-', chunks);
}
