// The record of which chunks received which ore with which settings, kept
// in the world (<world>/lodecast-data/record) so that a later run with the
// same settings skips them: no chunk gets the same ore twice.
//
// Text, one line per event, appended only:
//   lodecast record 1                      header, with the format version
//   world <identity>                       whose chunks these are (a later
//                                          one: the record was taken over)
//   + <dimension> <x> <z> <settings>       the chunk is being given the ore
//   - <dimension> <x> <z> <settings>       ...its commit failed after all
// <dimension> is "main" or "DIM<n>"; <settings> is "ore=<id> rounds=<n>
// min=<n> max=<n> size=<n> data=<n|-> replace=<rule>". The last line for a
// chunk and settings wins. A "+" line is synced before the commit that
// gives the chunk its ore, so a chunk holding the ore is always recorded;
// a kill between the two leaves a chunk recorded without it (it misses its
// share rather than getting two), and a failed commit appends "-".
#ifndef LODECAST_CHUNK_RECORD_H
#define LODECAST_CHUNK_RECORD_H

#include "durable/durable.h"
#include "lodecast/run/options.h"

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// The record's folder, below the world; the '-' keeps chunk walks out.
extern const char record_folder[];
// The largest record read: about 900,000 chunk lines. Reading keeps only
// the chunks of the run's settings, so memory stays below the file's size.
constexpr uint64_t record_size_limit = uint64_t{64} << 20;

class chunk_record {
  public:
    // The record of world for one run's dimension and settings.
    chunk_record(std::string world, std::string dimension, std::string settings);
    ~chunk_record();
    chunk_record(const chunk_record &) = delete;
    chunk_record &operator=(const chunk_record &) = delete;

    // Reads the record (a missing one is empty). writable: also opens it for
    // appending, creating it; its syncs go through durability's. adopt: a
    // record of another world is taken over (its identity stays). false
    // with a message in error: also for a record that is not a regular file
    // or is over record_size_limit.
    bool open(bool writable, bool adopt, const durable_policy &durability, std::string &error);
    bool has(int32_t x, int32_t z) const;
    // Appends and syncs one line per chunk (with sync false, the lines wait
    // for sync()); any thread. false on failure.
    bool add(const std::vector<std::pair<int32_t, int32_t>> &chunks, bool sync = true);
    // Makes every line appended so far durable. false on failure.
    bool sync();
    bool retract(const std::vector<std::pair<int32_t, int32_t>> &chunks);

  private:
    bool append(char sign, const std::vector<std::pair<int32_t, int32_t>> &chunks,
                bool sync = true);
    // Reads every line; whole: where the last complete line ends.
    bool read_lines(int fd, off_t &whole, std::string &error);
    bool parse_line(const std::string &line, int number, std::string &error);
    bool sync_data(); // under m_ once open
    // Appends text and, with sync, makes it durable; under m_ once open.
    bool write_line(const std::string &text, bool sync = true);

    std::string world_;
    std::string path_;
    std::string dimension_;
    std::string settings_;
    std::string identity_;
    std::string found_identity_; // the record's last "world" line
    std::set<std::pair<int32_t, int32_t>> done_;
    std::mutex m_;
    int fd_ = -1;
    durable_policy durability_{};
};

// The settings of a run as the record writes them.
// ore: the ore as the record names it (its id, or its block name).
std::string record_settings(const std::string &ore, const options *opt);
// "main" or "DIM<n>".
std::string record_dimension(const options *opt);
// What names the world: its level.dat's name and seed, else its real path.
std::string world_identity(const std::string &world);

#endif
