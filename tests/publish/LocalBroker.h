#pragma once

// Debian's mosquitto broker and mosquitto_sub on loopback, for the
// publisher's tests and benchmark. POSIX only.

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zelt::testing {

// A child process writing its standard output and error to `output`;
// killed when it goes.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::string& output);
    ~Child() { stop(9); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    int stop(int signal);  // returns the exit code, -1 when killed
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

// mosquitto on a free loopback port with further configuration lines
// `settings`, persistent so that a restart keeps the subscribers' sessions.
class LocalBroker {
public:
    explicit LocalBroker(std::string settings = "allow_anonymous true\n");
    void start();  // returns once it takes connections
    void stop();
    int port() const { return port_; }
    const std::string& folder() const { return folder_.path; }

private:
    TemporaryFolder folder_;
    std::string settings_;
    int port_;
    std::unique_ptr<Child> process_;
};

// mosquitto_sub with a persistent QoS 1 session on `topic` and below, one
// "TOPIC PAYLOAD" line a message; `options` add TLS settings. Returns once
// subscribed.
class Subscriber {
public:
    using Lines = std::vector<std::string>;
    Subscriber(const LocalBroker& broker, const std::string& topic,
               const std::vector<std::string>& options = {});
    // The messages received once `done` holds for them, or after `seconds`.
    Lines await(const std::function<bool(const Lines&)>& done, int seconds = 10) const;

private:
    Lines lines(bool debug) const;
    std::string output_;
    std::unique_ptr<Child> process_;
};

}  // namespace zelt::testing
