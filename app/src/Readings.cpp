#include "zelt/app/Readings.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <ctime>
#include <iomanip>
#include <sstream>
#include <stdexcept>

#include "obd/IAnswerSnapshot.h"
#include "zelt/ModelBuilders.h"
#include "zelt/app/AdapterStatus.h"
#include "zelt/app/JsonReport.h"
#include "zelt/app/Profiles.h"

namespace zelt::app {

namespace {

using obd::ParameterIdentifier::Id;
using Described = std::vector<std::shared_ptr<ParameterModel>>;

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

}  // namespace

std::vector<Watched> Plan(Session& session, const std::vector<Id>& pids,
                          const std::vector<std::uint32_t>& ecus) {
    std::vector<Watched> watched;
    const auto profile = ProfileOf(session);
    for (std::uint32_t ecu : ecus) {
        session.selectEcu(ecu);  // the repositories forget the previous ECU first
        const auto offered = session.parameters().getPids();
        for (Id pid : pids) {
            if (std::find(offered.begin(), offered.end(), pid) != offered.end()) {
                watched.push_back({pid, ecu, nullptr, {}});
            }
        }
    }
    // A profile parameter comes from its own module, asked by physical
    // addressing whichever ECU is selected; one the module refuses now is
    // watched all the same and shows as missing.
    for (Id pid : pids) {
        if (const obd::ProfileParameter* own = profile ? profile->find(pid) : nullptr) {
            watched.push_back({pid, profile->ecus()[own->ecu].responseId,
                               ParameterModelBuilder::build(pid, own->name, {}), own->unit});
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
            // A bus fault while the supported PIDs were read hides them:
            // the adapter's fault, not the PID's.
            const std::string fault = session.adapterError();
            if (!fault.empty()) {
                throw std::runtime_error("cannot tell whether PID " + PidText(pid) +
                                         " is supported: the adapter reported " + fault);
            }
            throw InputError("unknown PID " + PidText(pid) + ": " +
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
    // One snapshot for the whole reading: the decoded numbers come from the
    // same answers as the records, and one functional request answered by
    // every ECU serves them all.
    const obd::SnapshotScope snapshot(session.root());
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
        const auto read = first ? parameters.getParametersOf(pids) : Described{};
        const auto sensors = first ? std::vector<Sensors>{} : parameters.getValuesOf(pids);
        for (std::size_t k = 0; k < at.size(); ++k) {
            Watched& entry = watched[at[k]];
            if (first && read[k]) {
                entry.description = read[k];
            } else if (first && !entry.description) {  // named when it first answers
                entry.description = std::make_shared<ParameterModel>(
                    entry.pid, "PID " + PidText(entry.pid), Sensors{});
            }
            values[at[k]] = first ? entry.description->sensors : sensors[k];
            reading.numbers[at[k]] = session.decodedNumbers({entry.pid});
        }
    }
    return reading;
}

bool Answered(const Sensors& sensors) {
    return std::any_of(sensors.begin(), sensors.end(),
                       [](const auto& sensor) { return sensor->value != nullptr; });
}

std::string IsoTime() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    // Only one thread asks for the time (the watch's, or the dashboard's
    // reader), so std::gmtime's shared result is safe here, and it is the
    // same on every platform.
    const std::tm utc = *std::gmtime(&seconds);
    std::ostringstream text;
    text << std::put_time(&utc, "%Y-%m-%dT%H:%M:%S") << '.' << std::setw(3) << std::setfill('0')
         << milliseconds << 'Z';
    return text.str();
}

Labels::Labels(const std::vector<Watched>& watched) {
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

std::string Labels::qualifier(const Watched& entry, const std::string& name) const {
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

nlohmann::ordered_json ReadingJson(int number, const std::string& time,
                                   const std::vector<Watched>& watched, const Reading& reading,
                                   UnitSystem units) {
    const auto& values = reading.values;
    nlohmann::ordered_json json{{"reading", number}, {"time", time}};
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < watched.size(); ++i) {
        const auto& parameter = *watched[i].description;
        auto entry = ToJson(*ParameterModelBuilder::build(parameter.pid, parameter.name, values[i]),
                            units, reading.numbers[i], watched[i].unit);
        entry["ecu"] = watched[i].ecu;
        entry["missing"] = !Answered(values[i]);
        list.push_back(entry);
    }
    json["parameters"] = list;
    return json;
}

std::string CsvHeader(const std::vector<Watched>& watched, UnitSystem units) {
    const Labels labels(watched);
    std::string header = "time,reading";
    for (const Watched& entry : watched) {
        const auto& sensors = entry.description->sensors;
        if (sensors.empty()) {  // never answered: one column for the parameter
            header += "," + CsvField(entry.description->name + labels.qualifier(entry, ""));
        }
        for (const auto& sensor : sensors) {
            std::string unit = UnitName(sensor->unit, units);
            if (unit.empty()) {
                unit = entry.unit;
            }
            header += "," + CsvField(sensor->name + (unit.empty() ? "" : " (" + unit + ")") +
                                     labels.qualifier(entry, sensor->name));
        }
    }
    return header + "\n";
}

std::string CsvRow(int number, const std::string& time, const std::vector<Watched>& watched,
                   const Reading& reading, UnitSystem units) {
    const auto& values = reading.values;
    std::string line = time + "," + std::to_string(number);
    for (std::size_t i = 0; i < watched.size(); ++i) {
        // Columns come from the description: a missing sensor leaves its
        // cell empty, and the row keeps its width.
        const auto& columns = watched[i].description->sensors;
        if (columns.empty()) {
            line += "," + CsvField(CsvCell(values[i], nullptr, units, reading.numbers[i]));
        }
        for (const auto& column : columns) {
            line += "," + CsvField(CsvCell(values[i], column, units, reading.numbers[i]));
        }
    }
    return line + "\n";
}

}  // namespace zelt::app
