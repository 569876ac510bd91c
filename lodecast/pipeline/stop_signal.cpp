#include "lodecast/pipeline/stop_signal.h"

#include <atomic>
#include <csignal>

namespace {

// Only a lock-free atomic may be touched from a signal handler.
std::atomic<int> caught{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void note_signal(int sig) {
    int none = 0;
    caught.compare_exchange_strong(none, sig); // the first one says why
}

} // namespace

void catch_stop_signals() {
    struct sigaction sa {};
    sa.sa_handler = note_signal;
    sigemptyset(&sa.sa_mask);
    // The run's reads and writes go on undisturbed; a second signal ends
    // the run at once, as if none were caught (the world stays whole).
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
}

int stop_signal() {
    return caught.load();
}

std::string stopped_report(int sig, uint64_t written, bool dry, bool recorded) {
    const std::string head = std::string("Stopped by ") + (sig == SIGINT ? "SIGINT" : "SIGTERM");
    if (dry) {
        return head + ": nothing was written\n";
    }
    return head + ": " + std::to_string(written) + (written == 1 ? " file was" : " files were") +
           " rewritten with their ore; every other file is unchanged and none is half-written\n" +
           (recorded ? "The same command goes on where this run stopped: -record skips the "
                       "chunks that already have the ore\n"
                     : "Running it again would give the rewritten files more ore; with -record a "
                       "run skips chunks that already have it\n");
}
