// Logs live data of the simulated vehicle to CSV on stdout until interrupted
// (Ctrl-C): a header row, then one row per reading with a UTC timestamp and
// one column per sensor of the chosen parameters.
//
//   log-live-data [--interval MS] PID...      e.g. log-live-data 0C 0D 05
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "obd/sim/SimulatedQuorvix.h"
#include "zelt/MeasurementUnitNames.h"
#include "zelt/ParameterRepository.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
    interrupted = 1;
}

// A CSV field: quoted when it holds a separator, a quote or a line break.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

// ISO 8601 in UTC with milliseconds, e.g. 2024-05-01T12:00:00.250Z.
std::string Timestamp(std::chrono::system_clock::time_point now) {
    const auto since = now.time_since_epoch();
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count() % 1000;
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", std::gmtime(&seconds));
    char withMilliseconds[40];
    std::snprintf(withMilliseconds, sizeof withMilliseconds, "%s.%03dZ", text,
                  static_cast<int>(milliseconds));
    return withMilliseconds;
}

// The columns of one parameter: its sensors' ids, in the core's order.
struct Columns {
    obd::ParameterIdentifier::Id pid;
    std::vector<std::int32_t> sensorUids;
};

std::string Hex(obd::ParameterIdentifier::Id pid) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(pid));
    return text;
}

int Usage(const std::string& problem) {
    std::cerr << "log-live-data: " << problem << "\nusage: log-live-data [--interval MS] PID...\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int intervalMs = 1000;
    std::vector<obd::ParameterIdentifier::Id> pids;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        try {
            if (arg == "--interval" && i + 1 < argc) {
                const std::string value = argv[++i];
                std::size_t used = 0;
                intervalMs = std::stoi(value, &used);
                if (used != value.size()) {
                    return Usage("not a number: " + value);
                }
            } else {
                std::size_t used = 0;
                const int pid = std::stoi(arg, &used, 16);
                if (used != arg.size() || pid < 0 || pid > 0xFF) {
                    return Usage("not a PID: " + arg);
                }
                pids.push_back(static_cast<obd::ParameterIdentifier::Id>(pid));
            }
        } catch (const std::exception&) {
            return Usage("not a number: " + std::string(argv[i]));
        }
    }
    if (pids.empty() || intervalMs < 0) {
        return Usage(pids.empty() ? "no PID given" : "the interval cannot be negative");
    }

    // zelt's part: the core's root over the simulated vehicle, an open
    // connection and the repository of live parameters.
    auto vehicle = obd::sim::SimulatedQuorvix::create();
    if (!vehicle->openConnection()) {
        std::cerr << "log-live-data: the vehicle did not answer\n";
        return 1;
    }
    zelt::ParameterRepository parameters(vehicle);

    // The header: one column per sensor, with its unit.
    std::vector<Columns> columns;
    std::string header = "time";
    for (const auto pid : pids) {
        const auto parameter = parameters.getParameter(pid);
        if (!parameter) {
            std::cerr << "log-live-data: the vehicle does not offer PID " << Hex(pid) << '\n';
            return 1;
        }
        columns.push_back({pid, {}});
        for (const auto& sensor : parameter->sensors) {
            const std::string unit = zelt::ConvertMeasurementUnitToString(sensor->unit);
            header +=
                ',' + CsvField(unit.empty() ? sensor->name : sensor->name + " (" + unit + ")");
            columns.back().sensorUids.push_back(sensor->uid);
        }
    }
    std::cout << header << '\n';

    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    while (!interrupted) {
        std::string row = Timestamp(std::chrono::system_clock::now());
        for (const auto& parameter : columns) {
            // Read now, whatever the cache holds; no answer leaves the cells empty.
            const auto values = parameters.getValues(parameter.pid, true);
            if (values.empty()) {
                std::cerr << "log-live-data: no answer for PID " << Hex(parameter.pid) << '\n';
            }
            for (const auto uid : parameter.sensorUids) {
                std::string cell;
                for (const auto& sensor : values) {
                    if (sensor->uid == uid && sensor->value) {
                        cell = sensor->value->rawValue;
                    }
                }
                row += ',' + CsvField(cell);
            }
        }
        std::cout << row << std::endl;  // flushed, so the file is whole when interrupted
        for (int waited = 0; waited < intervalMs && !interrupted; waited += 10) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return 0;
}
