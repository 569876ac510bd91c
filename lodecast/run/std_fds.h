// Start-up and shut-down of the standard streams, shared by every program.
#ifndef LODECAST_STD_FDS_H
#define LODECAST_STD_FDS_H

// Opens /dev/null onto each of descriptors 0, 1 and 2 that is closed, so
// that no file a program opens later gets one of them and receives text
// meant for a standard stream. Call first thing in main.
void open_missing_std_fds();

// Flushes and closes standard output. false when anything written to it
// was lost (an earlier write error, or a failing flush or close).
bool close_stdout();

// For main: answers an exact "--help" (help text) or "--version"
// ("<program> <version>") as the only first argument, on standard output.
// Returns the exit status, or -1 when argv asks for neither.
int answer_help_or_version(int argc, char **argv, const char *program, const char *help);

#endif
