#include "lodecast/living/chunk_record.h"

#include "lodecast/formats/dimension.h"
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

bool read_text(int fd, std::string &out) {
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        out.append(buf, static_cast<size_t>(n));
    }
}

bool sync_folder(const std::string &dir) {
    return nbt_sync_folder(dir.c_str(), 0, nullptr) == NBT_OK;
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
    return s.str();
}

std::string record_dimension(const options *opt) {
    return dimension_key((opt->set & OPT_DIMENSION) ? opt->dimension : nullptr);
}

std::string world_identity(const std::string &world) {
    nbt::document doc = nbt::make_document();
    const std::string level = world + "/level.dat";
    if (doc && nbt_parse(doc.get(), level.c_str()) == NBT_OK) {
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

bool chunk_record::parse(const std::string &text, std::string &error) {
    // A last line without its line break is an append cut short: its commit
    // never started, so it is left out (and cut off before appending).
    const size_t end = text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1;
    std::istringstream in(text.substr(0, end));
    std::string line;
    int number = 0;
    const std::string tail = " " + settings_;
    while (std::getline(in, line)) {
        ++number;
        const auto bad = [&](const char *why) {
            error = path_ + " line " + std::to_string(number) + ": " + why;
            return false;
        };
        if (number == 1) {
            if (line != header) {
                return bad("not a lodecast record of this version (\"lodecast record 1\")");
            }
            continue;
        }
        // A later "world" line is a record taken over by another world.
        if (line.rfind("world ", 0) == 0) {
            found_identity_ = line.substr(6);
            continue;
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
        if (dim == dimension_ && rest == tail) {
            const std::pair<int32_t, int32_t> c{static_cast<int32_t>(x), static_cast<int32_t>(z)};
            if (sign == '+') {
                done_.insert(c);
            } else {
                done_.erase(c);
            }
        }
    }
    if (found_identity_.empty()) {
        error = path_ + ": no \"world\" line";
        return false;
    }
    return true;
}

bool chunk_record::open(bool writable, bool adopt, std::string &error) {
    const std::string folder = world_ + "/" + record_folder;
    const auto fail = [&](const std::string &what) {
        error = what + ": " + std::strerror(errno);
        return false;
    };
    int fd = ::open(path_.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0 && (errno != ENOENT || !writable)) {
        return errno == ENOENT ? true : fail("cannot open " + path_);
    }
    std::string text;
    if (fd >= 0) {
        if (!read_text(fd, text)) {
            ::close(fd);
            return fail("cannot read " + path_);
        }
        if (!parse(text, error)) {
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
        const size_t whole = text.rfind('\n') + 1;
        if (writable && whole != text.size() && ::ftruncate(fd, static_cast<off_t>(whole)) != 0) {
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
    fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
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
    if (write_all(fd_, text) && (!sync || ::fdatasync(fd_) == 0)) {
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
    return fd_ >= 0 && ::fdatasync(fd_) == 0;
}

bool chunk_record::retract(const std::vector<std::pair<int32_t, int32_t>> &chunks) {
    return append('-', chunks);
}
