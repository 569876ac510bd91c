#include "support/child_run.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::vector<char *> make_argv(const std::string &exe, const std::vector<std::string> &args) {
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(exe.c_str()));
    for (const auto &a : args) {
        argv.push_back(const_cast<char *>(a.c_str()));
    }
    argv.push_back(nullptr);
    return argv;
}

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void exec_child(const std::string &exe, char **argv, const ChildSetup &setup) {
    if (setup.file_size_limit >= 0) {
        const rlimit lim{static_cast<rlim_t>(setup.file_size_limit),
                         static_cast<rlim_t>(setup.file_size_limit)};
        // An ignored signal stays ignored across exec.
        if (setrlimit(RLIMIT_FSIZE, &lim) != 0 ||
            signal(SIGXFSZ, setup.default_sigxfsz ? SIG_DFL : SIG_IGN) == SIG_ERR) {
            _exit(126);
        }
    }
    if (setup.as_nobody) {
        if (setgroups(0, nullptr) != 0 || setgid(kNobodyGid) != 0 || setuid(kNobodyUid) != 0) {
            _exit(126);
        }
    }
    if (!setup.stdout_file.empty()) {
        const int fd = open(setup.stdout_file.c_str(), O_WRONLY);
        if (fd < 0 || dup2(fd, 1) < 0) {
            _exit(126);
        }
    }
    if (setup.closed_fd >= 0) {
        close(setup.closed_fd);
    }
    execv(exe.c_str(), argv);
    _exit(126);
}

int decode_status(int wstatus) {
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

void drain(int fd, std::string &into, bool &open) {
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
        into.append(buf, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
        open = false;
    }
}

} // namespace

RunResult run_with_setup(const std::string &exe, const std::vector<std::string> &args,
                         const ChildSetup &setup) {
    std::vector<char *> argv = make_argv(exe, args);
    std::array<int, 2> out{};
    std::array<int, 2> err{};
    if (pipe2(out.data(), O_CLOEXEC) != 0 || pipe2(err.data(), O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    if (setup.signal != 0 && fcntl(err[0], F_SETPIPE_SZ, 4096) < 0) {
        throw std::runtime_error("cannot shrink the pipe");
    }
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        // dup2 clears close-on-exec on the new descriptors.
        if (dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0) {
            _exit(126);
        }
        exec_child(exe, argv.data(), setup);
    }
    close(out[1]);
    close(err[1]);
    RunResult result;
    bool out_open = true;
    bool err_open = true;
    bool signalled = setup.signal == 0;
    while (out_open || err_open) {
        pollfd fds[2] = {{out_open ? out[0] : -1, POLLIN, 0}, {err_open ? err[0] : -1, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (out_open && fds[0].revents != 0) {
            drain(out[0], result.out, out_open);
        }
        if (err_open && fds[1].revents != 0) {
            drain(err[0], result.err, err_open);
            // A limit of -1 converts to the largest size: no limit.
            err_open = err_open && result.err.size() < static_cast<size_t>(setup.stderr_read_limit);
            if (!signalled && result.err.find(setup.signal_after) != std::string::npos) {
                signalled = true;
                kill(pid, setup.signal); // not reaped yet: still our child
            }
        }
        if (!err_open && err[0] >= 0) {
            close(err[0]); // the child's next message meets a closed pipe
            err[0] = -1;
        }
    }
    close(out[0]);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    result.status = decode_status(wstatus);
    return result;
}

bool can_run_as_nobody() {
    if (geteuid() != 0) {
        return false;
    }
    // Root in a container may still lack the capability: try it.
    const pid_t pid = fork();
    if (pid == 0) {
        const bool ok =
            setgroups(0, nullptr) == 0 && setgid(kNobodyGid) == 0 && setuid(kNobodyUid) == 0;
        _exit(ok ? 0 : 1);
    }
    int wstatus = 0;
    return pid > 0 && waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus) &&
           WEXITSTATUS(wstatus) == 0;
}

int run_and_kill(const std::string &exe, const std::vector<std::string> &args,
                 std::chrono::microseconds delay) {
    std::vector<char *> argv = make_argv(exe, args);
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0) {
            _exit(126);
        }
        exec_child(exe, argv.data(), ChildSetup{});
    }
    std::this_thread::sleep_for(delay);
    // Until it is reaped the child's pid cannot be reused, so this kill
    // reaches our child even if it has already ended.
    kill(pid, SIGKILL);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    return decode_status(wstatus);
}

RunResult run_on_terminal(const std::string &exe, const std::vector<std::string> &args) {
    std::vector<char *> argv = make_argv(exe, args);
    termios raw{};
    cfmakeraw(&raw);
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, &raw, nullptr);
    if (pid < 0) {
        throw std::runtime_error("cannot open a pseudo-terminal");
    }
    if (pid == 0) {
        exec_child(exe, argv.data(), {});
    }
    RunResult result;
    for (bool open = true; open;) {
        drain(terminal, result.err, open); // up to EIO: the child's side is closed
    }
    close(terminal);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    result.status = decode_status(wstatus);
    return result;
}
