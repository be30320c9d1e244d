// elm327-emulator: serves the simulated vehicle behind an emulated ELM327
// adapter on 127.0.0.1, one client at a time (others are refused with a
// line saying so), as a Wi-Fi adapter does; or on
// a pseudo-terminal, as a USB or Bluetooth adapter on a serial port does.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <string>

#include "obd/sim/EmulatedAdapter.h"
#include "obd/sim/Scenario.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>
#endif

namespace {

struct Options {
    int port = 35000;
    std::string scenario;
    std::string replay;  // a recorded dialogue to serve instead of a scenario
    int latencyMs = 0;
    int answerWaitMs = -1;  // -1: the ELM327's own
    int bytesPerSecond = 0;
    bool once = false;
    int dropAfter = 0;
    int muteAfter = 0;
    bool pty = false;
    std::string errorText;
    int errorFrom = 1;
    int protocol = 0;  // 0: the scenario's
    std::string clone = "genuine";
};

#ifndef _WIN32

// What a client that connects while another is served reads before the
// emulator hangs up on it: a Wi-Fi adapter takes one client at a time.
constexpr char kBusy[] = "BUSY: another client is connected; try again when it has gone\r\n";

// True when the client on `fd` has closed its end: what it sent before is
// answered to nobody, and a paced answer would hold up the next client.
bool ClientGone(int fd) {
    short events = POLLIN;
#ifdef POLLRDHUP
    events |= POLLRDHUP;
    const short gone = POLLRDHUP | POLLHUP | POLLERR;
#else
    const short gone = POLLHUP | POLLERR;
#endif
    pollfd entry{fd, events, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & gone) != 0;
}

void Refuse(int client) {
    if (client < 0) {
        return;
    }
    (void)!::send(client, kBusy, sizeof kBusy - 1, 0);  // SIGPIPE is ignored
    // What it sent is read first: closing on unread bytes would reset the
    // connection and lose the line.
    ::shutdown(client, SHUT_WR);
    char discard[256];
    while (::recv(client, discard, sizeof discard, MSG_DONTWAIT) > 0) {
    }
    ::close(client);
}

// Waits until `fd` has bytes to read; meanwhile refuses every client that
// connects to `listener` (-1: none) with kBusy. False when the wait failed.
bool AwaitCommand(int fd, int listener) {
    for (;;) {
        pollfd entries[2] = {{fd, POLLIN, 0}, {listener, POLLIN, 0}};
        const int ready = ::poll(entries, listener >= 0 ? 2 : 1, -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (listener >= 0 && (entries[1].revents & POLLIN) != 0) {
            if (ClientGone(fd)) {
                return true;  // the newcomer is next
            }
            Refuse(::accept(listener, nullptr, nullptr));
        }
        if (entries[0].revents != 0) {
            return true;
        }
    }
}

// Takes the time `bytes` need at `bytesPerSecond` (0: none), in short steps;
// false as soon as the client on `fd` has gone.
bool Pace(int fd, std::size_t bytes, int bytesPerSecond) {
    if (bytesPerSecond <= 0) {
        return !ClientGone(fd);
    }
    const auto until =
        std::chrono::steady_clock::now() +
        std::chrono::microseconds(static_cast<long long>(bytes) * 1000000 / bytesPerSecond);
    while (!ClientGone(fd)) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) {
            return true;
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            until - now, std::chrono::milliseconds(10)));
    }
    return false;
}

// Serves one client on `fd` (a socket, or a pty's master) until it goes,
// refusing others that connect to `listener` meanwhile. The link carries
// both ways at --bytes-per-second: the command typed and the answer
// printed. With --drop-after, hangs up after that many commands, as an
// adapter that loses power does, and returns true. With --mute-after, reads
// but no longer answers from that command on, as a Bluetooth adapter out of
// range.
bool Serve(int fd, int listener, obd::sim::EmulatedAdapter& emulator, const Options& options) {
    const int dropAfter = options.dropAfter;
    const int muteAfter = options.muteAfter;
    char buffer[1024];
    int commands = 0;
    for (;;) {
        if (!AwaitCommand(fd, listener)) {
            return false;
        }
        // A pty's master reads EIO once the client has closed the slave.
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        for (ssize_t i = 0; i < n; ++i) {
            commands += buffer[i] == '\r' ? 1 : 0;
        }
        if (dropAfter > 0 && commands >= dropAfter) {
            return true;
        }
        if (muteAfter > 0 && commands >= muteAfter) {
            continue;
        }
        if (ClientGone(fd)) {
            return false;
        }
        const std::string answer =
            emulator.receive(std::string(buffer, static_cast<std::size_t>(n)));
        if (emulator.hungUp()) {
            return true;
        }
        if (!Pace(fd, static_cast<std::size_t>(n) + answer.size(), options.bytesPerSecond)) {
            return false;
        }
        std::size_t sent = 0;
        while (sent < answer.size()) {
            const ssize_t m = ::write(fd, answer.data() + sent, answer.size() - sent);
            if (m < 0 && errno == EINTR) {
                continue;
            }
            if (m <= 0) {
                return false;
            }
            sent += static_cast<std::size_t>(m);
        }
    }
}

obd::sim::EmulatedAdapterOptions Emulated(const Options& options) {
    obd::sim::EmulatedAdapterOptions emulated;
    emulated.latency = std::chrono::milliseconds(options.latencyMs);
    emulated.answerWait.reset();
    if (options.answerWaitMs >= 0) {
        emulated.answerWait = std::chrono::milliseconds(options.answerWaitMs);
    }
    // Paced by Serve, which stops as soon as the client goes.
    emulated.bytesPerSecond = 0;
    emulated.protocol = options.protocol;
    emulated.clone = options.clone;
    if (!options.errorText.empty()) {
        emulated.errorText = options.errorText;
        emulated.errorFrom = options.errorFrom;
    }
    return emulated;
}

#ifdef __linux__

// A pty whose slave a serial client opens as it opens /dev/ttyUSB0.
int OpenPty() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        throw std::runtime_error(std::string("cannot open a pseudo-terminal: ") +
                                 std::strerror(errno));
    }
    termios settings{};
    // Raw on both ends: the line discipline must not turn the adapter's "\r"
    // into "\n", echo the commands back or hold bytes until a line ends. On
    // Linux the master's settings are the slave's.
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::tcgetattr(master, &settings) != 0) {
        const std::string why = std::strerror(errno);
        ::close(master);
        throw std::runtime_error("cannot set up the pseudo-terminal: " + why);
    }
    ::cfmakeraw(&settings);
    if (::tcsetattr(master, TCSANOW, &settings) != 0) {
        const std::string why = std::strerror(errno);
        ::close(master);
        throw std::runtime_error("cannot set up the pseudo-terminal: " + why);
    }
    return master;
}

// Until a client opens the slave, the master reports a hang-up.
void AwaitPtyClient(int master) {
    for (;;) {
        pollfd ready{master, POLLIN, 0};
        if (::poll(&ready, 1, 0) >= 0 && (ready.revents & POLLHUP) == 0) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int RunPty(const Options& options, obd::sim::EmulatedAdapter& emulator) {
    const int master = OpenPty();
    // The path first, alone on a line, so that a script can read it.
    std::cout << "serving on " << ::ptsname(master) << std::endl;
    do {
        AwaitPtyClient(master);
        emulator.reset();  // a fresh adapter per client
        // A pty hangs up only when its master closes, which ends the pty.
        if (Serve(master, -1, emulator, options)) {
            break;
        }
    } while (!options.once);
    ::close(master);
    return 0;
}

#else

int RunPty(const Options&, obd::sim::EmulatedAdapter&) {
    throw std::runtime_error("--pty is supported on Linux only");
}

#endif

// Says what the replay answers that the car was never asked, so that nobody
// mistakes it for the car's own words.
std::unique_ptr<obd::sim::EmulatedAdapter> Replay(const Options& options) {
    auto adapter = obd::sim::EmulatedAdapter::replayFile(options.replay, Emulated(options));
    for (const std::string& line : adapter->inferred()) {
        std::cerr << line << '\n';
    }
    return adapter;
}

int Run(const Options& options) {
    const std::unique_ptr<obd::sim::EmulatedAdapter> adapter =
        options.replay.empty()
            ? std::make_unique<obd::sim::EmulatedAdapter>(
                  options.scenario.empty() ? obd::sim::Scenario::builtIn()
                                           : obd::sim::Scenario::loadFile(options.scenario),
                  Emulated(options))
            : Replay(options);
    obd::sim::EmulatedAdapter& emulator = *adapter;
    // A client that goes while we answer must not kill the emulator.
    ::signal(SIGPIPE, SIG_IGN);
    if (options.pty) {
        return RunPty(options, emulator);
    }

    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    if (server < 0) {
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    }
    const int yes = 1;
    ::setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(options.port));
    if (::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(server, 8) != 0) {
        const std::string why = std::strerror(errno);
        ::close(server);
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(options.port) +
                                 ": " + why);
    }
    socklen_t length = sizeof address;
    ::getsockname(server, reinterpret_cast<sockaddr*>(&address), &length);
    // The port first, alone on a line, so that a script can read it.
    std::cout << "listening on 127.0.0.1:" << ntohs(address.sin_port) << std::endl;

    do {
        const int client = ::accept(server, nullptr, nullptr);
        if (client < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        emulator.reset();  // a fresh adapter per client
        Serve(client, server, emulator, options);
        ::close(client);
    } while (!options.once);
    ::close(server);
    return 0;
}

#else

int Run(const Options&) {
    std::cerr << "elm327-emulator: error: this build can serve neither TCP nor a pseudo-terminal\n";
    return 1;
}

#endif

}  // namespace

// CLI11 throws while the options are declared only on a programming error,
// which should end the program as any other bug does.
// NOLINTNEXTLINE(bugprone-exception-escape)
int main(int argc, char** argv) {
    Options options;
    CLI::App app{
        "elm327-emulator: a simulated vehicle behind an emulated ELM327 adapter on 127.0.0.1",
        "elm327-emulator"};
    app.add_option("--port", options.port, "TCP port; 0 picks a free one (printed)")
        ->check(CLI::Range(0, 65535));
    app.add_option("--scenario", options.scenario, "Serve the simulated vehicle described in FILE")
        ->type_name("FILE");
    app.add_option("--replay", options.replay,
                   "Serve the car of a recorded dialogue (a JSON transcript of [command, answer] "
                   "pairs), re-printed under the client's settings")
        ->type_name("FILE")
        ->excludes(app.get_option("--scenario"));
    app.add_option("--latency", options.latencyMs,
                   "Milliseconds the adapter takes per vehicle request")
        ->check(CLI::Range(0, 60000))
        ->type_name("MS");
    app.add_option("--answer-wait", options.answerWaitMs,
                   "Milliseconds the adapter waits after the last answer for more, unless the "
                   "request's response count digit was reached; by default the ELM327's own "
                   "(ATST, 200 ms, shortened by adaptive timing ATAT1/ATAT2)")
        ->check(CLI::Range(0, 60000))
        ->type_name("MS");
    app.add_option("--bytes-per-second", options.bytesPerSecond,
                   "Limit the answers' throughput, e.g. 3840 for 38400 baud; 0 for none")
        ->check(CLI::Range(0, 10000000));
    app.add_option("--drop-after", options.dropAfter,
                   "Hang up on the client at its Nth command (with --pty, the emulator then exits)")
        ->check(CLI::Range(0, 1000000))
        ->type_name("N");
    app.add_option("--mute-after", options.muteAfter,
                   "Stop answering (but stay connected) at the client's Nth command")
        ->check(CLI::Range(0, 1000000))
        ->type_name("N");
    app.add_option("--protocol", options.protocol,
                   "The vehicle's protocol by its ELM327 number: 1 SAE J1850 PWM, 2 SAE J1850 "
                   "VPW, 3 ISO 9141-2, 4 ISO 14230-4 KWP 5-baud init, 5 KWP fast init, 6-9 "
                   "ISO 15765-4 CAN 11/500, 29/500, 11/250, 29/250 (default: the scenario's)")
        ->check(CLI::Range(1, 9))
        ->type_name("N");
    const std::vector<std::string> known = obd::sim::EmulatedAdapter::cloneProfiles();
    std::string profiles;
    for (const std::string& profile : known) {
        profiles += profiles.empty() ? profile : std::string(", ") + profile;
    }
    app.add_option("--clone", options.clone,
                   "Behave as this make of adapter: " + profiles +
                       " (cheap: refuses newer commands and repeats, lower case, slow to wake; "
                       "bluetooth: drops the link on ATZ)")
        ->check(CLI::IsMember(known))
        ->type_name("PROFILE");
    app.add_flag("--once", options.once, "Exit when the first client disconnects");
    app.add_flag("--pty", options.pty,
                 "Serve on a pseudo-terminal instead of TCP, as a serial adapter (Linux); its path "
                 "is printed")
        ->excludes(app.get_option("--port"));
    app.add_option("--error", options.errorText,
                   "Answer vehicle requests with this adapter error text, e.g. \"CAN ERROR\"")
        ->type_name("TEXT");
    app.add_option(
           "--error-from", options.errorFrom,
           "With --error: the first vehicle request so answered (1 is the connection's first)")
        ->check(CLI::Range(1, 1000000))
        ->type_name("N");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error);
    }
    try {
        return Run(options);
    } catch (const std::exception& error) {
        std::cerr << "elm327-emulator: error: " << error.what() << '\n';
        return 1;
    }
}
