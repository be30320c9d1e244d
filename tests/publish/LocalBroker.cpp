#include "LocalBroker.h"

#include <arpa/inet.h>
#include <fcntl.h>
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

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

// Port 0 has the system pick a free port.
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = Loopback(port);
    const bool accepted =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return accepted;
}

constexpr std::chrono::milliseconds kPause{20};

}  // namespace

Child::Child(const std::vector<std::string>& argv, const std::string& output) : pid_(::fork()) {
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

int Child::stop(int signal) {
    if (pid_ > 0 && signal != 0) {
        ::kill(pid_, signal);
    }
    int status = 0;
    if (pid_ <= 0 || ::waitpid(pid_, &status, 0) != pid_) {
        return -1;
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

LocalBroker::LocalBroker()
    : folder_((std::filesystem::temp_directory_path() / "zelt-publish-XXXXXX").string()),
      port_(FreePort()) {
    if (::mkdtemp(folder_.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
}

LocalBroker::~LocalBroker() {
    process_.reset();
    std::error_code error;
    std::filesystem::remove_all(folder_, error);
}

void LocalBroker::start(const std::string& settings) {
    const std::string config = folder_ + "/mosquitto.conf";
    // "user root" keeps a broker started as root from switching to the
    // mosquitto user, who could not write this folder.
    std::ofstream(config) << "listener " << port_ << " 127.0.0.1\npersistence true\n"
                          << "persistence_location " << folder_ << "/\nuser root\n"
                          << settings;
    process_ = std::make_unique<Child>(
        std::vector<std::string>{"/usr/sbin/mosquitto", "-c", config}, folder_ + "/broker.log");
    for (int tries = 0; tries < 250 && !Accepts(port_); ++tries) {
        std::this_thread::sleep_for(kPause);
    }
}

void LocalBroker::stop() {
    process_->stop(SIGTERM);  // saves the sessions
}

Subscriber::Subscriber(const LocalBroker& broker, const std::string& topic,
                       const std::vector<std::string>& options)
    : topic_(topic), output_(broker.folder() + "/subscriber.txt") {
    // Line-buffered, so that the SUBACK shows at once.
    std::vector<std::string> argv{"stdbuf", "-oL", "mosquitto_sub", "-d", "-v", "-q", "1"};
    argv.insert(argv.end(), {"-h", "127.0.0.1", "-p", std::to_string(broker.port()), "-c", "-i",
                             "zelt-test-subscriber", "-t", topic, "-t", topic + "/#"});
    argv.insert(argv.end(), options.begin(), options.end());
    process_ = std::make_unique<Child>(argv, output_);
    for (int tries = 0; tries < 250 && !subscribed(); ++tries) {
        std::this_thread::sleep_for(kPause);
    }
    if (!subscribed()) {
        throw std::runtime_error("the subscriber did not subscribe");
    }
}

bool Subscriber::subscribed() const {
    std::ifstream in(output_);
    return std::string(std::istreambuf_iterator<char>(in), {}).find("received SUBACK") !=
           std::string::npos;
}

Subscriber::Lines Subscriber::lines() const {
    std::ifstream in(output_);
    Lines lines;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(topic_, 0) == 0) {  // not the dialogue -d adds
            lines.push_back(line);
        }
    }
    return lines;
}

Subscriber::Lines Subscriber::await(const std::function<bool(const Lines&)>& done,
                                    int seconds) const {
    for (int tries = 0; tries < seconds * 50 && !done(lines()); ++tries) {
        std::this_thread::sleep_for(kPause);
    }
    return lines();
}

}  // namespace zelt::testing
