#include "support/kill_loop.h"

#include "support/child_run.h"
#include "support/chunk_bytes.h"
#include "support/world_check.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>

namespace fs = std::filesystem;

std::string base36(int64_t v) {
    const char *digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    std::string out;
    do {
        out.insert(out.begin(), digits[mag % 36]);
        mag /= 36;
    } while (mag != 0);
    return v < 0 ? "-" + out : out;
}

void write_generated_world(const std::string &world, int n) {
    for (int x = -n / 2; x < n - n / 2; ++x) {
        for (int z = -n / 2; z < n - n / 2; ++z) {
            const fs::path dir =
                fs::path(world) / base36((x % 64 + 64) % 64) / base36((z % 64 + 64) % 64);
            fs::create_directories(dir);
            const std::string name = "c." + base36(x) + "." + base36(z) + ".dat";
            write_gzip_file((dir / name).string(), make_chunk_document(x, z));
        }
    }
}

namespace {

bool is_dot_path(const std::string &rel) {
    return fs::path(rel).filename().string().starts_with(".");
}

// Checks every chunk file against its bytes in before: each must be
// unchanged or updated (with must_update: updated).
void check_world(const std::string &world, const FileSnapshot &before, bool must_update,
                 KillLoopStats &stats, const std::string &when) {
    for (const auto &[rel, bytes] : before) {
        if (is_dot_path(rel)) {
            continue;
        }
        const ChunkCheck c = check_chunk_file((fs::path(world) / rel).string(), bytes, kCoal);
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

// The whole run that follows a kill must succeed over whatever the kill left.
void rerun_and_check(const std::string &exe, const std::string &world, KillLoopStats &stats,
                     int round) {
    const FileSnapshot before = snapshot_files(world);
    const std::vector<std::string> dots_before = dot_entries(world);
    const RunResult r = run_program(exe, {world, "16"});
    const std::string when = "run after kill " + std::to_string(round);
    EXPECT_EQ(r.status, 0) << when << "\n" << r.err;
    EXPECT_TRUE(r.err.ends_with("World updated\n")) << when << "\n" << r.err;
    EXPECT_EQ(r.err.find("Failed"), std::string::npos) << when << "\n" << r.err;
    check_world(world, before, true, stats, when);
    const std::vector<std::string> dots_after = dot_entries(world);
    for (const auto &d : dots_after) {
        EXPECT_TRUE(std::binary_search(dots_before.begin(), dots_before.end(), d))
            << when << " left a new temporary entry " << d;
        const auto old = before.find(d);
        if (old != before.end()) {
            EXPECT_EQ(read_file((fs::path(world) / d).string()), old->second)
                << when << " changed the stale temporary file " << d;
        }
    }
}

} // namespace

KillLoopStats kill_loop(const std::string &exe, const std::string &world, int iterations,
                        uint32_t seed) {
    KillLoopStats stats;
    std::mt19937 rng(seed);

    // One whole run first: it must succeed, and its length bounds the delays.
    const FileSnapshot start = snapshot_files(world);
    const auto t0 = std::chrono::steady_clock::now();
    const RunResult first = run_program(exe, {world, "16"});
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - t0);
    EXPECT_EQ(first.status, 0) << first.err;
    check_world(world, start, true, stats, "first run");

    std::uniform_int_distribution<int64_t> delay(0, std::max<int64_t>(span.count(), 1000));
    for (int round = 0; round < iterations; ++round) {
        const FileSnapshot before = snapshot_files(world);
        const std::vector<std::string> dots_before = dot_entries(world);
        const int status = run_and_kill(exe, {world, "16"}, std::chrono::microseconds(delay(rng)));
        if (status == 128 + 9) {
            ++stats.kills;
        } else {
            EXPECT_EQ(status, 0) << "round " << round;
            ++stats.finished;
        }
        check_world(world, before, false, stats, "after kill " + std::to_string(round));
        for (const auto &d : dot_entries(world)) {
            stats.temps_after_kill +=
                !std::binary_search(dots_before.begin(), dots_before.end(), d);
        }
        rerun_and_check(exe, world, stats, round);
    }
    return stats;
}
