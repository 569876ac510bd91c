// Ctrl-C and SIGTERM ask a run to stop instead of ending it on the spot:
// the handler only notes the signal, the pipeline hands out no unit after
// it, the units in flight are finished, and the run says what state the
// world is in.
#ifndef LODECAST_STOP_SIGNAL_H
#define LODECAST_STOP_SIGNAL_H

#include <cstdint>
#include <string>

// Catches SIGINT and SIGTERM; ignores SIGXFSZ, so that a write past the
// file-size limit fails (and is reported) instead of killing the run with
// a temporary file left behind.
void catch_stop_signals();

// The signal that asked the run to stop, or 0.
int stop_signal();

// The closing lines of a run stopped by sig after written files were
// rewritten: what state the world is in and how to go on.
std::string stopped_report(int sig, uint64_t written, bool dry, bool recorded);

#endif
