#include "support/kill_loop.h"

#include "lodecast/formats/chunk_name.h"

#include "support/child_run.h"
#include "support/chunk_bytes.h"
#include "support/world_check.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>

namespace fs = std::filesystem;

void write_generated_world(const std::string &world, int n) {
    for (int x = -n / 2; x < n - n / 2; ++x) {
        for (int z = -n / 2; z < n - n / 2; ++z) {
            const fs::path file = fs::path(world) / chunk_file_path(x, z);
            fs::create_directories(file.parent_path());
            write_gzip_file(file.string(), make_chunk_document(x, z));
        }
    }
}

namespace {

// Temporary files, and the run lock a killed run leaves: no chunks.
bool not_a_chunk(const std::string &rel) {
    return fs::path(rel).filename().string().starts_with(".") || rel.starts_with("lodecast-data/");
}

// Runs take turns with four ores under -oo, each replacing stone and the
// others, with the same vein options. The seed comes from the clock in
// seconds, so runs within one second trace the same veins: with one ore
// they would rewrite chunks byte for byte and a kill could not be told
// from no change. With another ore every rewrite changes the file.
constexpr uint8_t kOres[] = {16, 15, 14, 73};
const std::vector<uint8_t> kReplaceable = {1, 16, 15, 14, 73, 56, 21, 3, 13};

std::vector<std::string> run_args(const std::string &world, int run) {
    return {world, std::to_string(kOres[run % 4]), "-oo", "-r", "20", "-mx", "80", "-s", "12"};
}

// Checks every chunk file against its bytes in before: each must be
// unchanged or updated with veins of ore (with must_update: updated).
void check_world(const std::string &world, const FileSnapshot &before, int run, bool must_update,
                 KillLoopStats &stats, const std::string &when) {
    for (const auto &[rel, bytes] : before) {
        if (not_a_chunk(rel)) {
            continue;
        }
        const ChunkCheck c =
            check_chunk_file((fs::path(world) / rel).string(), bytes, kOres[run % 4], kReplaceable);
        ++stats.files_checked;
        if (c.state == ChunkState::Damaged) {
            ADD_FAILURE() << when << ": " << rel << " damaged: " << c.detail;
        } else if (must_update && c.state != ChunkState::Updated) {
            ADD_FAILURE() << when << ": " << rel << " was not updated";
        } else if (c.state == ChunkState::Updated && !must_update) {
            ++stats.rewritten;
        }
    }
}

// A whole run over whatever a kill left must succeed and update every
// chunk, adding no temporary file and leaving older ones as they are.
// Returns how long the tool ran.
std::chrono::microseconds whole_run(const std::string &exe, const std::string &world, int run,
                                    KillLoopStats &stats, const std::string &when) {
    const FileSnapshot before = snapshot_files(world);
    const std::vector<std::string> dots_before = dot_entries(world);
    const auto t0 = std::chrono::steady_clock::now();
    const RunResult r = run_program(exe, run_args(world, run));
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - t0);
    EXPECT_EQ(r.status, 0) << when;
    EXPECT_EQ(r.err, "Processing...\nWorld updated\n") << when;
    check_world(world, before, run, true, stats, when);
    for (const auto &d : dot_entries(world)) {
        EXPECT_TRUE(std::binary_search(dots_before.begin(), dots_before.end(), d))
            << when << " left a new temporary entry " << d;
        const auto old = before.find(d);
        if (old != before.end()) {
            EXPECT_EQ(read_file((fs::path(world) / d).string()), old->second)
                << when << " changed the stale temporary file " << d;
        }
    }
    return took;
}

} // namespace

KillLoopStats kill_loop(const std::string &exe, const std::string &world, int iterations,
                        uint32_t seed) {
    KillLoopStats stats;
    std::mt19937 rng(seed);
    int run = 0;

    // One whole run first: its length bounds the delays.
    // The delays stay within the shortest whole run seen so far, so that
    // nearly every kill lands while the tool is still at work.
    std::chrono::microseconds shortest = whole_run(exe, world, run++, stats, "first run");
    for (int round = 0; round < iterations; ++round) {
        std::uniform_int_distribution<int64_t> delay(0, std::max<int64_t>(shortest.count(), 1000));
        const FileSnapshot before = snapshot_files(world);
        const std::vector<std::string> dots_before = dot_entries(world);
        const int killed_run = run++;
        const int status =
            run_and_kill(exe, run_args(world, killed_run), std::chrono::microseconds(delay(rng)));
        if (status == 128 + 9) {
            ++stats.kills;
        } else {
            EXPECT_EQ(status, 0) << "round " << round;
            ++stats.finished;
        }
        check_world(world, before, killed_run, false, stats, "after kill " + std::to_string(round));
        for (const auto &d : dot_entries(world)) {
            stats.temps_after_kill +=
                !std::binary_search(dots_before.begin(), dots_before.end(), d);
        }
        shortest = std::min(shortest, whole_run(exe, world, run++, stats,
                                                "run after kill " + std::to_string(round)));
    }
    return stats;
}
