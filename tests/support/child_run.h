// Running a program under conditions a plain spawn cannot set up: a small
// file size limit (a full disk), an unprivileged user (permission bits that
// root would ignore), or a SIGKILL at a chosen moment.
#ifndef TESTS_SUPPORT_CHILD_RUN_H
#define TESTS_SUPPORT_CHILD_RUN_H

#include "support/run.h"

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

// The unprivileged user and group the tests drop to ("nobody").
constexpr uid_t kNobodyUid = 65534;
constexpr gid_t kNobodyGid = 65534;

struct ChildSetup {
    // Largest file the child may write (RLIMIT_FSIZE), with SIGXFSZ ignored
    // so that a write past it fails with EFBIG; negative: no limit.
    long long file_size_limit = -1;
    bool default_sigxfsz = false; // as `ulimit -f` leaves it: the signal kills
    // Run as kNobodyUid/kNobodyGid without supplementary groups.
    bool as_nobody = false;
    int closed_fd = -1;               // a standard descriptor the child starts without
    std::string stdout_file{};        // standard output to this file, not captured
    long long stderr_read_limit = -1; // then close the pipe, as a reader that goes away
    // Sent once standard error holds signal_after; the pipe then holds one
    // page, so a child that writes more waits for the reader and no machine
    // is fast or busy enough for it to end first.
    int signal = 0;
    std::string signal_after{};
};

// Runs exe with args under setup and waits for it. Output is captured
// through pipes, which the file size limit does not touch. A child that
// cannot apply the setup exits with status 126 before exec.
RunResult run_with_setup(const std::string &exe, const std::vector<std::string> &args,
                         const ChildSetup &setup);

// Runs exe with args on a raw pseudo-terminal; what it wrote there is in err.
RunResult run_on_terminal(const std::string &exe, const std::vector<std::string> &args);

// True when this process may switch to the unprivileged user (root with
// the capability to change its ids; checked in a child).
bool can_run_as_nobody();

// Starts exe with args (output discarded), sends SIGKILL after delay and
// reaps it. Returns the wait status: 128 + 9 when the kill hit the running
// program, its exit status when it had finished before.
int run_and_kill(const std::string &exe, const std::vector<std::string> &args,
                 std::chrono::microseconds delay);

#endif
