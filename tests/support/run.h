// Running a program of the project and capturing what it printed.
#ifndef TESTS_SUPPORT_RUN_H
#define TESTS_SUPPORT_RUN_H

#include <string>
#include <vector>

struct RunResult {
    int status = -1; // exit status, or 128 + signal number
    std::string out; // standard output
    std::string err; // standard error
};

// The lines of a captured text, without their line breaks.
std::vector<std::string> lines_of(const std::string &text);

// Runs exe with args (argv[0] is exe itself) and waits for it.
RunResult run_program(const std::string &exe, const std::vector<std::string> &args);

#endif
