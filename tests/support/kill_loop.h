// Killing the tool at random moments of a run and checking that no chunk
// was lost: shared by the quick fault tests and the long kill loop.
#ifndef TESTS_SUPPORT_KILL_LOOP_H
#define TESTS_SUPPORT_KILL_LOOP_H

#include <cstdint>
#include <string>

struct KillLoopStats {
    int kills = 0;            // runs that the SIGKILL hit while running
    int finished = 0;         // runs that had ended before the SIGKILL
    int rewritten = 0;        // chunks found rewritten after a kill
    int files_checked = 0;    // chunk file checks, after kills and reruns
    int temps_after_kill = 0; // dot entries a kill left behind
};

// Runs exe over a world of gzip chunk files `iterations` times, each time
// killed with SIGKILL after a random delay within the length of the
// shortest whole run seen; the runs take turns with four ores. After each kill
// every chunk holds its bytes from before that run or is a complete chunk
// with that run's veins; then a whole run must end with status 0 and no
// message but the first and last, update every chunk, add no dot entry and
// leave older ones with their bytes. Failures go to gtest's ADD_FAILURE.
KillLoopStats kill_loop(const std::string &exe, const std::string &world, int iterations,
                        uint32_t seed);

// Writes an n x n world of chunks made by make_chunk_document, in the
// usual layout (folders named by the coordinates modulo 64 in base 36).
void write_generated_world(const std::string &world, int n);

#endif
