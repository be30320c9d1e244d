#pragma once

// Debian's mosquitto broker and mosquitto_sub subscriber on loopback, run by
// the publisher's tests and benchmark. POSIX only.

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zelt::testing {

// A child process with its standard output (and error) in `output`.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::string& output);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Sends `signal` and waits; returns the exit code (-1 when killed).
    int stop(int signal);
    int wait();

private:
    pid_t pid_ = -1;
};

// A fresh folder under the system's temporary folder, removed at the end.
struct TemporaryFolder {
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    std::string path;
};

// mosquitto on a free loopback port, with persistence in its own folder so
// that a restart keeps the subscribers' sessions. `settings` are further
// configuration lines (TLS, authentication); anonymous clients are allowed
// unless they say otherwise.
class LocalBroker {
public:
    explicit LocalBroker(std::string settings = "allow_anonymous true\n");
    void start();  // waits until it takes connections
    void stop();
    int port() const { return port_; }
    const std::string& folder() const { return folder_.path; }

private:
    TemporaryFolder folder_;
    std::string settings_;
    int port_;
    std::unique_ptr<Child> process_;
};

// mosquitto_sub with a persistent QoS 1 session on `topic` and its subtopics,
// "TOPIC PAYLOAD" per line; `options` add TLS settings. Ready once it got a
// message sent to TOPIC/probe.
class Subscriber {
public:
    Subscriber(const LocalBroker& broker, const std::string& topic,
               const std::vector<std::string>& options = {});
    // The lines received so far, the probe's left out.
    std::vector<std::string> lines() const;
    // Waits up to `seconds` until `done` holds for lines(); returns them.
    std::vector<std::string> await(const std::function<bool(const std::vector<std::string>&)>& done,
                                   int seconds) const;

private:
    std::string output_;
    std::unique_ptr<Child> process_;
};

}  // namespace zelt::testing
