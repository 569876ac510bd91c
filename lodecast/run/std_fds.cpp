#include "lodecast/run/std_fds.h"

#include "lodecast/version.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

void open_missing_std_fds() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        // open returns the lowest free descriptor, which is fd itself.
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd) {
            close(null);
        }
    }
}

bool close_stdout() {
    const bool had_error = std::ferror(stdout) != 0;
    const bool flushed = std::fflush(stdout) == 0;
    return std::fclose(stdout) == 0 && flushed && !had_error;
}

int answer_help_or_version(int argc, char **argv, const char *program, const char *help) {
    if (argc < 2 || argv[1] == nullptr) {
        return -1;
    }
    if (std::strcmp(argv[1], "--help") == 0) {
        std::fputs(help, stdout);
    } else if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\ncompression: %s\n", program, LODECAST_VERSION, LODECAST_COMPRESSION);
    } else {
        return -1;
    }
    return close_stdout() ? 0 : 1;
}
