#pragma once

// Debian's mosquitto broker and mosquitto_sub on loopback, for the
// publisher's tests and benchmark. POSIX only.

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zelt::testing {

// A child process writing its standard output and error to `output`.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::string& output);
    ~Child() { stop(9); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Sends `signal` (none for 0) and waits: the exit code, -1 when killed.
    int stop(int signal = 0);

private:
    pid_t pid_ = -1;
};

// mosquitto on a free loopback port and a fresh folder, persistent so that
// a restart keeps the subscribers' sessions.
class LocalBroker {
public:
    LocalBroker();
    ~LocalBroker();
    LocalBroker(const LocalBroker&) = delete;
    LocalBroker& operator=(const LocalBroker&) = delete;

    // With further configuration lines; returns once it takes connections.
    void start(const std::string& settings = "allow_anonymous true\n");
    void stop();
    int port() const { return port_; }
    const std::string& folder() const { return folder_; }

private:
    std::string folder_;
    int port_;
    std::unique_ptr<Child> process_;
};

// mosquitto_sub with a persistent QoS 1 session on `topic` and below
// ("TOPIC PAYLOAD" lines); `options` add TLS settings. Ready when made.
class Subscriber {
public:
    using Lines = std::vector<std::string>;
    Subscriber(const LocalBroker& broker, const std::string& topic,
               const std::vector<std::string>& options = {});
    // The messages received once `done` holds for them, or after `seconds`.
    Lines await(const std::function<bool(const Lines&)>& done, int seconds = 10) const;

private:
    bool subscribed() const;
    Lines lines() const;
    std::string topic_;
    std::string output_;
    std::unique_ptr<Child> process_;
};

}  // namespace zelt::testing
