#include "LocalBroker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace zelt::testing {

namespace {

const std::string kBroker = "/usr/sbin/mosquitto";
const std::string kProbe = "/probe";

// Binds port 0 to have the system pick a free loopback port.
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool accepted = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return accepted;
}

void Pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace

Child::Child(const std::vector<std::string>& argv, const std::string& output) {
    pid_ = ::fork();
    if (pid_ == 0) {
        const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(fd, STDOUT_FILENO);
        ::dup2(fd, STDERR_FILENO);
        std::vector<char*> args;
        for (const auto& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
}

Child::~Child() {
    stop(SIGKILL);
}

int Child::stop(int signal) {
    if (pid_ > 0) {
        ::kill(pid_, signal);
    }
    return wait();
}

int Child::wait() {
    int status = 0;
    if (pid_ <= 0 || ::waitpid(pid_, &status, 0) != pid_) {
        return -1;
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TemporaryFolder::TemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zelt-publish-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    path = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code error;
    std::filesystem::remove_all(path, error);
}

LocalBroker::LocalBroker(std::string settings) : settings_(std::move(settings)), port_(FreePort()) {
    start();
}

void LocalBroker::start() {
    const std::string config = folder_.path + "/mosquitto.conf";
    // "user root" keeps a broker started as root from switching to the
    // mosquitto user, which could not write this folder.
    std::ofstream(config) << "listener " << port_ << " 127.0.0.1\n"
                          << "persistence true\npersistence_location " << folder_.path << "/\n"
                          << "user root\n"
                          << settings_;
    process_ = std::make_unique<Child>(std::vector<std::string>{kBroker, "-c", config},
                                       folder_.path + "/broker.log");
    for (int tries = 0; tries < 250 && !Accepts(port_); ++tries) {
        Pause(20);
    }
}

void LocalBroker::stop() {
    process_->stop(SIGTERM);  // saves the sessions
}

Subscriber::Subscriber(const LocalBroker& broker, const std::string& topic,
                       const std::vector<std::string>& options)
    : output_(broker.folder() + "/subscriber.txt") {
    std::vector<std::string> argv{"mosquitto_sub",
                                  "-h",
                                  "127.0.0.1",
                                  "-p",
                                  std::to_string(broker.port()),
                                  "-q",
                                  "1",
                                  "-c",
                                  "-i",
                                  "zelt-test-subscriber",
                                  "-v",
                                  "-t",
                                  topic,
                                  "-t",
                                  topic + "/#"};
    argv.insert(argv.end(), options.begin(), options.end());
    process_ = std::make_unique<Child>(argv, output_);
    std::string publish = "mosquitto_pub -h 127.0.0.1 -p " + std::to_string(broker.port()) +
                          " -t " + topic + kProbe + " -m probe";
    for (const auto& option : options) {
        publish += " " + option;
    }
    for (int tries = 0; tries < 100; ++tries) {
        if (std::system(publish.c_str()) == 0) {
            Pause(50);
            std::ifstream in(output_);
            const std::string text((std::istreambuf_iterator<char>(in)), {});
            if (text.find(kProbe) != std::string::npos) {
                return;
            }
        }
        Pause(50);
    }
    throw std::runtime_error("the subscriber did not start");
}

std::vector<std::string> Subscriber::lines() const {
    std::ifstream in(output_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (line.find(kProbe + " ") == std::string::npos) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::vector<std::string> Subscriber::await(
    const std::function<bool(const std::vector<std::string>&)>& done, int seconds) const {
    for (int tries = 0; tries < seconds * 20 && !done(lines()); ++tries) {
        Pause(50);
    }
    return lines();
}

}  // namespace zelt::testing
