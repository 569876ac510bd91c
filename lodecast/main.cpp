#include "lodecast/pipeline/stop_signal.h"
#include "lodecast/run/cli.h"
#include "lodecast/run/program.h"
#include "lodecast/run/std_fds.h"

#include <csignal>

int main(int argc, char **argv) {
    open_missing_std_fds();
    // A reader of the messages that goes away must not end the run midway:
    // messages that cannot be written are dropped and the walk goes on.
    std::signal(SIGPIPE, SIG_IGN);
    catch_stop_signals();
    if (const int status = answer_help_or_version(argc, argv, "lodecast", lodecast_help);
        status >= 0) {
        return status;
    }
    return run_lodecast(argc, argv);
}
