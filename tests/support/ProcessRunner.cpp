#include "ProcessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <thread>

namespace zelt::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Both ends close on exec: a child keeps only what it is given as its
// standard streams, so a sibling's pipe never stays open in it.
bool MakePipe(int (&ends)[2]) {
    return ::pipe2(ends, O_CLOEXEC) == 0;
}

void CloseIfOpen(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& input, std::chrono::milliseconds timeout) {
    ProcessResult result;
    // A child that exits without reading its input must not kill the test
    // with SIGPIPE; the write then fails with EPIPE instead.
    ::signal(SIGPIPE, SIG_IGN);

    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (!MakePipe(in) || !MakePipe(out) || !MakePipe(err)) {
        result.failure = std::string("cannot create a pipe: ") + std::strerror(errno);
        for (int* fd : {&in[0], &in[1], &out[0], &out[1], &err[0], &err[1]}) {
            CloseIfOpen(*fd);
        }
        return result;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    const int forkError = errno;
    if (pid == 0) {
        // A group of its own, so that a timeout kills what it started too.
        ::setpgid(0, 0);
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execvp(program.c_str(), argv.data());
        ::_exit(127);
    }
    CloseIfOpen(in[0]);
    CloseIfOpen(out[1]);
    CloseIfOpen(err[1]);
    if (pid < 0) {
        result.failure = std::string("cannot start ") + program + ": " + std::strerror(forkError);
        for (int* fd : {&in[1], &out[0], &err[0]}) {
            CloseIfOpen(*fd);
        }
        return result;
    }
    // Also here, so that a timeout finds the group even if the child has not
    // got round to it yet.
    ::setpgid(pid, pid);

    const Clock::time_point deadline = Clock::now() + timeout;
    std::size_t written = 0;
    if (input.empty()) {
        CloseIfOpen(in[1]);
    } else {
        ::fcntl(in[1], F_SETFL, O_NONBLOCK);
    }
    std::array<char, 4096> buffer{};
    while (out[0] >= 0 || err[0] >= 0) {
        std::array<pollfd, 3> fds = {pollfd{out[0], POLLIN, 0}, pollfd{err[0], POLLIN, 0},
                                     pollfd{in[1], POLLOUT, 0}};
        const int ready = ::poll(fds.data(), fds.size(), MillisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            result.timedOut = true;
            ::kill(-pid, SIGKILL);
            break;
        }
        for (std::size_t i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            int& fd = i == 0 ? out[0] : err[0];
            const ssize_t got = ::read(fd, buffer.data(), buffer.size());
            if (got > 0) {
                (i == 0 ? result.out : result.err)
                    .append(buffer.data(), static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                CloseIfOpen(fd);
            }
        }
        if (fds[2].revents != 0) {
            const ssize_t put = ::write(in[1], input.data() + written, input.size() - written);
            if (put > 0) {
                written += static_cast<std::size_t>(put);
            }
            if ((put < 0 && errno != EAGAIN && errno != EINTR) || written == input.size()) {
                CloseIfOpen(in[1]);
            }
        }
    }
    for (int* fd : {&in[1], &out[0], &err[0]}) {
        CloseIfOpen(*fd);
    }

    // The streams are closed; the process may still be on its way out.
    int status = 0;
    pid_t exited = 0;
    while ((exited = ::waitpid(pid, &status, WNOHANG)) == 0 || (exited < 0 && errno == EINTR)) {
        if (!result.timedOut && Clock::now() >= deadline) {
            result.timedOut = true;
            ::kill(-pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (exited < 0) {
        result.failure = std::string("cannot wait for ") + program + ": " + std::strerror(errno);
        return result;
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

ProcessResult RunShell(const std::string& command, const std::string& input,
                       std::chrono::milliseconds timeout) {
    return RunProcess("/bin/sh", {"-c", command}, input, timeout);
}

}  // namespace zelt::testing
