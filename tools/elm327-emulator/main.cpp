// elm327-emulator: serves the simulated vehicle behind an emulated ELM327
// adapter on 127.0.0.1, one client at a time, as a Wi-Fi adapter does.

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "elm327/Emulator.h"
#include "obd/sim/Scenario.h"
#include "sim/SimulatedBus.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace {

struct Options {
    int port = 35000;
    std::string scenario;
    int latencyMs = 0;
    int bytesPerSecond = 0;
    bool once = false;
    int dropAfter = 0;
};

#ifndef _WIN32

// Serves one client until it closes the connection.
// With `dropAfter`, hangs up after that many commands, as an adapter that
// loses power does.
void Serve(int client, obd::elm327::Emulator& emulator, int dropAfter) {
    char buffer[1024];
    int commands = 0;
    for (;;) {
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            commands += buffer[i] == '\r' ? 1 : 0;
        }
        if (dropAfter > 0 && commands >= dropAfter) {
            return;
        }
        const std::string answer = emulator.receive(std::string(buffer, static_cast<std::size_t>(n)));
        std::size_t sent = 0;
        while (sent < answer.size()) {
            const ssize_t m = ::send(client, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
            if (m <= 0) {
                return;
            }
            sent += static_cast<std::size_t>(m);
        }
    }
}

int Run(const Options& options) {
    const auto scenario = options.scenario.empty() ? obd::sim::Scenario::builtIn()
                                                   : obd::sim::Scenario::loadFile(options.scenario);
    const auto& model = *scenario.model();
    obd::sim::SimulatedBus vehicle(model);
    obd::elm327::EmulatorOptions emulated;
    emulated.vehicleProtocol = model.protocol;
    emulated.identification = model.adapter.identification;
    emulated.description = model.adapter.description;
    emulated.latency = std::chrono::milliseconds(options.latencyMs);
    emulated.bytesPerSecond = options.bytesPerSecond;

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
        ::listen(server, 1) != 0) {
        const std::string why = std::strerror(errno);
        ::close(server);
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(options.port) + ": " + why);
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
        obd::elm327::Emulator emulator(vehicle, emulated);  // a fresh adapter per client
        vehicle.restartClock();
        Serve(client, emulator, options.dropAfter);
        ::close(client);
    } while (!options.once);
    ::close(server);
    return 0;
}

#else

int Run(const Options&) {
    std::cerr << "elm327-emulator: error: this build cannot serve TCP\n";
    return 1;
}

#endif

}  // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app{"elm327-emulator: a simulated vehicle behind an emulated ELM327 adapter on 127.0.0.1",
                 "elm327-emulator"};
    app.add_option("--port", options.port, "TCP port; 0 picks a free one (printed)")
        ->check(CLI::Range(0, 65535));
    app.add_option("--scenario", options.scenario, "Serve the simulated vehicle described in FILE")
        ->type_name("FILE");
    app.add_option("--latency", options.latencyMs, "Milliseconds the adapter takes per vehicle request")
        ->check(CLI::Range(0, 60000))
        ->type_name("MS");
    app.add_option("--bytes-per-second", options.bytesPerSecond,
                   "Limit the answers' throughput, e.g. 3840 for 38400 baud; 0 for none")
        ->check(CLI::Range(0, 10000000));
    app.add_option("--drop-after", options.dropAfter, "Hang up on the client at its Nth command")
        ->check(CLI::Range(0, 1000000))
        ->type_name("N");
    app.add_flag("--once", options.once, "Exit when the first client disconnects");
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
