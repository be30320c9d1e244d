#include "Watch.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <iomanip>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "AdapterStatus.h"
#include "JsonReport.h"
#include "Printable.h"
#include "Profiles.h"
#include "zelt/ModelBuilders.h"

namespace zelt::scan {

namespace {

using obd::ParameterIdentifier::Id;
using Sensors = std::vector<std::shared_ptr<SensorModel>>;

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
    interrupted = 1;
}

// Sleeps `interval` in short steps so that Ctrl-C ends the wait at once.
void Wait(std::chrono::milliseconds interval) {
    const auto until = std::chrono::steady_clock::now() + interval;
    while (interrupted == 0 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            std::chrono::milliseconds(20), until - std::chrono::steady_clock::now()));
    }
}

// Now in ISO 8601, UTC, with milliseconds: 2024-03-05T09:07:02.125Z.
std::string IsoTime() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    // Only the watching thread asks for the time, so std::gmtime's shared
    // result is safe here, and it is the same on every platform.
    const std::tm utc = *std::gmtime(&seconds);
    std::ostringstream text;
    text << std::put_time(&utc, "%Y-%m-%dT%H:%M:%S") << '.' << std::setw(3) << std::setfill('0')
         << milliseconds << 'Z';
    return text.str();
}

// A CSV field (RFC 4180): quoted when it holds a comma, a quote or a line
// break.
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

std::string CsvNumber(double value) {
    std::ostringstream text;
    text << std::setprecision(10) << value;
    return text.str();
}

bool Answered(const Sensors& sensors) {
    return std::any_of(sensors.begin(), sensors.end(),
                       [](const auto& sensor) { return sensor->value != nullptr; });
}

Id ParsePid(const std::string& text) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
    }
    const bool hex = !digits.empty() && digits.size() <= 2 &&
                     std::all_of(digits.begin(), digits.end(), [](char c) {
                         return std::isxdigit(static_cast<unsigned char>(c));
                     });
    if (!hex) {
        throw UsageError("invalid PID '" + Printable(text) +
                         "': give a hexadecimal parameter number such as 0C or 0x0C");
    }
    return static_cast<Id>(std::stoi(digits, nullptr, 16));
}

// What the watched parameters are: the record read once for each, its
// sensors naming the columns.
std::vector<std::shared_ptr<ParameterModel>> Describe(Session& session,
                                                      const std::vector<Id>& pids) {
    auto& parameters = session.parameters();
    const auto supported = parameters.getPids();
    std::vector<std::shared_ptr<ParameterModel>> described;
    const auto profile = ProfileOf(session);
    for (Id pid : pids) {
        const obd::ProfileParameter* own = profile ? profile->find(pid) : nullptr;
        auto description = std::find(supported.begin(), supported.end(), pid) != supported.end()
                               ? parameters.getParameter(pid)
                               : nullptr;
        if (own != nullptr) {
            // A profile names its parameters; one the ECU refuses now is
            // watched all the same and shows as missing.
            description = parameters.getParameter(pid);
            if (!description) {
                description = ParameterModelBuilder::build(pid, own->name, {});
            }
        }
        if (!description) {
            // A vehicle that went away mid-question supports nothing; that
            // is no fault of the PID the user gave.
            const std::string gone = AdapterGone(session);
            if (!gone.empty()) {
                throw std::runtime_error(gone);
            }
            throw UsageError("unknown PID " + PidText(pid) + ": the vehicle does not support it");
        }
        described.push_back(std::move(description));
    }
    return described;
}

std::string CsvHeader(const std::vector<std::shared_ptr<ParameterModel>>& described,
                      UnitSystem units) {
    std::string header = "time,reading";
    for (const auto& parameter : described) {
        for (const auto& sensor : parameter->sensors) {
            const std::string unit = UnitName(sensor->unit, units);
            header += "," + CsvField(sensor->name + (unit.empty() ? "" : " (" + unit + ")"));
        }
    }
    return header + "\n";
}

std::string Line(const WatchOptions& options, int reading, const std::string& time,
                 const std::vector<std::shared_ptr<ParameterModel>>& described,
                 const std::vector<Sensors>& values) {
    std::string line;
    if (options.format == WatchFormat::Json) {
        nlohmann::ordered_json json{{"reading", reading}, {"time", time}};
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (std::size_t i = 0; i < described.size(); ++i) {
            const auto& parameter = *described[i];
            auto entry =
                ToJson(*ParameterModelBuilder::build(parameter.pid, parameter.name, values[i]),
                       options.units);
            entry["missing"] = !Answered(values[i]);
            list.push_back(entry);
        }
        json["parameters"] = list;
        std::ostringstream text;
        WriteJson(json, text, -1);
        return text.str();
    }
    if (options.format == WatchFormat::Csv) {
        line = time + "," + std::to_string(reading);
        for (std::size_t i = 0; i < described.size(); ++i) {
            // Columns come from the description: a missing sensor leaves its
            // cell empty, and the row keeps its width.
            for (const auto& column : described[i]->sensors) {
                const auto found =
                    std::find_if(values[i].begin(), values[i].end(),
                                 [&](const auto& sensor) { return sensor->uid == column->uid; });
                std::string cell;
                if (found != values[i].end()) {
                    const Quantity quantity = Present(**found, options.units);
                    cell = quantity.number ? CsvNumber(*quantity.number) : quantity.text;
                }
                line += "," + CsvField(cell);
            }
        }
        return line + "\n";
    }
    line = "#" + std::to_string(reading) + " " + time;
    for (std::size_t i = 0; i < described.size(); ++i) {
        if (!Answered(values[i])) {
            line += "  " + Printable(described[i]->name) + ": missing";
            continue;
        }
        for (const auto& sensor : values[i]) {
            line += "  " + Printable(sensor->name) + ": " +
                    Printable(SensorValueText(*sensor, options.units));
        }
    }
    return line + "\n";
}

void Write(std::ostream& out, const std::string& text) {
    errno = 0;
    out << text;
    out.flush();
    if (!out) {
        throw std::runtime_error(std::string("cannot write the readings") +
                                 (errno != 0 ? std::string(": ") + std::strerror(errno) : ""));
    }
}

}  // namespace

std::vector<Id> ParsePidList(const std::string& list) {
    std::vector<Id> pids;
    std::stringstream stream(list);
    std::string item;
    while (std::getline(stream, item, ',')) {
        pids.push_back(ParsePid(item));
    }
    if (pids.empty()) {
        throw UsageError("--watch needs at least one PID");
    }
    return pids;
}

void Watch(Session& session, const WatchOptions& options, std::ostream& out,
           std::ostream& warnings) {
    const auto described = Describe(session, options.pids);
    if (options.format == WatchFormat::Csv) {
        Write(out, CsvHeader(described, options.units));
    }
    interrupted = 0;
    const auto previous = std::signal(SIGINT, OnInterrupt);
    struct Restore {
        decltype(previous) handler;
        ~Restore() { std::signal(SIGINT, handler); }
    } restore{previous};

    for (int reading = 1; options.count == 0 || reading <= options.count; ++reading) {
        if (reading > 1) {
            Wait(options.interval);
        }
        if (interrupted != 0) {
            break;
        }
        const std::string time = IsoTime();
        // One call for every watched PID: on CAN up to six travel in one
        // request.
        const std::vector<Sensors> values = session.parameters().getValuesOf(options.pids);
        // The reading during which the adapter went is empty, not data.
        if (!AdapterGone(session).empty()) {
            return;
        }
        for (std::size_t i = 0; i < described.size(); ++i) {
            if (!Answered(values[i])) {
                const std::string why = MissingReason(session, described[i]->pid);
                warnings << "zelt-scan: warning: reading " << reading << ": no answer for "
                         << (why.empty() ? "PID " + PidText(described[i]->pid) + " (" +
                                               Printable(described[i]->name) + ")"
                                         : Printable(described[i]->name) + ": " + Printable(why))
                         << "\n";
            }
        }
        Write(out, Line(options, reading, time, described, values));
    }
}

}  // namespace zelt::scan
