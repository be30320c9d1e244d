#include "Watch.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <ctime>
#include <iomanip>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "AdapterStatus.h"
#include "JsonReport.h"
#include "Printable.h"
#include "obd/IAnswerSnapshot.h"
#include "zelt/ModelBuilders.h"

namespace zelt::scan {

namespace {

using obd::ParameterIdentifier::Id;
using Sensors = std::vector<std::shared_ptr<SensorModel>>;
using Described = std::vector<std::shared_ptr<ParameterModel>>;

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

// The shortest text that reads back as the same double: a spreadsheet gets
// the decoded value, not a rounded one.
std::string CsvNumber(double value) {
    std::array<char, 32> buffer{};
    const auto written = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), written.ptr);
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
        throw UsageError("invalid PID " + Quoted(text) +
                         ": give a hexadecimal parameter number such as 0C or 0x0C");
    }
    return static_cast<Id>(std::stoi(digits, nullptr, 16));
}

// One watched parameter of one ECU: what its first reading named it (a
// placeholder without sensors when that reading had no answer).
struct Watched {
    Id pid;
    std::uint32_t ecu;
    std::shared_ptr<ParameterModel> description;
};

// One reading of every watched parameter, and the exact decoded numbers
// of each (by sensor id), from the same answers.
struct Reading {
    std::vector<Sensors> values;
    std::vector<DecodedNumbers> numbers;
};

// Which of `pids` each of `ecus` offers, in the order given: every PID once
// per ECU that offers it.
std::vector<Watched> Plan(Session& session, const std::vector<Id>& pids,
                          const std::vector<std::uint32_t>& ecus) {
    std::vector<Watched> watched;
    for (std::uint32_t ecu : ecus) {
        session.selectEcu(ecu);  // the repositories forget the previous ECU first
        const auto offered = session.parameters().getPids();
        for (Id pid : pids) {
            if (std::find(offered.begin(), offered.end(), pid) != offered.end()) {
                watched.push_back({pid, ecu, nullptr});
            }
        }
    }
    // A vehicle that went away mid-question offers nothing; that is no fault
    // of the PIDs the user gave.
    const std::string gone = AdapterGone(session);
    if (!gone.empty()) {
        throw std::runtime_error(gone);
    }
    for (Id pid : pids) {
        if (std::none_of(watched.begin(), watched.end(),
                         [pid](const Watched& entry) { return entry.pid == pid; })) {
            throw UsageError("unknown PID " + PidText(pid) + ": " +
                             (ecus.size() == 1 ? "ECU " + EcuAddressText(ecus.front()) + " does"
                                               : std::string("the vehicle does")) +
                             " not support it");
        }
    }
    std::stable_sort(watched.begin(), watched.end(), [&](const Watched& a, const Watched& b) {
        return std::find(pids.begin(), pids.end(), a.pid) <
               std::find(pids.begin(), pids.end(), b.pid);
    });
    return watched;
}

// Reads every watched parameter now, each ECU's together (on CAN up to six
// PIDs to a request). The first reading also names the parameters.
Reading Read(Session& session, std::vector<Watched>& watched, bool first) {
    Reading reading{std::vector<Sensors>(watched.size()),
                    std::vector<DecodedNumbers>(watched.size())};
    auto& values = reading.values;
    std::vector<std::uint32_t> ecus;
    for (const Watched& entry : watched) {
        if (std::find(ecus.begin(), ecus.end(), entry.ecu) == ecus.end()) {
            ecus.push_back(entry.ecu);
        }
    }
    for (std::uint32_t ecu : ecus) {
        std::vector<std::size_t> at;
        std::vector<Id> pids;
        for (std::size_t i = 0; i < watched.size(); ++i) {
            if (watched[i].ecu == ecu) {
                at.push_back(i);
                pids.push_back(watched[i].pid);
            }
        }
        session.selectEcu(ecu);  // the repositories forget the previous ECU first
        auto& parameters = session.parameters();
        // The snapshot lets the decoded numbers come from the same answers.
        const obd::SnapshotScope snapshot(session.root());
        const auto read = first ? parameters.getParametersOf(pids) : Described{};
        const auto sensors = first ? std::vector<Sensors>{} : parameters.getValuesOf(pids);
        const DecodedNumbers numbers = session.decodedNumbers(pids);
        for (std::size_t k = 0; k < at.size(); ++k) {
            Watched& entry = watched[at[k]];
            if (first) {
                entry.description = read[k]
                                        ? read[k]
                                        : std::make_shared<ParameterModel>(
                                              entry.pid, "PID " + PidText(entry.pid), Sensors{});
            }
            values[at[k]] = first ? entry.description->sensors : sensors[k];
            reading.numbers[at[k]] = numbers;
        }
    }
    return reading;
}

// How a column or a value is told from the others: the PID where another
// watched parameter has a sensor of the same name, the ECU where the watch
// reads several. Empty when the name alone is clear.
class Labels {
public:
    explicit Labels(const std::vector<Watched>& watched) {
        for (const Watched& entry : watched) {
            severalEcus_ = severalEcus_ || entry.ecu != watched.front().ecu;
            for (const auto& sensor : entry.description->sensors) {
                auto& pids = pidsOfName_[sensor->name];
                if (std::find(pids.begin(), pids.end(), entry.pid) == pids.end()) {
                    pids.push_back(entry.pid);
                }
            }
        }
    }

    std::string qualifier(const Watched& entry, const std::string& name) const {
        std::vector<std::string> parts;
        const auto pids = pidsOfName_.find(name);
        if (pids != pidsOfName_.end() && pids->second.size() > 1) {
            parts.push_back("PID " + PidText(entry.pid));
        }
        if (severalEcus_) {
            parts.push_back("ECU " + EcuAddressText(entry.ecu));
        }
        std::string text;
        for (const auto& part : parts) {
            text += (text.empty() ? " [" : "; ") + part;
        }
        return text.empty() ? text : text + "]";
    }

    bool severalEcus() const { return severalEcus_; }

private:
    bool severalEcus_ = false;
    std::map<std::string, std::vector<Id>> pidsOfName_;
};

std::string CsvHeader(const std::vector<Watched>& watched, const Labels& labels, UnitSystem units) {
    std::string header = "time,reading";
    for (const Watched& entry : watched) {
        const auto& sensors = entry.description->sensors;
        if (sensors.empty()) {  // never answered: one column for the parameter
            header += "," + CsvField(entry.description->name + labels.qualifier(entry, ""));
        }
        for (const auto& sensor : sensors) {
            const std::string unit = UnitName(sensor->unit, units);
            header += "," + CsvField(sensor->name + (unit.empty() ? "" : " (" + unit + ")") +
                                     labels.qualifier(entry, sensor->name));
        }
    }
    return header + "\n";
}

std::string CsvCell(const Sensors& values, const std::shared_ptr<SensorModel>& column,
                    UnitSystem units, const DecodedNumbers& numbers) {
    const auto found = std::find_if(values.begin(), values.end(), [&](const auto& sensor) {
        return column == nullptr || sensor->uid == column->uid;
    });
    if (found == values.end()) {
        return {};
    }
    const Quantity quantity = Present(**found, units, numbers);
    return quantity.number ? CsvNumber(*quantity.number) : quantity.text;
}

std::string Line(const WatchOptions& options, int reading, const std::string& time,
                 const std::vector<Watched>& watched, const Labels& labels, const Reading& now) {
    const auto& values = now.values;
    std::string line;
    if (options.format == WatchFormat::Json) {
        nlohmann::ordered_json json{{"reading", reading}, {"time", time}};
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (std::size_t i = 0; i < watched.size(); ++i) {
            const auto& parameter = *watched[i].description;
            auto entry =
                ToJson(*ParameterModelBuilder::build(parameter.pid, parameter.name, values[i]),
                       options.units, now.numbers[i]);
            entry["ecu"] = watched[i].ecu;
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
        for (std::size_t i = 0; i < watched.size(); ++i) {
            // Columns come from the description: a missing sensor leaves its
            // cell empty, and the row keeps its width.
            const auto& columns = watched[i].description->sensors;
            if (columns.empty()) {
                line += "," + CsvField(CsvCell(values[i], nullptr, options.units, now.numbers[i]));
            }
            for (const auto& column : columns) {
                line += "," + CsvField(CsvCell(values[i], column, options.units, now.numbers[i]));
            }
        }
        return line + "\n";
    }
    line = "#" + std::to_string(reading) + " " + time;
    for (std::size_t i = 0; i < watched.size(); ++i) {
        if (!Answered(values[i])) {
            line += "  " + Printable(watched[i].description->name) +
                    labels.qualifier(watched[i], "") + ": missing";
            continue;
        }
        for (const auto& sensor : values[i]) {
            line += "  " + Printable(sensor->name) + labels.qualifier(watched[i], sensor->name) +
                    ": " + Printable(SensorValueText(*sensor, options.units));
        }
    }
    return line + "\n";
}

void Write(std::ostream& out, const std::string& text) {
    errno = 0;
    out << text;
    out.flush();
    if (!out && errno == EPIPE) {
        throw ReaderGone("the reader of the readings went away");
    }
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
        const Id pid = ParsePid(item);
        if (std::find(pids.begin(), pids.end(), pid) == pids.end()) {  // read once
            pids.push_back(pid);
        }
    }
    if (pids.empty()) {
        throw UsageError("--watch needs at least one PID");
    }
    return pids;
}

void Watch(Session& session, const WatchOptions& options, std::ostream& out,
           std::ostream& warnings) {
    auto watched =
        Plan(session, options.pids, options.ecus.empty() ? session.ecuAddresses() : options.ecus);
    interrupted = 0;
    const auto previous = std::signal(SIGINT, OnInterrupt);
    struct Restore {
        decltype(previous) handler;
        ~Restore() { std::signal(SIGINT, handler); }
    } restore{previous};

    std::optional<Labels> labels;
    for (int reading = 1; options.count == 0 || reading <= options.count; ++reading) {
        if (reading > 1) {
            Wait(options.interval);
        }
        if (interrupted != 0) {
            break;
        }
        const std::string time = IsoTime();
        const Reading now = Read(session, watched, reading == 1);
        const auto& values = now.values;
        // The reading during which the adapter went is empty, not data.
        if (!AdapterGone(session).empty()) {
            return;
        }
        if (!labels) {
            labels.emplace(watched);
            if (options.format == WatchFormat::Csv) {
                Write(out, CsvHeader(watched, *labels, options.units));
            }
        }
        for (std::size_t i = 0; i < watched.size(); ++i) {
            if (!Answered(values[i])) {
                warnings << "zelt-scan: warning: reading " << reading << ": no answer for PID "
                         << PidText(watched[i].pid) << " ("
                         << Printable(watched[i].description->name) << ")"
                         << (labels->severalEcus() ? " from ECU " + EcuAddressText(watched[i].ecu)
                                                   : std::string())
                         << "\n";
            }
        }
        Write(out, Line(options, reading, time, watched, *labels, now));
    }
}

}  // namespace zelt::scan
