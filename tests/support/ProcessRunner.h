#pragma once

// Runs a program the way a user or a script does and captures what it says,
// for tests of the command-line tools.
//
// POSIX only (the tool tests need a POSIX shell and are not built for
// Windows).

#include <chrono>
#include <string>
#include <vector>

namespace zelt::testing {

struct ProcessResult {
    int exitCode = -1;  // -1 when the process did not exit by itself
    std::string out;
    std::string err;
    bool timedOut = false;  // killed after the timeout
    std::string failure;    // why the process could not be run; empty when it ran
};

// Runs `program` (looked up in PATH when it holds no '/') with `arguments`,
// writes `input` to its standard input and closes it, and collects its
// standard output and error until it exits. After `timeout` the process and
// everything it started are killed.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& input = "",
                         std::chrono::milliseconds timeout = std::chrono::minutes(2));

// Runs `command` with /bin/sh -c: shell syntax, quotes and redirections.
ProcessResult RunShell(const std::string& command, const std::string& input = "",
                       std::chrono::milliseconds timeout = std::chrono::minutes(2));

}  // namespace zelt::testing
